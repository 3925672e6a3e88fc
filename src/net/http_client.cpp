#include "net/http_client.h"

#include "net/network_socket.h"
#include "platform/file_system.h"

namespace {

constexpr int kTransferOk = 0;
constexpr int kTransferFailed = 1;
constexpr int kTransferRangeRefused = -3;

constexpr int kStatusOk = 0;
constexpr int kStatusRefused = 1;
constexpr int kStatusRangeRefused = 2;

constexpr int kOpenOk = 0;
constexpr int kOpenFailed = 1;
constexpr int kOpenSizeUnreadable = 2;

}  // namespace

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

int CNetworkHTTP::Download(const std::string& url, const std::string& localPath) {
    m_bNotFound = false;
    HttpUrlParts parts;
    if (!SplitHttpUrl(url, &parts)) return http_result::kUnknownHost;
    for (int attempt = 1;; ++attempt) {
        const int result = Attempt(parts, localPath);
        if (result != http_result::kTransferFailed) return result;
        if (attempt >= kHttpAttempts || m_stop.Requested()) return http_result::kTransferFailed;
    }
}

// One attempt: local file, name, connection, transfer. kTransferFailed asks
// the caller for another attempt.
int CNetworkHTTP::Attempt(const HttpUrlParts& parts, const std::string& localPath) {
    if (OpenLocalFile(localPath) != kOpenOk) {
        Reset();
        return http_result::kLocalFile;
    }
    const std::string request = BuildRequest(parts);
    int port = kDefaultHttpPort;
    std::string address;
    if (ResolveHost(parts.hostPart, &port, &address) != 0) {
        Reset();
        return http_result::kUnknownHost;
    }
    CNetworkSocket socket;
    socket.SetStopToken(&m_stop);
    ActiveSocketScope listed(&m_active, &socket);
    if (socket.Open(address.c_str(), port) != kSocketOk) {
        Reset();
        return http_result::kNoConnection;
    }
    const int transfer = Transfer(request, socket);
    socket.Close();
    Reset();
    if (transfer == kTransferOk) return http_result::kOk;
    // The server refused the range: the local file is complete, longer than
    // the remote one or stale. Start over from nothing.
    if (transfer == kTransferRangeRefused) fs_port::RemoveFile(localPath);
    return http_result::kTransferFailed;
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
        return kTransferFailed;
    }
    std::vector<char> receiveBuffer(kHttpReceiveBufferBytes);
    char* const buffer = receiveBuffer.data();
    bool headerComplete = false;
    for (;;) {
        const long n = socket.Receive(buffer, receiveBuffer.size());
        // A close before the header is complete, or before the whole file
        // arrived, fails the attempt; the next one resumes.
        if (n <= 0) return kTransferFailed;
        if (headerComplete) {
            if (!WriteBody(buffer, static_cast<size_t>(n))) return kTransferFailed;
        } else {
            size_t bodyOffset = 0;
            const Header header = CollectHeader(buffer, static_cast<size_t>(n), &bodyOffset);
            if (header == Header::kIncomplete) continue;
            if (header == Header::kRangeRefused) return kTransferRangeRefused;
            if (header == Header::kRefused) return kTransferFailed;
            headerComplete = true;
            if (!WriteBody(m_header.data() + bodyOffset, m_header.size() - bodyOffset)) {
                return kTransferFailed;
            }
        }
        // Content-Length ends the body; anything a server sends beyond it is
        // not part of the file.
        if (headerComplete && m_nReceived >= m_nTotal) {
            return std::fflush(m_hFile.get()) == 0 ? kTransferOk : kTransferFailed;
        }
    }
}

CNetworkHTTP::Header CNetworkHTTP::CollectHeader(const char* data, size_t size,
                                                 size_t* bodyOffsetOut) {
    // Only the tail can complete a "\r\n\r\n" that began in an earlier piece.
    const size_t searchFrom = m_header.size() < 3 ? 0 : m_header.size() - 3;
    m_header.insert(m_header.end(), data, data + size);
    const size_t end = FindHeaderEnd(m_header.data() + searchFrom, m_header.size() - searchFrom);
    if (end == 0) {
        return m_header.size() > kMaxHeaderBytes ? Header::kRefused : Header::kIncomplete;
    }
    const size_t headerEnd = searchFrom + end;
    if (headerEnd > kMaxHeaderBytes) return Header::kRefused;
    switch (ParseStatus(headerEnd)) {
        case kStatusOk:
            *bodyOffsetOut = headerEnd;
            return Header::kComplete;
        case kStatusRangeRefused:
            return Header::kRangeRefused;
        default:
            return Header::kRefused;
    }
}

int CNetworkHTTP::ParseStatus(size_t headerEnd) {
    const char* header = m_header.data();
    const int status = ParseStatusCode(header, headerEnd);
    m_bNotFound = status == 404;
    if (status < 200 || status > 299) return status == 416 ? kStatusRangeRefused : kStatusRefused;
    int64_t length = 0;
    if (ParseContentLength(header, headerEnd, &length) != FieldResult::kOk) return kStatusRefused;
    if (status == 206) {
        ContentRange range;
        const FieldResult found = ParseContentRange(header, headerEnd, &range);
        // A range that does not start where the file ends would corrupt it;
        // one that stops short of a known complete length would be taken
        // for the whole file (only "bytes=N-" is ever asked for).
        if (found == FieldResult::kInvalid ||
            (found == FieldResult::kOk &&
             (range.first != m_nReceived || range.last - range.first + 1 != length ||
              (range.complete >= 0 && range.last + 1 != range.complete)))) {
            return kStatusRefused;
        }
    } else if (!RewriteFromStart()) {
        return kStatusRefused;
    }
    if (length > kMaxHttpFileBytes - m_nReceived) return kStatusRefused;
    m_nTotal = m_nReceived + length;
    if (m_progress) m_progress(m_nReceived, m_nTotal);
    return kStatusOk;
}

// Any answer but 206 means the server ignored the range and sends the whole
// file: start over, and cut the old bytes so none survive past the new end
// (also when this attempt breaks off early and a later one resumes).
bool CNetworkHTTP::RewriteFromStart() {
    m_nReceived = 0;
    return fs_port::SeekFile(m_hFile.get(), 0, SEEK_SET) && fs_port::TruncateFile(m_hFile.get(), 0);
}

bool CNetworkHTTP::WriteBody(const char* data, size_t size) {
    const int64_t room = m_nTotal - m_nReceived;
    const size_t take = static_cast<int64_t>(size) > room ? static_cast<size_t>(room) : size;
    if (take == 0) return true;
    FileSink sink(m_hFile.get());
    if (!sink.Write(data, take)) return false;
    m_nReceived += static_cast<int64_t>(take);
    if (m_progress) m_progress(m_nReceived, m_nTotal);
    return true;
}
