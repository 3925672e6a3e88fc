// Fetches one file from a web server into a local file with a single
// HTTP/1.1 GET, resuming a partial local file with a byte range.
//
//   CNetworkHTTP http;
//   http.SetStopFlag(&stopRequested);      // optional, set from any thread
//   http.SetProgress([](int64_t done, int64_t total) { ... });  // optional
//   int result = http.Download("http://host:8080/dir/file.zip", "C:\\game\\_temp\\file.zip");
//
// Download makes at most two attempts; the second resumes from whatever the
// first one wrote; an attempt cut for being too slow gets no second one here
// (see Stalled()). Every receive goes through the process's download limiter.
// On return the object holds no file, buffer or socket.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/http_chunked.h"
#include "net/http_header.h"
#include "net/transfer_control.h"
#include "platform/byte_sink.h"

class CNetworkSocket;

// Results of CNetworkHTTP::Download.
namespace http_result {
constexpr int kOk = 0;
constexpr int kLocalFile = 1;      // the local file cannot be opened, created or measured
constexpr int kUnknownHost = 3;    // the host cannot be resolved, or the URL is unusable
constexpr int kNoConnection = 4;   // no socket, or no connection after three connect attempts
constexpr int kTransferFailed = 5; // both attempts failed (or the download was stopped)
}  // namespace http_result

constexpr int kHttpAttempts = 2;
// Redirects (301, 302, 303, 307, 308) one attempt follows before it fails.
constexpr int kMaxHttpRedirects = 5;
// Body bytes go from this buffer straight into the file. 64 KiB keeps the
// calls per megabyte low enough to match curl on a fast link.
constexpr size_t kHttpReceiveBufferBytes = 64 * 1024;

class CNetworkHTTP {
public:
    CNetworkHTTP() = default;
    virtual ~CNetworkHTTP();
    CNetworkHTTP(const CNetworkHTTP&) = delete;
    CNetworkHTTP& operator=(const CNetworkHTTP&) = delete;

    // Downloads url ("http://" host [":" port] path, the path starting with
    // "/" or "\") into localPath (UTF-8), continuing a partial file.
    // What is left on disk: the whole file (0); nothing new (1); the local
    // file, created empty if missing (3, 4); the bytes received so far, or no
    // file when the last attempt was answered 416 (5). A URL without a path
    // separator or longer than the request buffers gives 3 and touches no
    // file. Every failed attempt writes its reason to the journal.
    [[nodiscard]] int Download(const std::string& url, const std::string& localPath);

    // A flag owned by the caller; once it is true, a running Download gives
    // up within about kStopPollMs and returns a failure without retrying.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop.SetExternal(stop); }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // Hears of every piece written to the local file, at its offset.
    void SetWriteTap(WriteTapFn tap) { m_tap = std::move(tap); }
    // The largest file this download may give (the client's own limit is
    // kMaxHttpFileBytes): an answer that announces more is refused before a
    // byte is written, one without a length as soon as it grows past it.
    void SetByteCap(int64_t maxBytes) { m_byteCap = maxBytes; }
    // How slow an answer may get before the attempt counts as stalled.
    void SetStallPolicy(const StallPolicy& policy) { m_stallPolicy = policy; }
    // Stops a running Download from another thread: the request stays set
    // (later Downloads on this object fail too) and the open connection is
    // shut down so that a blocked receive returns at once.
    void Cancel();
    // True when the last Download failed because the server answered 404:
    // the file is not there, as opposed to a server or network fault.
    [[nodiscard]] bool NotFound() const { return m_bNotFound; }
    // True when the last Download failed because the answer stalled: too
    // few bytes over a stall window (such an attempt is not repeated at once,
    // the caller decides when to resume), or none at all in both attempts.
    [[nodiscard]] bool Stalled() const { return m_bStalled; }

private:
    enum class Header { kIncomplete, kComplete, kRangeRefused, kRedirect, kRefused };
    // How the body's end is known: Content-Length (or a Content-Range over a
    // close-delimited body), the last chunk, or only the server's close.
    enum class Framing { kLength, kChunked, kClose };
    class BodySink;

    [[nodiscard]] int Attempt(const HttpUrlParts& start, const std::string& localPath, int attempt);
    [[nodiscard]] int Exchange(const HttpUrlParts& parts, int* transferOut);
    [[nodiscard]] int OpenLocalFile(const std::string& localPath);
    [[nodiscard]] std::string BuildRequest(const HttpUrlParts& parts) const;
    [[nodiscard]] int Transfer(const std::string& request, CNetworkSocket& socket);
    [[nodiscard]] int TakeBody(const char* data, size_t size);
    [[nodiscard]] int OnClose(bool headerComplete);
    [[nodiscard]] Header CollectHeader(const char* data, size_t size, size_t* bodyOffsetOut);
    [[nodiscard]] int ParseStatus(size_t headerEnd);
    [[nodiscard]] int TakeRedirect(size_t headerEnd);
    [[nodiscard]] bool ReadFraming(size_t headerEnd, int64_t* lengthOut);
    [[nodiscard]] bool CheckRange(size_t headerEnd, int64_t* lengthInOut);
    [[nodiscard]] bool RewriteFromStart();
    [[nodiscard]] bool WriteBody(const char* data, size_t size);
    [[nodiscard]] int Finish();
    [[nodiscard]] int64_t Limit() const;
    [[nodiscard]] std::string FieldText(size_t headerEnd, const char* name) const;
    // Keeps why the attempt failed, for the journal; gives false.
    bool Refuse(const std::string& why);
    void StartExchange(const HttpUrlParts& parts);
    void Reset();

    std::vector<char> m_header;  // response bytes until the header's end was found
    UniqueFile m_hFile;          // the local file during an attempt
    int64_t m_nReceived = 0;     // bytes in the local file
    int64_t m_nTotal = 0;        // size the file must reach; -1 while unknown (no length announced)
    Framing m_framing = Framing::kLength;
    ChunkedDecoder m_chunked;
    HttpUrlParts m_parts;        // where the running request went
    HttpUrlParts m_redirect;     // where a redirect answer points
    std::string m_failure;       // why the running attempt failed
    int64_t m_byteCap = kMaxHttpFileBytes;
    StallPolicy m_stallPolicy;
    StopToken m_stop;
    ActiveSockets m_active;
    ProgressFn m_progress;
    WriteTapFn m_tap;
    bool m_bNotFound = false;
    bool m_bStalled = false;
    bool m_bTooSlow = false;  // the stall watch cut the last attempt
};
