// GBK through the Windows code page 936 tables, by way of UTF-16.
#include "platform/text_encoding.h"

#include <windows.h>

#include <climits>

#include "platform/text_encoding_detail.h"
#include "platform/win32/wide.h"

namespace {

constexpr UINT kGbkCodePage = 936;

bool IsPrivateUse(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// Decodes one GBK character alone; true when it is valid and inside GBK as
// both sides define it.
bool DecodesAlone(const char* bytes, int length) {
    wchar_t wide[2];
    const int n = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
    return n == 1 && !IsPrivateUse(wide[0]);
}

// The code page call only says that something failed; walk the characters
// to find where.
size_t LocateGbkError(std::string_view gbk) {
    size_t pos = 0;
    while (pos < gbk.size()) {
        const size_t len = text_detail::GbkCharLength(static_cast<unsigned char>(gbk[pos]));
        if (gbk.size() - pos < len || !DecodesAlone(gbk.data() + pos, static_cast<int>(len))) {
            return pos;
        }
        pos += len;
    }
    return gbk.size();  // not reached when the whole conversion failed
}

bool EncodesAlone(std::wstring_view wide) {
    char bytes[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), bytes, sizeof bytes, nullptr,
                                      &usedDefault);
    return n > 0 && !usedDefault;
}

size_t LocateUtf8Unmappable(std::string_view utf8) {
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t len = Utf8SequenceLength(utf8, pos);
        if (len == 0 || !EncodesAlone(ToWide(utf8.substr(pos, len)))) return pos;
        pos += len;
    }
    return utf8.size();
}

bool Fail(std::string* out, size_t* errorOffsetOut, size_t offset) {
    out->clear();
    if (errorOffsetOut) *errorOffsetOut = offset;
    return false;
}

}  // namespace

bool GbkToUtf8(std::string_view gbk, std::string* utf8Out, size_t* errorOffsetOut) {
    utf8Out->clear();
    if (gbk.empty()) return true;
    if (gbk.size() > static_cast<size_t>(INT_MAX)) return Fail(utf8Out, errorOffsetOut, 0);
    const int inLength = static_cast<int>(gbk.size());
    // Each GBK byte yields at most one UTF-16 unit.
    std::wstring wide(gbk.size(), L'\0');
    const int n = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), inLength,
                                      wide.data(), inLength);
    if (n <= 0) return Fail(utf8Out, errorOffsetOut, LocateGbkError(gbk));
    wide.resize(static_cast<size_t>(n));
    for (wchar_t c : wide) {
        if (IsPrivateUse(c)) return Fail(utf8Out, errorOffsetOut, LocateGbkError(gbk));
    }
    *utf8Out = FromWide(wide);
    return true;
}

bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut, size_t* errorOffsetOut) {
    gbkOut->clear();
    const size_t bad = text_detail::FirstUtf8ErrorForGbk(utf8);
    if (bad != std::string_view::npos) return Fail(gbkOut, errorOffsetOut, bad);
    if (utf8.empty()) return true;
    // The code page calls count in int, and the result may take twice the units.
    if (utf8.size() > static_cast<size_t>(INT_MAX / 2)) return Fail(gbkOut, errorOffsetOut, 0);
    const std::wstring wide = ToWide(utf8);
    // Only basic-plane characters are left, each at most two GBK bytes.
    std::string gbk(wide.size() * 2, '\0');
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), gbk.data(),
                                      static_cast<int>(gbk.size()), nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return Fail(gbkOut, errorOffsetOut, LocateUtf8Unmappable(utf8));
    gbk.resize(static_cast<size_t>(n));
    *gbkOut = std::move(gbk);
    return true;
}
