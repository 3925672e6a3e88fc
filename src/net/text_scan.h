// Small readers for numbers in protocol texts, bounded by an end pointer
// (received bytes carry no terminator).
#pragma once

#include <cstddef>
#include <cstdint>

namespace net_text {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number the way "%d" does: blanks skipped, an optional sign,
// then digits. Moves *cursor past it. False when no digit follows or the
// number has more than kMaxDigits digits (never overflows).
constexpr int kMaxDigits = 18;
[[nodiscard]] bool ScanInt(const char** cursor, const char* end, int64_t* valueOut);

// The largest size a server may announce: files and offsets are 64-bit signed.
constexpr int64_t kMaxSizeValue = INT64_MAX;
// Reads a run of decimal digits (no blanks, no sign) as a size up to
// kMaxSizeValue and moves *cursor past it. False when no digit follows or
// the number is larger; it is refused before it can overflow.
[[nodiscard]] bool ScanSize(const char** cursor, const char* end, int64_t* valueOut);

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
// True when [begin, begin + size) equals text in ASCII letters of any case.
[[nodiscard]] bool EqualsNoCase(const char* begin, size_t size, const char* text);

// Finds a byte string inside [begin, end); nullptr when absent.
[[nodiscard]] const char* Find(const char* begin, const char* end, const char* needle,
                               size_t needleSize);

}  // namespace net_text
