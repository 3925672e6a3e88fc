// The server's version list: one version per line, "a.b.c.d \t mandatory \t
// extra", in any order, and in a signed release a fourth field, the SHA-256
// of that version's release.manifest (the manifest pin). Parsing, the choice
// of the next version step and the writing of a pin are pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The version list is a few lines; anything larger is not a version list.
constexpr size_t kMaxVersionListBytes = 1024 * 1024;

struct VersionEntry {
    int32_t nVersion = 0;
    int32_t nMandatory = 0;
    int32_t nExtra = 0;
    // The fourth field as it stands (empty when the line has three): the
    // lower-case SHA-256 hex of the version's release.manifest when signed.
    std::string manifestSha256;
};

// The list's bytes as UTF-8 text: cut at a NUL as a C string would be; a
// list that starts with the UTF-8 byte-order mark (as editors save it) is
// UTF-8 after the mark, any other list GBK. False for a list over
// kMaxVersionListBytes or one that is not valid in its encoding.
[[nodiscard]] bool DecodeVersionList(std::string raw, std::string* textOut);

enum class VersionListParse { Ok, NoLines, NoEntries };

// Lines cut at "\n" and trimmed, fields cut at "\t"; lines with fewer than
// three fields are skipped, fields after the fourth are ignored. The entries
// come back sorted, highest first.
[[nodiscard]] VersionListParse ParseVersionList(const std::string& content,
                                                std::vector<VersionEntry>* entriesOut);

enum class VersionChoice { UpToDate, Target };

// From sorted entries (highest first): UpToDate when the newest is not above
// installed; otherwise the next listed version above the installed one, or
// the newest when installed is not listed.
[[nodiscard]] VersionChoice ChooseTarget(const std::vector<VersionEntry>& sorted, int32_t installed,
                                         VersionEntry* targetOut);

// The list's bytes with the fourth field of every line of version set to
// sha256Hex (appended to a line of three fields, put in place of any other),
// every other byte as it was: the line ends, a byte-order mark, GBK text and
// the lines of other versions. Lines that ParseVersionList skips, and
// anything after a NUL, stay as they are.
std::string PinManifest(const std::string& list, int32_t version, const std::string& sha256Hex);

// The leading decimal number of a text, as the C library's atol reads it
// (blanks, an optional sign, digits), but held at the 32-bit limits instead
// of overflowing.
int32_t LeadingNumber(const std::string& text);
