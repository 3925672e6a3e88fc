// Test-only stand-in for the GBK conversions, linked only while the real
// module is missing from this tree (see tests/update/CMakeLists.txt). It uses
// the same platform tables as the real one: iconv natively, code page 936 on
// Windows.
#include "platform/text_encoding.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

#if defined(_WIN32)
bool Convert(std::string_view in, UINT fromCp, UINT toCp, std::string* out) {
    out->clear();
    if (in.empty()) return true;
    const int wn = MultiByteToWideChar(fromCp, MB_ERR_INVALID_CHARS, in.data(),
                                       static_cast<int>(in.size()), nullptr, 0);
    if (wn <= 0) return false;
    std::wstring wide(static_cast<size_t>(wn), L'\0');
    MultiByteToWideChar(fromCp, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                        wide.data(), wn);
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(toCp, 0, wide.data(), wn, nullptr, 0, nullptr,
                                      toCp == CP_UTF8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(toCp, 0, wide.data(), wn, out->data(), n, nullptr,
                        toCp == CP_UTF8 ? nullptr : &lossy);
    return !lossy;
}
bool Gbk(std::string_view in, std::string* out) { return Convert(in, 936, CP_UTF8, out); }
bool ToGbk(std::string_view in, std::string* out) { return Convert(in, CP_UTF8, 936, out); }
#else
bool Convert(std::string_view in, const char* from, const char* to, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(in);
    char* src = input.data();
    size_t srcLeft = input.size();
    std::string buffer(input.size() * 4 + 4, '\0');
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || srcLeft != 0) return false;
    buffer.resize(buffer.size() - dstLeft);
    *out = buffer;
    return true;
}
bool Gbk(std::string_view in, std::string* out) { return Convert(in, "GBK", "UTF-8", out); }
bool ToGbk(std::string_view in, std::string* out) { return Convert(in, "UTF-8", "GBK", out); }
#endif

}  // namespace

bool GbkToUtf8(std::string_view gbk, std::string* utf8Out, size_t* errorOffsetOut) {
    if (Gbk(gbk, utf8Out)) return true;
    if (errorOffsetOut) *errorOffsetOut = 0;
    return false;
}

bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut, size_t* errorOffsetOut) {
    if (ToGbk(utf8, gbkOut)) return true;
    if (errorOffsetOut) *errorOffsetOut = 0;
    return false;
}

bool IsValidUtf8(std::string_view text) {
    std::string ignored;
#if defined(_WIN32)
    return Convert(text, CP_UTF8, CP_UTF8, &ignored);
#else
    return Convert(text, "UTF-8", "UTF-8", &ignored);
#endif
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}
