// Rules shared by the two GBK adapters (glibc iconv and Win32 code page 936),
// so that both accept and refuse exactly the same characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace text_detail {

// Code point of the well-formed sequence of length len at pos.
uint32_t DecodeUtf8At(std::string_view text, size_t pos, size_t len);

// GBK holds only characters of the basic plane, and the private use area is
// refused (see text_encoding.h). glibc would also drop the tag characters
// U+E0000-U+E007F silently instead of reporting them; refusing everything
// above U+FFFF first keeps them from vanishing.
bool IsOutsideGbk(uint32_t codePoint);

// Offset of the first sequence that is not well-formed UTF-8 or names a
// character outside GBK; npos when there is none.
size_t FirstUtf8ErrorForGbk(std::string_view utf8);

// Bytes of the GBK character that starts with this byte: 2 for a lead byte
// (0x81-0xFE), else 1.
inline size_t GbkCharLength(unsigned char first) { return first >= 0x81 && first <= 0xFE ? 2 : 1; }

}  // namespace text_detail
