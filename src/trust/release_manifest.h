// The manifest of a version folder on the update server (release.manifest)
// and the trusted comments of the release signatures. A manifest names every
// file of its folder with its SHA-256 and size, so that one signature over
// the manifest vouches for every package beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A version folder holds a handful of packages and lists; these bound what a
// hostile or damaged manifest can make the launcher read and keep.
constexpr size_t kMaxManifestLines = 10000;
constexpr size_t kMaxManifestLineBytes = 1024;
constexpr size_t kMaxManifestBytes = 4 * 1024 * 1024;
constexpr size_t kSha256HexDigits = 64;

struct ManifestEntry {
    std::string name;          // UTF-8, a plain file name of the version folder (no separator, no "..")
    std::uint64_t size = 0;
    std::string sha256Hex;     // 64 lower-case hex digits
};
// The manifest is GBK text, one line per file: "<sha256hex> <size> <name>" (name may contain spaces; it is the rest of the line); CRLF or LF.
// Refuses bad hex, sizes that are not decimal or overflow 64 bits, empty or unsafe names, duplicate names (ASCII case-folded), more than a named limit of lines.
[[nodiscard]] bool ParseReleaseManifest(std::string_view gbkText, std::vector<ManifestEntry>* entriesOut);
std::string FormatReleaseManifest(const std::vector<ManifestEntry>& entries);   // GBK, CRLF lines, sorted by name
// The same, but false (instead of an empty text) when an entry could not be
// read back: a name that GBK cannot hold or that is not a safe plain name, a
// digest that is not 64 lower-case hex digits, a duplicate name or too many
// entries.
[[nodiscard]] bool TryFormatReleaseManifest(const std::vector<ManifestEntry>& entries,
                                            std::string* gbkTextOut);
// True when name may stand in a manifest: a plain file name that is safe on
// Windows (see IsSafeRelativePath) and holds no separator.
[[nodiscard]] bool IsManifestFileName(std::string_view name);

struct ListComment { std::uint64_t serial = 0; std::int64_t expires = 0; };          // "vantorel serial=N expires=UNIX_SECONDS"
struct ManifestComment { std::string version; std::uint64_t serial = 0; };            // "vantorel version=a.b.c.d serial=N"
// Both read "vantorel" and then space-separated key=value fields in any
// order; each required field exactly once, fields of later signers ignored.
[[nodiscard]] bool ParseListComment(std::string_view trustedComment, ListComment* commentOut);
[[nodiscard]] bool ParseManifestComment(std::string_view trustedComment, ManifestComment* commentOut);
std::string FormatListComment(const ListComment& comment);
std::string FormatManifestComment(const ManifestComment& comment);
// "a.b.c.d": four decimal numbers of one to nine digits.
[[nodiscard]] bool IsReleaseVersionText(std::string_view version);
