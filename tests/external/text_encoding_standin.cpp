// A minimal stand-in for the core's GBK module, linked into this folder's
// tests (and the benchmarks) only while the core does not define it yet.
#include "platform/text_encoding.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <string>

namespace {

#if defined(_WIN32)
bool Convert(UINT from, UINT to, std::string_view in, std::string* out) {
    if (in.empty()) {
        out->clear();
        return true;
    }
    const int inLength = static_cast<int>(in.size());
    const int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), inLength, nullptr, 0);
    if (wide <= 0) return false;
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), inLength, &w[0], wide);
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr,
                                          to == CP_UTF8 ? nullptr : &lossy);
    if (bytes <= 0 || lossy) return false;
    out->assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(to, 0, w.data(), wide, &(*out)[0], bytes, nullptr, nullptr);
    return true;
}
#else
bool Convert(const char* from, const char* to, std::string_view in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(in.size() * 4 + 4, '\0');
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = &buffer[0];
    size_t outLeft = buffer.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0) return false;
    buffer.resize(buffer.size() - outLeft);
    *out = buffer;
    return true;
}
#endif

}  // namespace

bool GbkToUtf8(std::string_view gbk, std::string* utf8Out, size_t* errorOffsetOut) {
    if (errorOffsetOut) *errorOffsetOut = 0;
#if defined(_WIN32)
    return Convert(936, CP_UTF8, gbk, utf8Out);
#else
    return Convert("GBK", "UTF-8", gbk, utf8Out);
#endif
}

bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut, size_t* errorOffsetOut) {
    if (errorOffsetOut) *errorOffsetOut = 0;
#if defined(_WIN32)
    return Convert(CP_UTF8, 936, utf8, gbkOut);
#else
    return Convert("UTF-8", "GBK", utf8, gbkOut);
#endif
}

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        unsigned int code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (extra > text.size() - 1 - i) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3F);
        }
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}
