// The state index of a version folder (state.data): every file of that
// version with its size and digests, and where its exact bytes lie on the
// server, down to the member's local header in a package, so that a single
// member can be fetched by byte range from whichever version folder still
// carries it. The file is enciphered like the lists and holds GBK text; the
// functions here read and write its UTF-8 text, as ParsePatchList does.
//
//   vantorel-state <TAB> 1 <TAB> a.b.c.d <TAB> N
//   place <TAB> size <TAB> md5 <TAB> sha256 <TAB> source version <TAB> package
//       <TAB> member <TAB> local header offset <TAB> compressed size <TAB> method
//
// N lines follow the first one, each ended by "\n", sorted by ComparePlaces
// and naming each place once. Numbers are decimal without sign or leading
// zeros, digests lower-case hex. The source is the newest version folder, not
// newer than the index's own version, whose package holds that content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/fast_file.h"

constexpr char kStateIndexName[] = "state.data";
constexpr char kStateIndexMagic[] = "vantorel-state";
constexpr int kStateIndexFormat = 1;
// A game of 100,000 files gives an index of about 30 MB (some 300 bytes a
// line with places of 60 characters). The text must stay within a whole-file
// read, so that the index is read and fetched as the lists are; GBK never
// takes more bytes than UTF-8, so a text under this cap is a file under it.
constexpr size_t kMaxStateTextBytes = kMaxWholeFileBytes;
// Even the shortest lines could not fit many more entries in that text.
constexpr size_t kMaxStateEntries = 500000;
// A place, package or member name longer than this is none of a real game.
constexpr size_t kMaxStateFieldBytes = 1024;

constexpr uint16_t kStateMethodStored = 0;
constexpr uint16_t kStateMethodDeflated = 8;

struct StateEntry {
    std::string place;          // relative to the launcher folder, as version.data names it
    uint64_t size = 0;          // of the file, at most 2^63 - 1
    std::string md5;            // 32 lower-case hex digits
    std::string sha256;         // 64 lower-case hex digits
    std::string sourceVersion;  // "a.b.c.d", the version folder that holds the package
    std::string package;        // a plain file name in that folder
    std::string member;         // the member's name, as the update list spells it
    uint64_t headerOffset = 0;  // of the member's local header in the package
    uint64_t packedSize = 0;    // of the member's data in the package
    uint16_t method = kStateMethodStored;
};

struct StateIndex {
    std::string version;              // "a.b.c.d", the version the files make up
    std::vector<StateEntry> entries;  // sorted by ComparePlaces once parsed
};

// Orders places as Windows tells them apart: "/" as "\", ASCII letters
// without case, then byte for byte. Zero: the same file.
int ComparePlaces(std::string_view a, std::string_view b);

// Orders maps and sets of places as ComparePlaces does.
struct PlaceLess {
    bool operator()(const std::string& a, const std::string& b) const { return ComparePlaces(a, b) < 0; }
};

// The whole text or nothing: false with the first offending line (or what is
// wrong with the text as a whole) when the first line is not the header,
// the count differs from the lines that follow or exceeds kMaxStateEntries,
// the text exceeds kMaxStateTextBytes or does not end with its last line,
// a line has not ten fields, a field is too long or out of range, a place,
// package or member is not a safe path, a source version is newer than the
// index's own, a member's sizes do not fit its method, or places are out of
// order or named twice.
[[nodiscard]] bool ParseStateIndex(std::string_view text, StateIndex* indexOut, std::string* offendingOut);

// The text of an index whose entries may come in any order; false, with the
// offending place or field, when the result would not read back.
[[nodiscard]] bool FormatStateIndex(const StateIndex& index, std::string* textOut, std::string* offendingOut);

// The entry of a place (compared as ComparePlaces does) in a parsed index;
// null when the index does not name it.
const StateEntry* FindStateEntry(const StateIndex& index, std::string_view place);

// "a.b.c.d" as the launcher names version folders: the text of a version
// number of at least 1.0.0.0 whose last three parts are single digits.
bool IsVersionFolderText(std::string_view text);
