#include "net/http_client.h"

#include "net/network_socket.h"
#include "net/rate_limiter.h"
#include "net/transfer_log.h"
#include "platform/file_system.h"

namespace {

constexpr int kTransferOk = 0;
constexpr int kTransferFailed = 1;
constexpr int kTransferRangeRefused = -3;
constexpr int kTransferRedirect = 2;
constexpr int kBodyMore = 3;  // TakeBody: the body goes on

constexpr int kStatusOk = 0;
constexpr int kStatusRefused = 1;
constexpr int kStatusRangeRefused = 2;
constexpr int kStatusRedirect = 3;

constexpr int kOpenOk = 0;
constexpr int kOpenFailed = 1;
constexpr int kOpenSizeUnreadable = 2;

std::string UrlText(const HttpUrlParts& parts) { return "http://" + parts.hostPart + parts.path; }

}  // namespace

// Chunk data goes through the same checks and file writes as any body.
class CNetworkHTTP::BodySink : public ByteSink {
public:
    explicit BodySink(CNetworkHTTP* client) : m_client(client) {}
    bool Write(const char* data, size_t size) override { return m_client->WriteBody(data, size); }

private:
    CNetworkHTTP* m_client;
};

CNetworkHTTP::~CNetworkHTTP() { Reset(); }

void CNetworkHTTP::Cancel() {
    m_stop.Request();
    m_active.ShutdownAll();
}

void CNetworkHTTP::Reset() {
    m_header.clear();
    m_header.shrink_to_fit();
    m_hFile.reset();
    m_nReceived = 0;
    m_nTotal = 0;
}

bool CNetworkHTTP::Refuse(const std::string& why) {
    m_failure = why;
    return false;
}

int64_t CNetworkHTTP::Limit() const { return m_byteCap < kMaxHttpFileBytes ? m_byteCap : kMaxHttpFileBytes; }

int CNetworkHTTP::Download(const std::string& url, const std::string& localPath) {
    m_bNotFound = m_bStalled = m_bTooSlow = false;
    HttpUrlParts parts;
    if (!SplitHttpUrl(url, &parts)) {
        LogTransfer(EntryKind::Error, "HTTP GET " + url, "unusable URL");
        return http_result::kUnknownHost;
    }
    for (int attempt = 1;; ++attempt) {
        // Only the last attempt's failure tells whether the download stalled.
        m_bStalled = m_bTooSlow = false;
        const int result = Attempt(parts, localPath, attempt);
        if (result != http_result::kTransferFailed) return result;
        if (attempt >= kHttpAttempts || m_stop.Requested() || m_bTooSlow) return http_result::kTransferFailed;
    }
}

// One attempt: local file, then request after request while the answers
// redirect. kTransferFailed asks the caller for another attempt.
int CNetworkHTTP::Attempt(const HttpUrlParts& start, const std::string& localPath, int attempt) {
    const std::string what = "HTTP GET " + UrlText(start) + " (attempt " + std::to_string(attempt) +
                             " of " + std::to_string(kHttpAttempts) + ")";
    if (OpenLocalFile(localPath) != kOpenOk) {
        Reset();
        LogTransfer(EntryKind::Error, what, "the local file " + localPath + " cannot be opened or measured");
        return http_result::kLocalFile;
    }
    HttpUrlParts parts = start;
    int transfer = kTransferFailed;
    for (int hop = 0;; ++hop) {
        const int exchanged = Exchange(parts, &transfer);
        if (exchanged != http_result::kOk) {
            Reset();
            LogTransfer(EntryKind::Error, what, m_failure);
            return exchanged;
        }
        if (transfer != kTransferRedirect) break;
        if (hop == kMaxHttpRedirects) {
            transfer = kTransferFailed;
            Refuse("more than " + std::to_string(kMaxHttpRedirects) + " redirects, the last to " +
                   UrlText(m_redirect));
            break;
        }
        LogTransfer(EntryKind::Notice, what,
                    "redirected from " + UrlText(parts) + " to " + UrlText(m_redirect));
        parts = m_redirect;
    }
    Reset();
    if (transfer == kTransferOk) {
        if (parts.hostPart != start.hostPart) {
            LogTransfer(EntryKind::Notice, what, "fetched from " + parts.hostPart);
        }
        return http_result::kOk;
    }
    // The server refused the range: the local file is complete, longer than
    // the remote one or stale. Start over from nothing.
    if (transfer == kTransferRangeRefused) fs_port::RemoveFile(localPath);
    LogTransfer(EntryKind::Error, what, m_failure);
    return http_result::kTransferFailed;
}

void CNetworkHTTP::StartExchange(const HttpUrlParts& parts) {
    m_parts = parts;
    m_header.clear();
    m_nTotal = 0;
    m_framing = Framing::kLength;
    m_chunked = ChunkedDecoder();
    m_failure.clear();
}

// Name, connection and one request with its answer. kOk when the request
// went out (*transferOut tells how it ended), else the result for Download.
int CNetworkHTTP::Exchange(const HttpUrlParts& parts, int* transferOut) {
    StartExchange(parts);
    int port = kDefaultHttpPort;
    std::string address;
    if (ResolveHost(parts.hostPart, &port, &address) != 0) {
        Refuse("the host " + parts.hostPart + " cannot be resolved");
        return http_result::kUnknownHost;
    }
    CNetworkSocket socket;
    socket.SetStopToken(&m_stop);
    socket.SetRateLimiter(&DownloadRateLimiter());
    socket.SetReceiveWait(StallReceiveWaitMs(m_stallPolicy, kSocketTimeoutMs));
    ActiveSocketScope listed(&m_active, &socket);
    if (socket.Open(address.c_str(), port) != kSocketOk) {
        Refuse("no connection to " + address + ":" + std::to_string(port));
        return http_result::kNoConnection;
    }
    *transferOut = Transfer(BuildRequest(parts), socket);
    socket.Close();
    return http_result::kOk;
}

int CNetworkHTTP::OpenLocalFile(const std::string& localPath) {
    Reset();
    m_hFile = OpenOrCreateFile(localPath);
    if (!m_hFile) return kOpenFailed;
    if (!fs_port::SeekFile(m_hFile.get(), 0, SEEK_END)) return kOpenSizeUnreadable;
    const int64_t size = fs_port::TellFile(m_hFile.get());
    if (size < 0 || size > kMaxHttpFileBytes) return kOpenSizeUnreadable;
    m_nReceived = size;
    return kOpenOk;
}

std::string CNetworkHTTP::BuildRequest(const HttpUrlParts& parts) const {
    return FormatHttpRequest(parts, m_nReceived);
}

int CNetworkHTTP::Transfer(const std::string& request, CNetworkSocket& socket) {
    if (socket.SendAll(request.data(), static_cast<int>(request.size())) != kSocketOk) {
        Refuse("the request could not be sent");
        return kTransferFailed;
    }
    std::vector<char> receiveBuffer(kHttpReceiveBufferBytes);
    char* const buffer = receiveBuffer.data();
    StallWatch watch(m_stallPolicy, StallWatch::Clock::now());
    bool headerComplete = false;
    for (;;) {
        const long n = socket.Receive(buffer, receiveBuffer.size());
        if (n < 0) {
            m_bStalled = socket.ReceiveTimedOut();
            Refuse(socket.ReceiveFailureText() + ", " + ReceivedText(m_nReceived, m_nTotal));
            return kTransferFailed;
        }
        if (n == 0) return OnClose(headerComplete);
        const auto now = StallWatch::Clock::now();
        watch.Feed(n, now);
        if (watch.Stalled(now)) {
            m_bStalled = m_bTooSlow = true;
            Refuse(StallText(watch) + ", " + ReceivedText(m_nReceived, m_nTotal));
            return kTransferFailed;
        }
        const char* body = buffer;
        size_t bodySize = static_cast<size_t>(n);
        if (!headerComplete) {
            size_t bodyOffset = 0;
            const Header header = CollectHeader(buffer, static_cast<size_t>(n), &bodyOffset);
            if (header == Header::kIncomplete) continue;
            if (header == Header::kRangeRefused) return kTransferRangeRefused;
            if (header == Header::kRedirect) return kTransferRedirect;
            if (header == Header::kRefused) return kTransferFailed;
            headerComplete = true;
            body = m_header.data() + bodyOffset;
            bodySize = m_header.size() - bodyOffset;
        }
        const int taken = TakeBody(body, bodySize);
        if (taken != kBodyMore) return taken;
    }
}

int CNetworkHTTP::TakeBody(const char* data, size_t size) {
    if (m_framing == Framing::kChunked) {
        BodySink sink(this);
        switch (m_chunked.Feed(data, size, sink)) {
            case ChunkedDecoder::Status::kMore:
                return kBodyMore;
            case ChunkedDecoder::Status::kDone:
                if (m_nTotal < 0 || m_nReceived == m_nTotal) return Finish();
                Refuse("the last chunk came early, " + ReceivedText(m_nReceived, m_nTotal));
                return kTransferFailed;
            case ChunkedDecoder::Status::kInvalid:
                Refuse("broken chunked body: " + m_chunked.Error() + ", " +
                       ReceivedText(m_nReceived, m_nTotal));
                return kTransferFailed;
            default:
                return kTransferFailed;
        }
    }
    if (!WriteBody(data, size)) return kTransferFailed;
    // Content-Length ends the body; anything a server sends beyond it is
    // not part of the file.
    if (m_framing == Framing::kLength && m_nReceived >= m_nTotal) return Finish();
    return kBodyMore;
}

// The server closed the connection. Only a body without any announced
// length ends that way; everything else was cut, and the next attempt resumes.
int CNetworkHTTP::OnClose(bool headerComplete) {
    if (!headerComplete) {
        Refuse("closed before the header's end, after " + std::to_string(m_header.size()) + " bytes");
        return kTransferFailed;
    }
    if (m_framing != Framing::kClose) {
        Refuse(std::string(m_framing == Framing::kChunked ? "closed inside the chunked body, "
                                                          : "closed early, ") +
               ReceivedText(m_nReceived, m_nTotal));
        return kTransferFailed;
    }
    // Nothing tells a whole body from a cut one here; the file's own checks
    // (the lists' seal, the packages' CRC and MD5) catch a cut.
    LogTransfer(EntryKind::Info, "HTTP GET " + UrlText(m_parts),
                "no length announced; the body ended at the server's close, " +
                    ReceivedText(m_nReceived, -1));
    return Finish();
}

int CNetworkHTTP::Finish() {
    if (std::fflush(m_hFile.get()) == 0) return kTransferOk;
    Refuse(kLocalWriteFailed);
    return kTransferFailed;
}

CNetworkHTTP::Header CNetworkHTTP::CollectHeader(const char* data, size_t size,
                                                 size_t* bodyOffsetOut) {
    // Only the tail can complete a "\r\n\r\n" that began in an earlier piece.
    const size_t searchFrom = m_header.size() < 3 ? 0 : m_header.size() - 3;
    m_header.insert(m_header.end(), data, data + size);
    const size_t end = FindHeaderEnd(m_header.data() + searchFrom, m_header.size() - searchFrom);
    const size_t headerEnd = end == 0 ? 0 : searchFrom + end;
    if (headerEnd > kMaxHeaderBytes || (end == 0 && m_header.size() > kMaxHeaderBytes)) {
        Refuse("a header over " + std::to_string(kMaxHeaderBytes) + " bytes, status line " +
               QuoteServerText(m_header.data(), m_header.size()));
        return Header::kRefused;
    }
    if (end == 0) return Header::kIncomplete;
    switch (ParseStatus(headerEnd)) {
        case kStatusOk:
            *bodyOffsetOut = headerEnd;
            return Header::kComplete;
        case kStatusRangeRefused:
            return Header::kRangeRefused;
        case kStatusRedirect:
            return Header::kRedirect;
        default:
            return Header::kRefused;
    }
}

std::string CNetworkHTTP::FieldText(size_t headerEnd, const char* name) const {
    std::string value;
    if (!FindFieldValue(m_header.data(), headerEnd, name, &value)) return std::string(name) + " missing";
    return std::string(name) + " " + QuoteServerText(value);
}

int CNetworkHTTP::ParseStatus(size_t headerEnd) {
    const char* header = m_header.data();
    const int status = ParseStatusCode(header, headerEnd);
    m_bNotFound = status == 404;
    if (IsRedirectStatus(status)) return TakeRedirect(headerEnd);
    if (status < 200 || status > 299) {
        Refuse("status line " + QuoteServerText(header, headerEnd));
        return status == 416 ? kStatusRangeRefused : kStatusRefused;
    }
    int64_t length = -1;
    if (!ReadFraming(headerEnd, &length)) return kStatusRefused;
    if (status == 206) {
        if (!CheckRange(headerEnd, &length)) return kStatusRefused;
    } else if (!RewriteFromStart()) {
        Refuse("the local file could not be cut for a whole-file answer");
        return kStatusRefused;
    }
    if (length > Limit() - m_nReceived) {
        // The sum itself may not fit in 64 bits: then it is shown as the two parts.
        const std::string announced = length > kMaxHttpFileBytes - m_nReceived
                                          ? std::to_string(m_nReceived) + " + " + std::to_string(length)
                                          : std::to_string(m_nReceived + length);
        Refuse("the answer announces " + announced + " bytes, more than the cap of " +
               std::to_string(Limit()) + " bytes for this file");
        return kStatusRefused;
    }
    m_nTotal = length < 0 ? -1 : m_nReceived + length;
    if (m_progress) m_progress(m_nReceived, m_nTotal);
    return kStatusOk;
}

int CNetworkHTTP::TakeRedirect(size_t headerEnd) {
    std::string location;
    if (!FindFieldValue(m_header.data(), headerEnd, "Location", &location)) {
        Refuse("status line " + QuoteServerText(m_header.data(), headerEnd) + " without Location");
        return kStatusRefused;
    }
    switch (ResolveRedirect(m_parts, location, &m_redirect)) {
        case RedirectTarget::kOk:
            return kStatusRedirect;
        case RedirectTarget::kNotHttp:
            Refuse("redirect to " + QuoteServerText(location) + " refused: only http:// is followed");
            return kStatusRefused;
        default:
            Refuse("redirect to an unusable Location " + QuoteServerText(location));
            return kStatusRefused;
    }
}

// RFC 9112 6.3: Transfer-Encoding wins over Content-Length; with neither,
// the body runs to the server's close.
bool CNetworkHTTP::ReadFraming(size_t headerEnd, int64_t* lengthOut) {
    const char* header = m_header.data();
    bool chunked = false;
    switch (ParseTransferEncoding(header, headerEnd, &chunked)) {
        case FieldResult::kOk:
            m_framing = Framing::kChunked;
            *lengthOut = -1;
            return true;
        case FieldResult::kInvalid:
            return Refuse(FieldText(headerEnd, "Transfer-Encoding") + " cannot be decoded");
        case FieldResult::kMissing:
            break;
    }
    switch (ParseContentLength(header, headerEnd, lengthOut)) {
        case FieldResult::kOk:
            m_framing = Framing::kLength;
            return true;
        case FieldResult::kInvalid:
            return Refuse(FieldText(headerEnd, "Content-Length") + " refused");
        case FieldResult::kMissing:
            break;
    }
    m_framing = Framing::kClose;
    *lengthOut = -1;
    return true;
}

// A 206 must continue the local file and run to the file's end (only
// "bytes=N-" is ever asked for). Without a length of its own, only a
// Content-Range with the complete length says where it ends.
bool CNetworkHTTP::CheckRange(size_t headerEnd, int64_t* lengthInOut) {
    ContentRange range;
    const FieldResult found = ParseContentRange(m_header.data(), headerEnd, &range);
    if (found == FieldResult::kInvalid) return Refuse(FieldText(headerEnd, "Content-Range") + " unreadable");
    if (found == FieldResult::kMissing) {
        return m_framing == Framing::kLength ||
               Refuse("a 206 answer without Content-Range or Content-Length");
    }
    const int64_t length = range.last - range.first + 1;
    if (range.first != m_nReceived) {
        return Refuse(FieldText(headerEnd, "Content-Range") + " does not start at the local file's " +
                      std::to_string(m_nReceived) + " bytes");
    }
    if (range.complete >= 0 ? range.last + 1 != range.complete : m_framing != Framing::kLength) {
        return Refuse(FieldText(headerEnd, "Content-Range") + " does not reach a known end of the file");
    }
    if (*lengthInOut >= 0 && *lengthInOut != length) {
        return Refuse(FieldText(headerEnd, "Content-Range") + " does not match " +
                      FieldText(headerEnd, "Content-Length"));
    }
    *lengthInOut = length;
    if (m_framing == Framing::kClose) m_framing = Framing::kLength;
    return true;
}

// Any answer but 206 means the server ignored the range and sends the whole
// file: start over, and cut the old bytes so none survive past the new end
// (also when this attempt breaks off early and a later one resumes).
bool CNetworkHTTP::RewriteFromStart() {
    m_nReceived = 0;
    return fs_port::SeekFile(m_hFile.get(), 0, SEEK_SET) && fs_port::TruncateFile(m_hFile.get(), 0);
}

bool CNetworkHTTP::WriteBody(const char* data, size_t size) {
    size_t take = size;
    if (m_nTotal >= 0 && static_cast<int64_t>(size) > m_nTotal - m_nReceived) {
        // Past a known end: a length-framed body is cut there; a chunked one
        // that runs past its Content-Range is broken.
        if (m_framing == Framing::kChunked) {
            return Refuse("the chunked body runs past its Content-Range, " +
                          ReceivedText(m_nReceived, m_nTotal));
        }
        take = static_cast<size_t>(m_nTotal - m_nReceived);
    } else if (m_nTotal < 0 && static_cast<int64_t>(size) > Limit() - m_nReceived) {
        return Refuse("the body grew past the cap of " + std::to_string(Limit()) + " bytes for this file");
    }
    if (take == 0) return true;
    FileSink sink(m_hFile.get());
    if (!sink.Write(data, take)) return Refuse(kLocalWriteFailed);
    if (m_tap) m_tap(m_nReceived, data, take);
    m_nReceived += static_cast<int64_t>(take);
    if (m_progress) m_progress(m_nReceived, m_nTotal);
    return true;
}
