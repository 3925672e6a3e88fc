// GBK <-> UTF-8 at the boundary of the files that are stored in GBK
// (configuration, lists, version file, hand-off file). Inside the program
// every narrow string is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Both return false on an invalid or unmappable sequence and then set
// *errorOffsetOut (when given) to the byte offset in the input where it starts.
// Nothing is guessed or replaced.
[[nodiscard]] bool GbkToUtf8(std::string_view gbk, std::string* utf8Out,
                             size_t* errorOffsetOut = nullptr);
[[nodiscard]] bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut,
                             size_t* errorOffsetOut = nullptr);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Length of the longest prefix of text not longer than maxBytes that ends on
// a character boundary of the UTF-8 text (a cut there never splits a character).
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);
