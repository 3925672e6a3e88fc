#include "net/http_client.h"

#include "net/network_socket.h"
#include "net/rate_limiter.h"
#include "net/tls_stream.h"
#include "net/transfer_log.h"
#include "platform/file_system.h"

namespace {

constexpr int kTransferOk = 0;
constexpr int kTransferFailed = 1;
constexpr int kTransferRangeRefused = -3;
constexpr int kTransferRedirect = 2;
constexpr int kBodyMore = 3;  // TakeBody: the body goes on
// The answer was for another file than the local bytes: they are cut, and
// the same URL is asked again from byte 0.
constexpr int kTransferStartOver = 4;
// A whole-file answer to a span: closed unread, and no second attempt.
constexpr int kTransferRangesIgnored = 5;

constexpr int kStatusOk = 0;
constexpr int kStatusRefused = 1;
constexpr int kStatusRangeRefused = 2;
constexpr int kStatusRedirect = 3;
constexpr int kStatusStartOver = 4;
constexpr int kStatusRangesIgnored = 5;

constexpr int kOpenOk = 0;
constexpr int kOpenFailed = 1;
constexpr int kOpenSizeUnreadable = 2;

std::string BytesText(int64_t first, int64_t last) {
    return "bytes " + std::to_string(first) + "-" + std::to_string(last);
}

// Validators passed IsSafeValidator, so they go into the journal as they are.
std::string ValidatorsText(const std::string& before, const std::string& now) {
    return "(validator then: " + (before.empty() ? "none" : before) +
           "; now: " + (now.empty() ? "none" : now) + ")";
}

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
    m_spanFirst = -1;
    m_spanLength = 0;
    return Run(url, localPath);
}

int CNetworkHTTP::DownloadSpan(const std::string& url, const std::string& localPath, int64_t first,
                               int64_t length) {
    m_spanFirst = -1;
    if (first < 0 || length <= 0 || length - 1 > kMaxHttpFileBytes - first) {
        m_bNotFound = m_bStalled = m_bRangesIgnored = false;
        LogTransfer(EntryKind::Error, "HTTP GET " + url,
                    "unusable span of " + std::to_string(length) + " bytes from byte " + std::to_string(first));
        return http_result::kTransferFailed;
    }
    m_spanFirst = first;
    m_spanLength = length;
    const int result = Run(url, localPath);
    m_spanFirst = -1;
    return result;
}

int CNetworkHTTP::Run(const std::string& url, const std::string& localPath) {
    m_bNotFound = m_bStalled = m_bTooSlow = m_bRangesIgnored = false;
    m_secureFailure.clear();
    m_validator = IsSafeValidator(m_terms.validator) ? m_terms.validator : std::string();
    m_wholeSize = m_terms.wholeSize;
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
        if (attempt >= kHttpAttempts || m_stop.Requested() || m_bTooSlow || m_bRangesIgnored) {
            return http_result::kTransferFailed;
        }
    }
}

// One attempt: local file, then request after request while the answers
// redirect or start the file over. kTransferFailed asks the caller for
// another attempt.
int CNetworkHTTP::Attempt(const HttpUrlParts& start, const std::string& localPath, int attempt) {
    const std::string span = IsSpan() ? " " + BytesText(m_spanFirst, m_spanFirst + m_spanLength - 1) : "";
    const std::string what = "HTTP GET " + HttpUrlText(start) + span + " (attempt " +
                             std::to_string(attempt) + " of " + std::to_string(kHttpAttempts) + ")";
    if (OpenLocalFile(localPath, attempt == 1) != kOpenOk) {
        Reset();
        LogTransfer(EntryKind::Error, what, "the local file " + localPath + " cannot be opened or measured");
        return http_result::kLocalFile;
    }
    HttpUrlParts parts = start;
    int transfer = kTransferFailed;
    for (int hop = 0;;) {
        const int exchanged = Exchange(parts, &transfer);
        if (exchanged != http_result::kOk) {
            Reset();
            LogTransfer(EntryKind::Error, what, m_failure);
            return exchanged;
        }
        // The local file is empty after a start-over, so it comes at most once.
        if (transfer == kTransferStartOver) continue;
        if (transfer != kTransferRedirect) break;
        if (hop == kMaxHttpRedirects) {
            transfer = kTransferFailed;
            Refuse("more than " + std::to_string(kMaxHttpRedirects) + " redirects, the last to " +
                   HttpUrlText(m_redirect));
            break;
        }
        LogTransfer(EntryKind::Notice, what,
                    "redirected from " + HttpUrlText(parts) + " to " + HttpUrlText(m_redirect));
        parts = m_redirect;
        ++hop;
    }
    Reset();
    if (transfer == kTransferOk) {
        if (parts.hostPart != start.hostPart) {
            LogTransfer(EntryKind::Notice, what, "fetched from " + parts.hostPart);
        }
        return http_result::kOk;
    }
    // The server refused the range: the local file is complete, longer than
    // the remote one or stale (or a span lies past the file's end). Start
    // over from nothing. A span answered with the whole file keeps no bytes:
    // the caller fetches the whole file instead.
    const bool ignored = transfer == kTransferRangesIgnored;
    if (transfer == kTransferRangeRefused || ignored) fs_port::RemoveFile(localPath);
    LogTransfer(ignored ? EntryKind::Notice : EntryKind::Error, what, m_failure);
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
    const int defaultPort = parts.secure ? kDefaultHttpsPort : kDefaultHttpPort;
    int port = defaultPort;
    std::string name;
    std::string address;
    if (!SplitHostPort(parts.hostPart, &name, &port, defaultPort) ||
        ResolveHost(parts.hostPart, &port, &address, defaultPort) != 0) {
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
    if (!parts.secure) {
        *transferOut = Transfer(BuildRequest(parts), socket);
    } else {
        CTlsStream tls(&socket, m_stallPolicy);
        if (!Secure(tls, name, transferOut)) return http_result::kNoConnection;
        if (*transferOut == kTransferOk) *transferOut = Transfer(BuildRequest(parts), tls);
    }
    socket.Close();
    return http_result::kOk;
}

// The TLS handshake: false for a server that cannot be trusted or refused
// the handshake (no second attempt: it would answer the same); a connection
// that broke or stalled under it fails this attempt like any cut one.
bool CNetworkHTTP::Secure(CTlsStream& tls, const std::string& hostName, int* transferOut) {
    *transferOut = kTransferOk;
    if (tls.Handshake(hostName)) return true;
    Refuse("no secure connection to " + m_parts.hostPart + ": " + tls.FailureText());
    if (tls.Fault() != TlsFault::kTransport) {
        m_secureFailure = m_parts.hostPart + " : " + TlsFaultText(tls.Fault());
        return false;
    }
    m_bStalled = tls.ReceiveTimedOut() || tls.ReceiveStalled();
    m_bTooSlow = tls.ReceiveStalled();
    *transferOut = kTransferFailed;
    return true;
}

// A span's file is new in the first attempt; a later one continues it.
int CNetworkHTTP::OpenLocalFile(const std::string& localPath, bool firstAttempt) {
    Reset();
    m_hFile = OpenOrCreateFile(localPath);
    if (!m_hFile) return kOpenFailed;
    if (!fs_port::SeekFile(m_hFile.get(), 0, SEEK_END)) return kOpenSizeUnreadable;
    const int64_t size = fs_port::TellFile(m_hFile.get());
    if (size < 0 || size > kMaxHttpFileBytes) return kOpenSizeUnreadable;
    m_nReceived = size;
    // Bytes that fill a span or more are none of this span's.
    if (IsSpan() && (firstAttempt || size >= m_spanLength) && !RewriteFromStart()) return kOpenSizeUnreadable;
    return kOpenOk;
}

std::string CNetworkHTTP::BuildRequest(const HttpUrlParts& parts) const {
    const std::string ifRange = SendsIfRange() ? m_validator : std::string();
    if (!IsSpan()) return FormatHttpRequest(parts, m_nReceived, ifRange);
    return FormatHttpRequest(parts, m_spanFirst + m_nReceived, ifRange, m_spanFirst + m_spanLength - 1);
}

int CNetworkHTTP::Transfer(const std::string& request, IByteStream& socket) {
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
            m_bStalled = socket.ReceiveTimedOut() || socket.ReceiveStalled();
            m_bTooSlow = socket.ReceiveStalled();
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
            if (header == Header::kStartOver) return kTransferStartOver;
            if (header == Header::kRangesIgnored) return kTransferRangesIgnored;
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
    LogTransfer(EntryKind::Info, "HTTP GET " + HttpUrlText(m_parts),
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
        case kStatusStartOver:
            return Header::kStartOver;
        case kStatusRangesIgnored:
            return Header::kRangesIgnored;
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
    ServerFile file{ReadValidator(header, headerEnd), -1};
    if (status == 206) {
        const int partial =
            IsSpan() ? TakeSpanPart(headerEnd, &length, &file) : TakePartial(headerEnd, &length, &file);
        if (partial != kStatusOk) return partial;
    } else if (IsSpan()) {
        return RefuseWholeFile(file.validator);
    } else if (!TakeWholeFile(file.validator)) {
        return kStatusRefused;
    } else {
        file.wholeSize = length;
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
    // A later attempt of this Download continues these bytes on these terms.
    m_validator = file.validator;
    m_wholeSize = file.wholeSize;
    if (m_answered) m_answered(file.validator, file.wholeSize);
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
            Refuse("redirect to " + QuoteServerText(location) +
                   " refused: only http:// and https:// are followed");
            return kStatusRefused;
        case RedirectTarget::kDowngrade:
            Refuse("redirect to " + QuoteServerText(location) + " refused: it leaves https for plain http");
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

// A 206: continues the local file's bytes, or starts the file over when it
// belongs to another server file or a range the server got wrong.
int CNetworkHTTP::TakePartial(size_t headerEnd, int64_t* lengthInOut, ServerFile* fileInOut) {
    ContentRange range;
    const FieldResult found = ParseContentRange(m_header.data(), headerEnd, &range);
    const std::string fault = ContinuationFault(headerEnd, found, range, fileInOut->validator);
    if (!fault.empty()) return StartOver(fault);
    if (!CheckRange(headerEnd, found, range, lengthInOut)) return kStatusRefused;
    fileInOut->wholeSize = found == FieldResult::kOk ? range.complete : -1;
    // A 206 to an If-Range vouches for the validator it carried.
    if (fileInOut->validator.empty() && SendsIfRange()) fileInOut->validator = m_validator;
    return kStatusOk;
}

// A 206 to a span must give exactly the rest of the span asked for. One of
// another server file than an earlier attempt's bytes starts the span over.
int CNetworkHTTP::TakeSpanPart(size_t headerEnd, int64_t* lengthInOut, ServerFile* fileInOut) {
    ContentRange range;
    const FieldResult found = ParseContentRange(m_header.data(), headerEnd, &range);
    const std::string field = FieldText(headerEnd, "Content-Range");
    if (found != FieldResult::kOk) {
        Refuse(found == FieldResult::kMissing ? "a 206 answer to a span without Content-Range"
                                              : field + " unreadable");
        return kStatusRefused;
    }
    if (m_nReceived > 0) {
        const std::string fault = OtherFileFault(headerEnd, found, range, fileInOut->validator);
        if (!fault.empty()) return StartOver(fault);
    }
    const int64_t from = m_spanFirst + m_nReceived;
    const int64_t last = m_spanFirst + m_spanLength - 1;
    if (range.first != from || range.last != last) {
        Refuse(field + " is not the range asked for, " + BytesText(from, last));
        return kStatusRefused;
    }
    if (*lengthInOut >= 0 && *lengthInOut != last - from + 1) {
        Refuse(field + " does not match " + FieldText(headerEnd, "Content-Length"));
        return kStatusRefused;
    }
    *lengthInOut = last - from + 1;
    if (m_framing == Framing::kClose) m_framing = Framing::kLength;
    fileInOut->wholeSize = range.complete;
    if (fileInOut->validator.empty() && SendsIfRange()) fileInOut->validator = m_validator;
    return kStatusOk;
}

// A whole-file answer to a span: the server ignores ranges, or the file
// changed since the validator that went out as If-Range. Not a byte of its
// body is read: the file may be far larger than the span.
int CNetworkHTTP::RefuseWholeFile(const std::string& validator) {
    m_bRangesIgnored = true;
    const std::string span = BytesText(m_spanFirst + m_nReceived, m_spanFirst + m_spanLength - 1);
    Refuse((SendsIfRange() ? "the file changed on the server " + ValidatorsText(m_validator, validator)
                           : "the server ignores ranges: the whole file came instead of " + span) +
           "; closed without reading it");
    return kStatusRangesIgnored;
}

// Why a 206 cannot continue the local file's bytes; empty when it can, or
// when there are no bytes to be continued (then CheckRange judges it).
std::string CNetworkHTTP::ContinuationFault(size_t headerEnd, FieldResult found, const ContentRange& range,
                                            const std::string& validator) const {
    if (m_nReceived == 0 || found == FieldResult::kInvalid) return std::string();
    const std::string other = OtherFileFault(headerEnd, found, range, validator);
    if (!other.empty() || found == FieldResult::kMissing) return other;
    const std::string field = FieldText(headerEnd, "Content-Range");
    if (range.first != m_nReceived) {
        return field + " does not start at the local file's " + std::to_string(m_nReceived) + " bytes";
    }
    if (range.complete >= 0 && range.last + 1 != range.complete) {
        return field + " does not reach the file's end";
    }
    return std::string();
}

// Why a 206 is for another server file than the one the local file's bytes
// came from: another whole size or validator. Empty when it is not.
std::string CNetworkHTTP::OtherFileFault(size_t headerEnd, FieldResult found, const ContentRange& range,
                                         const std::string& validator) const {
    if (m_wholeSize >= 0 && (found == FieldResult::kMissing || range.complete != m_wholeSize)) {
        return FieldText(headerEnd, "Content-Range") +
               " does not give the whole size the local file's bytes came with, " + std::to_string(m_wholeSize) +
               " bytes";
    }
    // A server that ignores If-Range still names the file it sends.
    if (!m_validator.empty() && !validator.empty() && validator != m_validator) {
        return "a 206 for another file " + ValidatorsText(m_validator, validator);
    }
    return std::string();
}

// A 206 must continue the local file and run to the file's end (only
// "bytes=N-" is ever asked for). Without a length of its own, only a
// Content-Range with the complete length says where it ends.
bool CNetworkHTTP::CheckRange(size_t headerEnd, FieldResult found, const ContentRange& range,
                              int64_t* lengthInOut) {
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

// Cuts the local file so that the same URL is asked again from byte 0: a
// server that gets ranges wrong still delivers the file, and no bytes of
// another file stay in front of the new ones.
int CNetworkHTTP::StartOver(const std::string& why) {
    LogTransfer(EntryKind::Notice, "HTTP GET " + HttpUrlText(m_parts),
                why + "; the local file is cut and fetched again from its first byte");
    if (RewriteFromStart()) return kStatusStartOver;
    Refuse("the local file could not be cut to start over");
    return kStatusRefused;
}

// A whole-file answer to a request with a range: the server ignored the
// range, or (after If-Range) the file changed there. Either way the local
// bytes are not continued.
bool CNetworkHTTP::TakeWholeFile(const std::string& validator) {
    if (m_nReceived > 0) {
        const std::string why = SendsIfRange() ? "the file changed on the server " +
                                                     ValidatorsText(m_validator, validator)
                                               : "the whole file came instead of the range from byte " +
                                                     std::to_string(m_nReceived);
        LogTransfer(EntryKind::Notice, "HTTP GET " + HttpUrlText(m_parts),
                    why + "; fetched again from its first byte");
    }
    return RewriteFromStart() || Refuse("the local file could not be cut for a whole-file answer");
}

// Writes from byte 0 again and cuts the old bytes, so that none survive past
// the new end (also when this attempt breaks off early and a later one resumes).
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
