#include "net/http_chunked.h"

#include <cstring>

#include "net/http_header.h"
#include "net/text_scan.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const char lower = net_text::AsciiLower(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

ChunkedDecoder::Status ChunkedDecoder::Invalid(const std::string& why) {
    m_error = why;
    m_status = Status::kInvalid;
    return m_status;
}

// Collects bytes up to a LF into m_line (a CR before it is dropped). False
// when the line grows past its limit.
bool ChunkedDecoder::TakeLine(const char** p, const char* end, bool* completeOut) {
    const char* lf = static_cast<const char*>(std::memchr(*p, '\n', static_cast<size_t>(end - *p)));
    const char* stop = lf == nullptr ? end : lf;
    m_line.append(*p, stop);
    *p = lf == nullptr ? end : lf + 1;
    *completeOut = lf != nullptr;
    if (*completeOut && !m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    return m_line.size() <= kMaxChunkLineBytes;
}

// "hex-size [; extensions]": the extensions are dropped.
bool ChunkedDecoder::OnSizeLine() {
    size_t digits = 0;
    int64_t size = 0;
    while (digits < m_line.size() && HexValue(m_line[digits]) >= 0) {
        // Counted before the digit is taken in: a sixteenth would overflow.
        if (digits == kMaxChunkSizeDigits) return false;
        size = size * 16 + HexValue(m_line[digits++]);
    }
    size_t rest = digits;
    while (rest < m_line.size() && (m_line[rest] == ' ' || m_line[rest] == '\t')) ++rest;
    if (digits == 0 || (rest < m_line.size() && m_line[rest] != ';')) return false;
    m_chunkLeft = size;
    m_state = size == 0 ? State::kTrailer : State::kData;
    return true;
}

bool ChunkedDecoder::OnTrailerLine() {
    m_trailerBytes += m_line.size() + 2;
    if (m_line.empty()) m_state = State::kEnded;
    return m_trailerBytes <= kMaxHeaderBytes;
}

ChunkedDecoder::Status ChunkedDecoder::Feed(const char* data, size_t size, ByteSink& out) {
    const char* p = data;
    const char* const end = data + size;
    while (m_status == Status::kMore && p < end) {
        if (m_state == State::kData) {
            const int64_t available = end - p;
            const size_t take = static_cast<size_t>(available < m_chunkLeft ? available : m_chunkLeft);
            if (!out.Write(p, take)) return m_status = Status::kSinkRefused;
            p += take;
            m_chunkLeft -= static_cast<int64_t>(take);
            if (m_chunkLeft == 0) m_state = State::kDataEnd;
            continue;
        }
        bool complete = false;
        if (!TakeLine(&p, end, &complete)) return Invalid("a chunk size or trailer line over the limit");
        if (!complete) continue;
        if (m_state == State::kSizeLine) {
            if (!OnSizeLine()) return Invalid("chunk size line " + m_line.substr(0, 64) + " unreadable");
        } else if (m_state == State::kDataEnd) {
            if (!m_line.empty()) return Invalid("chunk data longer than its size");
            m_state = State::kSizeLine;
        } else if (!OnTrailerLine()) {
            return Invalid("trailer over the header limit");
        } else if (m_state == State::kEnded) {
            m_status = Status::kDone;
        }
        m_line.clear();
    }
    return m_status;
}
