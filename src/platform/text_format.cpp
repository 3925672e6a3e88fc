#include "platform/text_format.h"

#include <cstdio>

std::string StringPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = StringPrintfV(format, args);
    va_end(args);
    return out;
}

std::string StringPrintfV(const char* format, va_list args) {
    if (format == nullptr) return {};
    // The first pass only measures; the list is consumed by it, so the second
    // pass works on a copy taken before.
    va_list measureArgs;
    va_copy(measureArgs, args);
    const int length = std::vsnprintf(nullptr, 0, format, measureArgs);
    va_end(measureArgs);
    if (length <= 0) return {};

    std::string out(static_cast<size_t>(length), '\0');
    va_list writeArgs;
    va_copy(writeArgs, args);
    // The terminating NUL goes into the string's own spare byte (data()[size()]).
    const int written = std::vsnprintf(out.data(), out.size() + 1, format, writeArgs);
    va_end(writeArgs);
    if (written != length) return {};
    return out;
}

bool ReadDecimal(std::string_view text, std::uint64_t max, std::uint64_t* valueOut) {
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *valueOut = value;
    return true;
}

std::string LowerHex(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}
