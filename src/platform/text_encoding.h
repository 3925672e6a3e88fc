// GBK <-> UTF-8 at the boundary of the files that are stored in GBK
// (configuration, lists, version file, hand-off file). Inside the program
// every narrow string is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// GBK here means the Windows code page 936: ASCII, 0x80 as the euro sign, and
// the two-byte characters (lead 0x81-0xFE, trail 0x40-0x7E, 0x80-0xFE). The
// user-defined areas, which Windows maps into the private use area and glibc
// does not map at all, are refused on both sides, so the same bytes are
// accepted or refused alike by the Windows and the Linux build.
//
// Both return false on an invalid or unmappable sequence and then set
// *errorOffsetOut (when given) to the byte offset in the input where it starts.
// Nothing is guessed or replaced; the output is left empty on failure.
[[nodiscard]] bool GbkToUtf8(std::string_view gbk, std::string* utf8Out,
                             size_t* errorOffsetOut = nullptr);
[[nodiscard]] bool Utf8ToGbk(std::string_view utf8, std::string* gbkOut,
                             size_t* errorOffsetOut = nullptr);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence).
bool IsValidUtf8(std::string_view text);
// Offset of the first byte that does not start a well-formed UTF-8 sequence;
// std::string_view::npos when the whole text is well-formed.
size_t FirstInvalidUtf8Offset(std::string_view text);
// Length (1..4) of the well-formed UTF-8 sequence that starts at pos; 0 when
// the bytes there are not one (or pos is at or past the end).
size_t Utf8SequenceLength(std::string_view text, size_t pos);

// Length of the longest prefix of text not longer than maxBytes that ends on
// a character boundary of the UTF-8 text (a cut there never splits a character).
// A byte that is not part of a well-formed sequence counts as a character of
// its own, so invalid text is cut between its bytes.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);
