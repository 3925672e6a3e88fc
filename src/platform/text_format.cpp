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

ByteUnit ByteUnitFor(double bytes) {
    static const ByteUnit kUnits[] = {
        {"KB", 1024.0},
        {"MB", 1024.0 * 1024.0},
        {"GB", 1024.0 * 1024.0 * 1024.0},
        {"TB", 1024.0 * 1024.0 * 1024.0 * 1024.0},
        {"PB", 1024.0 * 1024.0 * 1024.0 * 1024.0 * 1024.0},
        {"EB", 1024.0 * 1024.0 * 1024.0 * 1024.0 * 1024.0 * 1024.0},
    };
    // At 1023.95 and above, "%.1f" prints 1024.0: move up before rounding does.
    constexpr double kMoveUpAt = 1023.95;
    size_t unit = 0;
    while (unit + 1 < sizeof kUnits / sizeof kUnits[0] && bytes / kUnits[unit].bytes >= kMoveUpAt) ++unit;
    return kUnits[unit];
}

std::string FormatByteCount(std::uint64_t bytes) {
    if (bytes < 1024) return StringPrintf("%llu B", static_cast<unsigned long long>(bytes));
    const ByteUnit unit = ByteUnitFor(static_cast<double>(bytes));
    return StringPrintf("%.1f %s", static_cast<double>(bytes) / unit.bytes, unit.name);
}
