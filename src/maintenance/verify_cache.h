// The verification cache: verify.cache in the launcher folder remembers, for
// each file of version.data, the stamp (size, last-write time, volume file
// id) under which its MD5 was last known. A file whose stamp still matches
// is not read again; any other file is read, and its line renewed.
//
// The file is UTF-8 text of our own, one record per line, fields split by
// tabs, the path last (so a path with spaces or tabs is still one field).
// The launcher folder is the player's and may be named in any script, so
// nothing in the file goes through GBK:
//
//   vantorel-verify-cache 2\t<launcher folder>
//   V\t<size>\t<write time>\t<volume>\t<file index>\t<md5>\t<path>
//   U\t...same fields...     recorded by an update for a file it hands to the installer
//   end\t<md5 of every byte before this line>
//
// A cache whose last line is not that check, whose check differs, that has
// a line of any other shape or not well-formed UTF-8, names another folder or
// is of the earlier format (GBK, version 1) is not trusted at all: the
// verification reads every file and writes a new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

constexpr char kVerifyCacheName[] = "verify.cache";
// Far above what the largest version.data can ask for (a line costs at most
// about four times its pair in version.data), and bounded.
constexpr size_t kMaxVerifyCacheBytes = 64u << 20;

struct VerifyCacheLine {
    enum class Kind : char { Verified = 'V', Installed = 'U' };
    Kind kind = Kind::Verified;
    std::string path;  // relative to the launcher folder, UTF-8, as listed
    fs_port::FileStamp stamp;
    std::string md5;  // 32 lower-case hex digits
};

enum class VerifyCacheRead { Usable, Missing, Damaged, Foreign };

// The file's bytes. A line whose path is empty, not well-formed UTF-8 or
// holds a line end is left out.
std::string FormatVerifyCache(const std::string& folder, const std::vector<VerifyCacheLine>& lines);
// Usable only for a whole, unaltered cache of this folder; linesOut untouched otherwise.
[[nodiscard]] VerifyCacheRead ParseVerifyCache(std::string_view bytes, const std::string& folder,
                                               std::vector<VerifyCacheLine>* linesOut);

// <folder>\verify.cache; Missing when there is none, Damaged when it is too
// large or cannot be read.
[[nodiscard]] VerifyCacheRead LoadVerifyCache(const std::string& folder,
                                              std::vector<VerifyCacheLine>* linesOut);
// Whole or not at all: written beside, forced to the disk, renamed over.
[[nodiscard]] bool SaveVerifyCache(const std::string& folder, const std::vector<VerifyCacheLine>& lines);

// Lines looked up by path. Paths match as Windows names them: "/" as "\",
// ASCII letters in either case. The lines must outlive the index.
class VerifyCacheIndex {
public:
    explicit VerifyCacheIndex(const std::vector<VerifyCacheLine>& lines);
    // The MD5 that a line of path records for exactly this stamp; null when none.
    const std::string* Find(const std::string& path, const fs_port::FileStamp& stamp) const;

private:
    std::unordered_multimap<std::string, const VerifyCacheLine*> m_byPath;
};

// The cache after a verification: `seen` (a Verified line for each file whose
// digest is now known), the old lines of listed files that were not looked
// at, and, while an installation is still pending, the Installed lines that
// no file has matched yet. Lines of files no longer listed are dropped.
std::vector<VerifyCacheLine> RenewedCacheLines(const std::vector<VerifyCacheLine>& old,
                                               const std::vector<VerifyCacheLine>& seen,
                                               const std::vector<std::string>& listed,
                                               bool installPending);

// The cache when an update hands files to the installer: the Verified lines
// stay, and `installed` replaces every earlier Installed line.
std::vector<VerifyCacheLine> WithInstalledLines(const std::vector<VerifyCacheLine>& old,
                                                const std::vector<VerifyCacheLine>& installed);

// Before the hand-off: records the files about to be installed (installed
// place, the stamp of the unpacked file that the installer will rename
// there, its checked MD5), so the check after the update need not read them.
// A rename within the volume keeps the stamp; a copy gives another, and the
// file is then read as any changed file is.
[[nodiscard]] bool RecordInstalledFiles(const std::string& folder,
                                        const std::vector<VerifyCacheLine>& installed);
