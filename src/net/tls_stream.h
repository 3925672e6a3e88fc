// An https connection: a TLS session over one of our own sockets, read and
// written like the plain socket, so that the HTTP client's resume, byte caps
// and stall watch work on it unchanged.
//
//   CTlsStream tls(&socket, stallPolicy);
//   if (!tls.Handshake("update.example.com")) log tls.FailureText();
//   tls.SendAll(request...); tls.Receive(buffer, size);
//
// The stall watch runs here as well, over the encrypted bytes: a server that
// drips one record a byte at a time never hands the client a plain byte, so
// the client's own watch would never see it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/byte_stream.h"
#include "net/tls_port.h"
#include "net/transfer_control.h"

class CNetworkSocket;

class CTlsStream : public IByteStream, private ITlsTransport {
public:
    // socket is connected and must outlive this object.
    CTlsStream(CNetworkSocket* socket, const StallPolicy& policy);
    ~CTlsStream() override;
    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    // The handshake with hostName's checks; false with Fault() and
    // FailureText() set.
    [[nodiscard]] bool Handshake(const std::string& hostName);
    [[nodiscard]] TlsFault Fault() const { return m_fault; }
    // Why the handshake failed, for the log: the fault's reason with the
    // library's or the socket's own words.
    [[nodiscard]] std::string FailureText() const;

    [[nodiscard]] int SendAll(const char* data, int length) override;
    [[nodiscard]] long Receive(char* buffer, size_t capacity) override;
    [[nodiscard]] std::string ReceiveFailureText() const override { return m_detail; }
    [[nodiscard]] bool ReceiveTimedOut() const override { return m_timedOut; }
    [[nodiscard]] bool ReceiveStalled() const override { return m_stalled; }

private:
    [[nodiscard]] long RawReceive(char* buffer, size_t capacity) override;
    [[nodiscard]] bool RawSend(const char* data, size_t size) override;
    [[nodiscard]] long ReceiveAhead();
    [[nodiscard]] bool WholeRecordAhead() const;

    CNetworkSocket* m_socket;
    StallWatch m_watch;
    // Encrypted bytes taken from the socket ahead of the session's reads: a
    // session asks for a record's header and then its body, and one receive
    // call for several records keeps the calls per megabyte as over http.
    std::vector<char> m_ahead;
    size_t m_aheadStart = 0;
    size_t m_aheadEnd = 0;
    std::unique_ptr<ITlsSession> m_session;
    TlsFault m_fault = TlsFault::kNone;
    std::string m_detail;      // the last failure's own words
    bool m_rawFailed = false;  // the last failure was the socket's, not the session's
    bool m_timedOut = false;
    bool m_stalled = false;
};

// The fault's reason for the log and the player's status line, in English
// like the clients' other reasons: "the certificate has expired".
[[nodiscard]] std::string TlsFaultText(TlsFault fault);
