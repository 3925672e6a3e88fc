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

// Calls visit(valueBegin, valueEnd) for every field called `name` (in any
// case) at a line start; stops early when visit returns false.
template <typename Visit>
void ForEachField(const char* header, size_t size, const char* name, Visit visit) {
    const size_t nameSize = std::strlen(name);
    const char* end = header + size;
    const char* line = static_cast<const char*>(std::memchr(header, '\n', size));
    while (line != nullptr && ++line < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (lineEnd == nullptr) lineEnd = end;
        // Field names are case-insensitive: proxies and load balancers send
        // "content-length" or "CONTENT-RANGE" as readily as nginx's forms.
        if (static_cast<size_t>(lineEnd - line) > nameSize &&
            net_text::EqualsNoCase(line, nameSize, name) && line[nameSize] == ':') {
            const char* value = line + nameSize + 1;
            const char* valueEnd = lineEnd;
            while (value < valueEnd && (*value == ' ' || *value == '\t')) ++value;
            while (valueEnd > value && net_text::IsBlank(valueEnd[-1])) --valueEnd;
            if (!visit(value, valueEnd)) return;
        }
        line = lineEnd < end ? lineEnd : nullptr;
    }
}

// A plain run of digits filling [begin, end) exactly, at most kMaxHttpFileBytes.
bool ReadDigits(const char* begin, const char* end, int64_t* valueOut) {
    const char* cursor = begin;
    return net_text::ScanSize(&cursor, end, valueOut) && cursor == end;
}

}  // namespace

std::string HttpUrlText(const HttpUrlParts& parts) {
    return (parts.secure ? "https://" : "http://") + parts.hostPart + parts.path;
}

bool IsHttpsUrl(const std::string& url) {
    return url.size() >= kHttpsSchemeLength &&
           net_text::EqualsNoCase(url.data(), kHttpsSchemeLength, "https://");
}

bool SplitHttpUrl(const std::string& url, HttpUrlParts* partsOut) {
    HttpUrlParts parts;
    parts.secure = IsHttpsUrl(url);
    const size_t schemeLength = parts.secure ? kHttpsSchemeLength : kHttpSchemeLength;
    if (url.size() <= schemeLength) return false;
    const size_t separator = url.find_first_of("/\\", schemeLength);
    if (separator == std::string::npos || separator == schemeLength) return false;
    parts.hostPart = url.substr(schemeLength, separator - schemeLength);
    parts.path = url.substr(separator);
    if (parts.hostPart.size() > kMaxUrlHostBytes || parts.path.size() > kMaxUrlPathBytes) return false;
    if (!IsRequestSafe(parts.hostPart) || !IsRequestSafe(parts.path)) return false;
    const std::string longest = FormatHttpRequest(parts, kMaxHttpFileBytes, std::string(), kMaxHttpFileBytes);
    if (longest.size() > kMaxRequestBytes) return false;
    *partsOut = std::move(parts);
    return true;
}

std::string FormatHttpRequest(const HttpUrlParts& parts, int64_t offset, const std::string& ifRange,
                              int64_t last) {
    return "GET " + parts.path + " HTTP/1.1\r\nHost: " + parts.hostPart +
           "\r\nAccept: */*\r\nUser-Agent: DAzudO/1.25\r\nPragma: no-cache\r\n"
           "Cache-Control: no-cache\r\nRange: bytes=" +
           std::to_string(offset) + "-" + (last < 0 ? std::string() : std::to_string(last)) + "\r\n" +
           (ifRange.empty() ? "" : "If-Range: " + ifRange + "\r\n") +
           "Connection: close\r\n\r\n";
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
        if (!ReadDigits(begin, end, &value) || (result == FieldResult::kOk && value != length)) {
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
        if (end - begin < 6 || !net_text::EqualsNoCase(begin, 6, "bytes ") || dash == nullptr ||
            slash == nullptr || slash < dash) {
            return false;
        }
        ContentRange range;
        const bool whole = slash + 2 == end && slash[1] == '*';
        if (!ReadDigits(begin + 6, dash, &range.first) || !ReadDigits(dash + 1, slash, &range.last) ||
            (!whole && !ReadDigits(slash + 1, end, &range.complete)) || range.last < range.first ||
            (range.complete >= 0 && range.last >= range.complete) ||
            range.last == kMaxHttpFileBytes) {  // its length would not fit
            return false;
        }
        *rangeOut = range;
        result = FieldResult::kOk;
        return false;
    });
    return result;
}

FieldResult ParseTransferEncoding(const char* header, size_t size, bool* chunkedOut) {
    FieldResult result = FieldResult::kMissing;
    ForEachField(header, size, "Transfer-Encoding", [&](const char* begin, const char* end) {
        // A list of codings, possibly over several fields; only "chunked"
        // alone can be undone here, so any other coding refuses the body.
        result = FieldResult::kInvalid;
        bool chunked = false;
        for (const char* p = begin; p < end;) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', end - p));
            const char* itemEnd = comma == nullptr ? end : comma;
            const char* b = p;
            const char* e = itemEnd;
            while (b < e && net_text::IsBlank(*b)) ++b;
            while (e > b && net_text::IsBlank(e[-1])) --e;
            if (b < e) {
                const bool isChunked = net_text::EqualsNoCase(b, static_cast<size_t>(e - b), "chunked");
                if (chunked || !isChunked) return false;
                chunked = true;
            }
            p = itemEnd + 1;
        }
        if (chunked) result = FieldResult::kOk;
        return chunked;
    });
    *chunkedOut = result == FieldResult::kOk;
    return result;
}

bool FindFieldValue(const char* header, size_t size, const char* name, std::string* valueOut) {
    bool found = false;
    ForEachField(header, size, name, [&](const char* begin, const char* end) {
        valueOut->assign(begin, end);
        found = true;
        return false;
    });
    return found;
}

bool IsSafeValidator(const std::string& text) {
    if (text.empty() || text.size() > kMaxValidatorBytes) return false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

std::string ReadValidator(const char* header, size_t size) {
    std::string value;
    if (FindFieldValue(header, size, "ETag", &value)) {
        // entity-tag = [ "W/" ] DQUOTE *etagc DQUOTE; a weak or malformed
        // one gives no validator at all.
        const bool strong = value.size() >= 2 && value.front() == '"' && value.back() == '"' &&
                            value.find_first_of("\" ", 1) == value.size() - 1;
        return strong && IsSafeValidator(value) ? value : std::string();
    }
    if (FindFieldValue(header, size, "Last-Modified", &value) && IsSafeValidator(value)) return value;
    return std::string();
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectTarget ResolveRedirect(const HttpUrlParts& from, std::string location, HttpUrlParts* partsOut) {
    location = location.substr(0, location.find('#'));
    if (location.empty()) return RedirectTarget::kUnusable;
    const size_t colon = location.find(':');
    const size_t slash = location.find_first_of("/\\?");
    const std::string scheme = from.secure ? "https:" : "http:";
    std::string url;
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) {
        // An absolute URL: only http and https can be followed.
        const bool secure = net_text::EqualsNoCase(location.data(), colon, "https");
        if ((!secure && !net_text::EqualsNoCase(location.data(), colon, "http")) ||
            location.compare(colon, 3, "://") != 0) {
            return RedirectTarget::kNotHttp;
        }
        if (from.secure && !secure) return RedirectTarget::kDowngrade;
        url = (secure ? "https://" : "http://") + location.substr(colon + 3);
    } else if (location.compare(0, 2, "//") == 0) {
        url = scheme + location;
    } else if (!location.empty() && location[0] == '/') {
        url = scheme + "//" + from.hostPart + location;
    } else {
        const size_t dirEnd = from.path.find_last_of("/\\");
        url = scheme + "//" + from.hostPart + from.path.substr(0, dirEnd + 1) + location;
    }
    // "http://host" without a path asks for the top of the site.
    if (url.find_first_of("/\\", scheme.size() + 2) == std::string::npos) url += "/";
    return SplitHttpUrl(url, partsOut) ? RedirectTarget::kOk : RedirectTarget::kUnusable;
}
