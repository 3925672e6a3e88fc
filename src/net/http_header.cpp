#include "net/http_header.h"

#include <cstring>

#include "net/text_scan.h"

namespace {

bool IsRequestSafe(const std::string& text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F) return false;
    }
    return true;
}

// Calls visit(valueBegin, valueEnd) for every field named exactly `name` at
// a line start; stops early when visit returns false.
template <typename Visit>
void ForEachField(const char* header, size_t size, const char* name, Visit visit) {
    const size_t nameSize = std::strlen(name);
    const char* end = header + size;
    const char* line = static_cast<const char*>(std::memchr(header, '\n', size));
    while (line != nullptr && ++line < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (lineEnd == nullptr) lineEnd = end;
        if (static_cast<size_t>(lineEnd - line) > nameSize && std::memcmp(line, name, nameSize) == 0 &&
            line[nameSize] == ':') {
            const char* value = line + nameSize + 1;
            const char* valueEnd = lineEnd;
            while (value < valueEnd && (*value == ' ' || *value == '\t')) ++value;
            while (valueEnd > value && net_text::IsBlank(valueEnd[-1])) --valueEnd;
            if (!visit(value, valueEnd)) return;
        }
        line = lineEnd < end ? lineEnd : nullptr;
    }
}

// A plain run of digits filling [begin, end) exactly.
bool ReadDigits(const char* begin, const char* end, int64_t* valueOut) {
    if (begin == end || end - begin > net_text::kMaxDigits) return false;
    int64_t value = 0;
    for (const char* p = begin; p < end; ++p) {
        if (!net_text::IsDigit(*p)) return false;
        value = value * 10 + (*p - '0');
    }
    *valueOut = value;
    return true;
}

}  // namespace

bool SplitHttpUrl(const std::string& url, HttpUrlParts* partsOut) {
    if (url.size() <= kHttpSchemeLength) return false;
    const size_t separator = url.find_first_of("/\\", kHttpSchemeLength);
    if (separator == std::string::npos || separator == kHttpSchemeLength) return false;
    HttpUrlParts parts;
    parts.hostPart = url.substr(kHttpSchemeLength, separator - kHttpSchemeLength);
    parts.path = url.substr(separator);
    if (parts.hostPart.size() > kMaxUrlHostBytes || parts.path.size() > kMaxUrlPathBytes) return false;
    if (!IsRequestSafe(parts.hostPart) || !IsRequestSafe(parts.path)) return false;
    if (FormatHttpRequest(parts, kMaxHttpFileBytes).size() > kMaxRequestBytes) return false;
    *partsOut = std::move(parts);
    return true;
}

std::string FormatHttpRequest(const HttpUrlParts& parts, int64_t offset) {
    return "GET " + parts.path + " HTTP/1.1\r\nHost: " + parts.hostPart +
           "\r\nAccept: */*\r\nUser-Agent: DAzudO/1.25\r\nPragma: no-cache\r\n"
           "Cache-Control: no-cache\r\nRange: bytes=" +
           std::to_string(offset) + "-\r\nConnection: close\r\n\r\n";
}

size_t FindHeaderEnd(const char* data, size_t size) {
    const char* found = net_text::Find(data, data + size, "\r\n\r\n", 4);
    return found == nullptr ? 0 : static_cast<size_t>(found - data) + 4;
}

int ParseStatusCode(const char* header, size_t size) {
    const char* end = static_cast<const char*>(std::memchr(header, '\n', size));
    if (end == nullptr) end = header + size;
    const char* p = header;
    while (p < end && net_text::IsBlank(*p)) ++p;
    const char* word = p;
    while (p < end && !net_text::IsBlank(*p)) ++p;
    int64_t code = 0;
    if (p == word || !net_text::ScanInt(&p, end, &code) || code < 0 || code > 999) return 0;
    return static_cast<int>(code);
}

FieldResult ParseContentLength(const char* header, size_t size, int64_t* lengthOut) {
    FieldResult result = FieldResult::kMissing;
    int64_t length = 0;
    ForEachField(header, size, "Content-Length", [&](const char* begin, const char* end) {
        int64_t value = 0;
        if (!ReadDigits(begin, end, &value) || value > kMaxHttpFileBytes ||
            (result == FieldResult::kOk && value != length)) {
            result = FieldResult::kInvalid;
            return false;
        }
        length = value;
        result = FieldResult::kOk;
        return true;
    });
    if (result == FieldResult::kOk) *lengthOut = length;
    return result;
}

FieldResult ParseContentRange(const char* header, size_t size, ContentRange* rangeOut) {
    FieldResult result = FieldResult::kMissing;
    ForEachField(header, size, "Content-Range", [&](const char* begin, const char* end) {
        result = FieldResult::kInvalid;
        const char* dash = static_cast<const char*>(std::memchr(begin, '-', end - begin));
        const char* slash = static_cast<const char*>(std::memchr(begin, '/', end - begin));
        if (end - begin < 6 || std::memcmp(begin, "bytes ", 6) != 0 || dash == nullptr ||
            slash == nullptr || slash < dash) {
            return false;
        }
        ContentRange range;
        const bool whole = slash + 2 == end && slash[1] == '*';
        if (!ReadDigits(begin + 6, dash, &range.first) || !ReadDigits(dash + 1, slash, &range.last) ||
            (!whole && !ReadDigits(slash + 1, end, &range.complete)) || range.last < range.first ||
            (range.complete >= 0 && range.last >= range.complete)) {
            return false;
        }
        *rangeOut = range;
        result = FieldResult::kOk;
        return false;
    });
    return result;
}
