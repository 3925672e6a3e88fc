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
//
// A partial file is continued only when it is the same server file: the
// range goes with If-Range and the validator the bytes came with (from the
// resume terms, or from an earlier answer of the same Download), and a 206
// that gives another whole size or validator, or a range that does not
// continue the local file, cuts the file and fetches it again from byte 0
// within the same attempt.
//
// An https:// URL (and a redirect to one) goes over TLS on our own socket
// (tls_stream.h), so the resume, the stall watch, the rate limit and the
// byte cap work as over plain http; a server that cannot be trusted fails
// the Download at once (see SecureFailure()), and a redirect from https back
// to http is refused.
//
// DownloadSpan fetches bytes [first, first + length) of a file alone, with
// "Range: bytes=first-last", into a new local file; a server that answers
// with the whole file is left at once (see RangesIgnored()).
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

class CTlsStream;
class IByteStream;

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

    // Downloads url ("http://" or "https://", host [":" port] path, the path
    // starting with "/" or "\") into localPath (UTF-8), continuing a partial file.
    // What is left on disk: the whole file (0); nothing new (1); the local
    // file, created empty if missing (3, 4); the bytes received so far, or no
    // file when the last attempt was answered 416 (5). A URL without a path
    // separator or longer than the request buffers gives 3 and touches no
    // file. Every failed attempt writes its reason to the journal.
    [[nodiscard]] int Download(const std::string& url, const std::string& localPath);
    // Downloads bytes [first, first + length) of url into localPath, which
    // is written from its start (an old file there is cut). Only a 206 for
    // exactly that range counts; answered hears its complete length as the
    // whole size. The second attempt asks for the rest of the span after
    // what the first one wrote. The same results as Download, with 5 and
    // no local file as well when the server answered the whole file (see
    // RangesIgnored()); a span that is empty or ends past 2^63 - 1 gives 5.
    [[nodiscard]] int DownloadSpan(const std::string& url, const std::string& localPath, int64_t first,
                                   int64_t length);

    // A flag owned by the caller; once it is true, a running Download gives
    // up within about kStopPollMs and returns a failure without retrying.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop.SetExternal(stop); }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // Hears of every piece written to the local file, at its offset.
    void SetWriteTap(WriteTapFn tap) { m_tap = std::move(tap); }
    // What the partial local file came with, for every later Download: its
    // validator goes out as If-Range, and a 206 for another whole size
    // starts the file over. A validator that fails IsSafeValidator is not sent.
    void SetResumeTerms(const ResumeTerms& terms) { m_terms = terms; }
    // Hears, once for each answer whose body is written and before its first
    // byte, the answer's validator (a 206 that names none keeps the one its
    // If-Range carried) and the file's whole size (200: Content-Length, 206:
    // the Content-Range complete length; -1 when not given).
    void SetAnswered(AnsweredFn answered) { m_answered = std::move(answered); }
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
    // True when the last DownloadSpan failed because a whole-file answer
    // (200) came instead of the span: the server ignores ranges, or, when an
    // If-Range went out, the file changed. Its connection was closed before
    // a byte of the body was taken, and no second attempt was made: the
    // caller fetches the whole file instead.
    [[nodiscard]] bool RangesIgnored() const { return m_bRangesIgnored; }
    // "host : reason" when the last Download failed because no secure
    // connection could be made (an untrusted certificate, a refused
    // handshake, an alert); empty otherwise. Such a host is not asked twice.
    [[nodiscard]] const std::string& SecureFailure() const { return m_secureFailure; }

private:
    enum class Header { kIncomplete, kComplete, kRangeRefused, kRedirect, kStartOver, kRangesIgnored, kRefused };
    // How the body's end is known: Content-Length (or a Content-Range over a
    // close-delimited body), the last chunk, or only the server's close.
    enum class Framing { kLength, kChunked, kClose };
    class BodySink;
    // What an answer says of the server's file.
    struct ServerFile {
        std::string validator;
        int64_t wholeSize = -1;
    };

    [[nodiscard]] int Run(const std::string& url, const std::string& localPath);
    [[nodiscard]] int Attempt(const HttpUrlParts& start, const std::string& localPath, int attempt);
    [[nodiscard]] int Exchange(const HttpUrlParts& parts, int* transferOut);
    [[nodiscard]] int OpenLocalFile(const std::string& localPath, bool firstAttempt);
    [[nodiscard]] std::string BuildRequest(const HttpUrlParts& parts) const;
    [[nodiscard]] bool Secure(CTlsStream& tls, const std::string& hostName, int* transferOut);
    [[nodiscard]] int Transfer(const std::string& request, IByteStream& socket);
    [[nodiscard]] int TakeBody(const char* data, size_t size);
    [[nodiscard]] int OnClose(bool headerComplete);
    [[nodiscard]] Header CollectHeader(const char* data, size_t size, size_t* bodyOffsetOut);
    [[nodiscard]] int ParseStatus(size_t headerEnd);
    [[nodiscard]] int TakeRedirect(size_t headerEnd);
    [[nodiscard]] bool ReadFraming(size_t headerEnd, int64_t* lengthOut);
    [[nodiscard]] int TakePartial(size_t headerEnd, int64_t* lengthInOut, ServerFile* fileInOut);
    [[nodiscard]] int TakeSpanPart(size_t headerEnd, int64_t* lengthInOut, ServerFile* fileInOut);
    [[nodiscard]] int RefuseWholeFile(const std::string& validator);
    [[nodiscard]] std::string ContinuationFault(size_t headerEnd, FieldResult found,
                                                const ContentRange& range,
                                                const std::string& validator) const;
    [[nodiscard]] std::string OtherFileFault(size_t headerEnd, FieldResult found, const ContentRange& range,
                                             const std::string& validator) const;
    [[nodiscard]] bool CheckRange(size_t headerEnd, FieldResult found, const ContentRange& range,
                                  int64_t* lengthInOut);
    [[nodiscard]] bool TakeWholeFile(const std::string& validator);
    [[nodiscard]] int StartOver(const std::string& why);
    // A span always names the file its offsets are for; a whole download
    // only when it continues bytes.
    [[nodiscard]] bool SendsIfRange() const { return (IsSpan() || m_nReceived > 0) && !m_validator.empty(); }
    [[nodiscard]] bool IsSpan() const { return m_spanFirst >= 0; }
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
    int64_t m_spanFirst = -1;    // the server file's offset of the local file's first byte; -1: whole file
    int64_t m_spanLength = 0;
    Framing m_framing = Framing::kLength;
    ChunkedDecoder m_chunked;
    HttpUrlParts m_parts;        // where the running request went
    HttpUrlParts m_redirect;     // where a redirect answer points
    std::string m_failure;       // why the running attempt failed
    std::string m_secureFailure;
    int64_t m_byteCap = kMaxHttpFileBytes;
    StallPolicy m_stallPolicy;
    StopToken m_stop;
    ActiveSockets m_active;
    ProgressFn m_progress;
    WriteTapFn m_tap;
    ResumeTerms m_terms;
    AnsweredFn m_answered;
    // What the local file's bytes came with during a Download: the terms at
    // first, then what each written answer said.
    std::string m_validator;
    int64_t m_wholeSize = -1;
    bool m_bNotFound = false;
    bool m_bStalled = false;
    bool m_bRangesIgnored = false;
    bool m_bTooSlow = false;  // the stall watch cut the last attempt
};
