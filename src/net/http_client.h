// Fetches one file from a web server into a local file with a single
// HTTP/1.1 GET, resuming a partial local file with a byte range.
//
//   CNetworkHTTP http;
//   http.SetStopFlag(&stopRequested);      // optional, set from any thread
//   http.SetProgress([](int64_t done, int64_t total) { ... });  // optional
//   int result = http.Download("http://host:8080/dir/file.zip", "C:\\game\\_temp\\file.zip");
//
// Download makes at most two attempts; the second resumes from whatever the
// first one wrote. On return the object holds no file, buffer or socket.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/byte_sink.h"
#include "net/http_header.h"
#include "net/transfer_control.h"

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
    // file.
    [[nodiscard]] int Download(const std::string& url, const std::string& localPath);

    // A flag owned by the caller; once it is true, a running Download gives
    // up within about kStopPollMs and returns a failure without retrying.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop.SetExternal(stop); }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // Stops a running Download from another thread: the request stays set
    // (later Downloads on this object fail too) and the open connection is
    // shut down so that a blocked receive returns at once.
    void Cancel();
    // True when the last Download failed because the server answered 404:
    // the file is not there, as opposed to a server or network fault.
    [[nodiscard]] bool NotFound() const { return m_bNotFound; }

private:
    enum class Header { kIncomplete, kComplete, kRangeRefused, kRefused };

    [[nodiscard]] int Attempt(const HttpUrlParts& parts, const std::string& localPath);
    [[nodiscard]] int OpenLocalFile(const std::string& localPath);
    [[nodiscard]] std::string BuildRequest(const HttpUrlParts& parts) const;
    [[nodiscard]] int Transfer(const std::string& request, CNetworkSocket& socket);
    [[nodiscard]] Header CollectHeader(const char* data, size_t size, size_t* bodyOffsetOut);
    [[nodiscard]] int ParseStatus(size_t headerEnd);
    [[nodiscard]] bool RewriteFromStart();
    [[nodiscard]] bool WriteBody(const char* data, size_t size);
    void Reset();

    std::vector<char> m_header;  // response bytes until the header's end was found
    UniqueFile m_hFile;          // the local file during an attempt
    int64_t m_nReceived = 0;     // bytes in the local file
    int64_t m_nTotal = 0;        // size the file must reach; 0 until the header was read
    StopToken m_stop;
    ActiveSockets m_active;
    ProgressFn m_progress;
    bool m_bNotFound = false;
};
