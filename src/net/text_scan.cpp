#include "net/text_scan.h"

#include <cstring>
#include <string_view>

#include "platform/text_format.h"

namespace net_text {

bool ScanInt(const char** cursor, const char* end, int64_t* valueOut) {
    const char* p = *cursor;
    while (p < end && IsBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int64_t value = 0;
    int digits = 0;
    while (p < end && IsDigit(*p)) {
        if (++digits > kMaxDigits) return false;
        value = value * 10 + (*p - '0');
        ++p;
    }
    if (digits == 0) return false;
    *valueOut = negative ? -value : value;
    *cursor = p;
    return true;
}

bool ScanSize(const char** cursor, const char* end, int64_t* valueOut) {
    const char* p = *cursor;
    while (p < end && IsDigit(*p)) ++p;
    uint64_t value = 0;
    if (!ReadDecimal(std::string_view(*cursor, static_cast<size_t>(p - *cursor)), kMaxSizeValue, &value)) {
        return false;
    }
    *valueOut = static_cast<int64_t>(value);
    *cursor = p;
    return true;
}

bool EqualsNoCase(const char* begin, size_t size, const char* text) {
    if (std::strlen(text) != size) return false;
    for (size_t i = 0; i < size; ++i) {
        if (AsciiLower(begin[i]) != AsciiLower(text[i])) return false;
    }
    return true;
}

const char* Find(const char* begin, const char* end, const char* needle, size_t needleSize) {
    if (needleSize == 0 || begin == nullptr || end - begin < static_cast<ptrdiff_t>(needleSize)) {
        return nullptr;
    }
    const char* last = end - needleSize;
    for (const char* p = begin; p <= last; ++p) {
        p = static_cast<const char*>(std::memchr(p, needle[0], static_cast<size_t>(last - p) + 1));
        if (p == nullptr) return nullptr;
        if (std::memcmp(p, needle, needleSize) == 0) return p;
    }
    return nullptr;
}

}  // namespace net_text
