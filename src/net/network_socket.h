// The blocking TCP layer beneath the download clients: one IPv4 stream
// connection with fixed time-outs and a retried connect, and the host-name
// resolver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/byte_stream.h"
#include "net/socket_port.h"

class RateLimiter;
class StopToken;

constexpr int kSocketTimeoutMs = 5000;     // each send and each receive
constexpr int kConnectAttempts = 3;
constexpr int kConnectPauseMs = 1000;      // after every failed attempt, the last one too
constexpr int kConnectTimeoutMs = 20000;   // one attempt, like the system's own limit
constexpr size_t kReplyBufferSize = 1024;  // callers' reply buffers
constexpr size_t kReplyRoom = 1000;        // what ReceiveReply fills at most; the rest stays zero
constexpr size_t kHostTextSize = 52;       // dotted address text with its terminator
constexpr size_t kHostNameSize = 256;      // host name with its terminator
constexpr int kDefaultHttpPort = 80;

// Result values of Open, SendAll, ReceiveReply and ExpectReply.
constexpr int kSocketOk = 0;
constexpr int kSocketFailed = 1;

using ReplyBuffer = char[kReplyBufferSize];

class CNetworkSocket : public IByteStream {
public:
    CNetworkSocket() = default;
    ~CNetworkSocket() override;
    CNetworkSocket(const CNetworkSocket&) = delete;
    CNetworkSocket& operator=(const CNetworkSocket&) = delete;

    // Waits (connect, pauses, receives) also end when this token asks for a
    // stop. The token must outlive the socket's use.
    void SetStopToken(const StopToken* stop) { m_stop = stop; }
    // How long each Receive waits for data; kSocketTimeoutMs unless set.
    void SetReceiveWait(int waitMs) { m_receiveWaitMs = waitMs; }
    // Every Receive first asks the limiter how many bytes it may take (a
    // download's data connection); the limiter must outlive the socket's use.
    void SetRateLimiter(RateLimiter* limiter) { m_limiter = limiter; }

    // Connects to a dotted IPv4 address (no name lookup) with up to three
    // attempts. 0 = connected, 1 = failed. An address text longer than 51
    // characters, one that is not dotted IPv4, or a port outside 1..65535 is
    // refused without an attempt.
    [[nodiscard]] int Open(const char* host, int port);
    // Sends every byte; 0 = all sent (nothing to send counts as sent), 1 = a
    // send failed (what went before stays sent).
    [[nodiscard]] int SendAll(const char* data, int length) override;
    // Sends a text without its terminator. Callers may ignore the result: a
    // lost command shows up as a missing or wrong reply.
    int SendText(const std::string& text);
    // Reads one server reply into a zeroed buffer: up to and including the
    // first received piece that brings a line feed, at most kReplyRoom bytes.
    // 0 = data arrived, 1 = closed, failed or timed out before that.
    [[nodiscard]] int ReceiveReply(ReplyBuffer& buffer);
    // Zeroes the buffer, reads a reply and compares its leading decimal
    // number with code. 0 = equal, 1 = different or nothing received. The
    // reply stays in the buffer.
    [[nodiscard]] int ExpectReply(ReplyBuffer& buffer, int code);
    // One receive of at most capacity bytes after waiting up to the receive
    // wait: the count, 0 when the peer closed, -1 on an error,
    // a time-out or a stop request.
    [[nodiscard]] long Receive(char* buffer, size_t capacity) override;
    // Why the last Receive gave -1, for the log: "no data for 5000 ms",
    // "stopped" or "receive error".
    [[nodiscard]] std::string ReceiveFailureText() const override;
    // True when the last Receive gave -1 because no data came in the wait.
    [[nodiscard]] bool ReceiveTimedOut() const override {
        return m_lastWait == socket_port::WaitResult::kTimedOut;
    }

    [[nodiscard]] bool IsOpen() const;
    // Releases the socket; the object is idle afterwards.
    void Close();
    // Ends both directions of the connection but keeps the handle, so that a
    // thread blocked in Receive returns. Safe to call from another thread
    // while the owner keeps this object alive.
    void Shutdown();

    const char* Host() const { return m_szHost; }
    int Port() const { return m_nPort; }

private:
    [[nodiscard]] bool Connect();
    [[nodiscard]] bool CreateConfigured();
    [[nodiscard]] bool PauseAfterFailedConnect() const;
    [[nodiscard]] bool StopRequested() const;

    mutable std::mutex m_handleMutex;  // Close against a Shutdown from another thread
    socket_port::SocketHandle m_hSocket = socket_port::kNoSocket;
    char m_szHost[kHostTextSize] = {};
    int32_t m_nPort = 0;
    const StopToken* m_stop = nullptr;
    RateLimiter* m_limiter = nullptr;
    int m_receiveWaitMs = kSocketTimeoutMs;
    socket_port::WaitResult m_lastWait = socket_port::WaitResult::kReady;
};

// Leading decimal number of a reply, read like "%d"; -1 when the reply does
// not start with one.
[[nodiscard]] int ParseReplyCode(const char* text, size_t size);

// Strict dotted IPv4 text ("a.b.c.d", each 0..255) to a host-order address.
[[nodiscard]] bool ParseDottedIpv4(const std::string& text, uint32_t* addressOut);

// Splits "name" or "name:port". A missing or unreadable number keeps
// defaultPort. False when the name is empty or longer than 255 characters,
// or the port is outside 1..65535.
[[nodiscard]] bool SplitHostPort(const std::string& text, std::string* nameOut, int* portOut,
                                 int defaultPort = kDefaultHttpPort);

// Resolves "name" or "name:port" to the host's first IPv4 address as dotted
// text. 0 = resolved, 1 = unknown host or a text that SplitHostPort refuses.
[[nodiscard]] int ResolveHost(const std::string& name, int* portOut, std::string* addressOut,
                              int defaultPort = kDefaultHttpPort);
