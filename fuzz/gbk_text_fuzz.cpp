// GBK bytes from any of the launcher's files, decoded to UTF-8. What decodes
// must encode back to the same bytes: the files are rewritten from the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view gbk(reinterpret_cast<const char*>(data), size);
    std::string utf8;
    size_t errorOffset = 0;
    if (!GbkToUtf8(gbk, &utf8, &errorOffset)) {
        if (errorOffset >= size) __builtin_trap();
        return 0;
    }
    std::string back;
    if (!IsValidUtf8(utf8) || !Utf8ToGbk(utf8, &back) || back != gbk) __builtin_trap();
    return 0;
}
