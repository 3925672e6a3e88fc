// GBK through glibc's iconv. glibc's "GBK" is code page 936 as Windows has it
// (0x80 is the euro sign there too), apart from the user-defined areas, which
// glibc refuses and the shared rules refuse on Windows as well.
#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

#include "platform/text_encoding_detail.h"

namespace {

constexpr char kGbkName[] = "GBK";

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid()) iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Converts all of input; maxOutput bounds the result for every valid input.
// On an invalid or incomplete sequence iconv stops at its first byte, which
// is the offset reported.
bool Convert(const char* to, const char* from, std::string_view input, size_t maxOutput,
             std::string* out, size_t* errorOffsetOut) {
    out->clear();
    IconvHandle cd(to, from);
    if (!cd.Valid()) {
        if (errorOffsetOut) *errorOffsetOut = 0;
        return false;
    }
    std::string buffer(maxOutput, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    if (iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
        if (errorOffsetOut) *errorOffsetOut = input.size() - inLeft;
        return false;
    }
    buffer.resize(buffer.size() - outLeft);
    *out = std::move(buffer);
    return true;
}

}  // namespace

bool GbkToUtf8(std::string_view gbk, std::string* utf8Out, size_t* errorOffsetOut) {
    // One GBK byte yields at most three UTF-8 bytes (0x80 -> U+20AC).
    return Convert("UTF-8", kGbkName, gbk, gbk.size() * 3, utf8Out, errorOffsetOut);
}

bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut, size_t* errorOffsetOut) {
    // Checked first: glibc's own UTF-8 reading differs in details, and it
    // drops some characters without a word instead of refusing them.
    const size_t bad = text_detail::FirstUtf8ErrorForGbk(utf8);
    if (bad != std::string_view::npos) {
        gbkOut->clear();
        if (errorOffsetOut) *errorOffsetOut = bad;
        return false;
    }
    // Every character of the basic plane takes at least as many UTF-8 bytes
    // as GBK bytes.
    return Convert(kGbkName, "UTF-8", utf8, utf8.size(), gbkOut, errorOffsetOut);
}
