// printf-style formatting into a std::string of any length. Never formats into
// a fixed buffer, so a long argument cannot overflow or be cut.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The MinGW runtime behind the Windows build is the C99-conforming one (%zu,
// %lld); its own macro names that dialect so the compiler checks against it.
#if defined(__MINGW_PRINTF_FORMAT)
#define VANTOREL_PRINTF_LIKE(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define VANTOREL_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VANTOREL_PRINTF_LIKE(fmt, args)
#endif

// Empty when the format itself is malformed (the C library reports an error).
std::string StringPrintf(const char* format, ...) VANTOREL_PRINTF_LIKE(1, 2);
std::string StringPrintfV(const char* format, va_list args);

// A whole text of decimal digits (no blank, no sign) as a number up to max;
// false for an empty text, any other character, or a larger number, which is
// refused before it can overflow.
[[nodiscard]] bool ReadDecimal(std::string_view text, std::uint64_t max, std::uint64_t* valueOut);

// count bytes as 2 * count lower-case hex digits, the first byte first.
std::string LowerHex(const unsigned char* bytes, size_t count);

// A 1024-based unit of bytes for people.
struct ByteUnit {
    const char* name;  // "KB", "MB", ... "EB"
    double bytes;
};
// The unit a byte count is shown in with one decimal: the largest from KB to
// EB in which it reads at least 1, and the next one up already where one
// decimal would round it to "1024.0" (1023.96 MB reads "1.0 GB"). KB for
// anything smaller.
ByteUnit ByteUnitFor(double bytes);
// A byte count for people: "512 B", "12.0 KB", "300.5 MB", "1.2 GB".
std::string FormatByteCount(std::uint64_t bytes);
