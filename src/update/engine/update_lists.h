// The update list ("package \t member path \t size \t extra" per line) and the
// delete list (one path below the launcher folder per line) of one version
// step, turned into the plan that the execution works through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/fast_file.h"
#include "package/sealed_content.h"

struct PackageMember {
    std::string strPackage;
    std::string strMember;  // path inside the package; its first component is a root folder
    int64_t nSize = 0;      // bytes; files of any size up to 2^63 - 1
    std::string strExtra;   // 32 hex digits: the member's MD5
};

struct PackageGroup {
    std::string name;
    std::vector<PackageMember> members;  // in list order
};

struct UpdatePlan {
    std::string baseUrl;
    std::vector<PackageGroup> packages;     // ascending by the names' GBK bytes
    std::vector<std::string> deleteLines;   // in list order, empty lines included
    int64_t totalSize = 0;                  // sum of the members' sizes
    // The size field of the first line whose size is negative, beyond
    // 2^63 - 1, or would carry the total past it; empty when all add up.
    std::string badSize;
    bool selfUpdate = false;                // a member is the installer program
};

constexpr char kInstallerFileName[] = "VantorelPath.exe";
// Lines of one list beyond this count are not a real version step.
constexpr size_t kMaxListLines = 1000000;
// The largest enciphered list a whole-file read accepts; a download of a list
// stops as soon as it shows to be larger.
constexpr int64_t kMaxListFileBytes = kMaxWholeFileBytes + kSealOverheadBytes;

// Fills packages, totalSize, badSize and selfUpdate from the update list's
// lines; lines with fewer than four fields are skipped, and a line whose
// fields repeat an earlier line's exactly counts once. A size field is read
// like atol, 64 bits wide: text without a leading number counts as 0.
void BuildUpdatePlan(const std::vector<std::string>& updateLines, UpdatePlan* planOut);

// The installer program itself: the member path's file name is exactly
// kInstallerFileName ("Root\\VantorelPath.exe.config" is an ordinary member).
bool IsInstallerMember(const std::string& memberPath);

// Where a member is installed, relative to the launcher folder: the member
// path without its first component (the whole path when it has none).
std::string InstalledRelativePath(const std::string& memberPath);

// Every package name must be a plain file name, every member path, installed
// place and non-empty delete line a relative path that stays below its
// folder, and no member may be unpacked at (or below) the place in the work
// folder where a package is downloaded; names compare as Windows compares
// them. False with the first offending text.
[[nodiscard]] bool CheckPlanPaths(const UpdatePlan& plan, std::string* offendingOut);

// One spelling for names that Windows takes as the same file: "/" as "\",
// ASCII letters in lower case.
std::string SameFileKey(const std::string& path);

// True when the extra field is an MD5 digest (32 hex digits, either case).
bool IsDigestText(const std::string& text);

// One line of patchlist.data: a delta (VCDIFF or bsdiff, as its first bytes
// say), a member of a delta package, that turns the installed file whose MD5
// is sourceMd5 into the new file whose MD5 is targetMd5. Fields in this
// order, tab-separated.
struct DeltaMember {
    std::string package;    // the delta package, a plain file name
    std::string member;     // the delta's name inside it
    std::string place;      // the file it patches, relative to the launcher folder
    int64_t size = 0;       // bytes of the delta
    std::string sourceMd5;  // 32 lower-case hex digits
    std::string targetMd5;
};

constexpr char kPatchListName[] = "patchlist.data";
// A field longer than this is no path, name or number of a real release.
constexpr size_t kMaxPatchFieldBytes = 1024;

// The lines of a patch list (UTF-8, empty lines and a line's trailing CR
// ignored), whole or not at all: false with the first offending line when a
// line has not six fields, a field is too long, the package is not a plain
// file name, the member or place is not a safe relative path, the size is not
// a decimal number of at most 2^63 - 1, a digest is not 32 hex digits, or a
// place is named twice. The list is then of no use, and the step goes by
// full packages.
[[nodiscard]] bool ParsePatchList(const std::string& text, std::vector<DeltaMember>* membersOut,
                                  std::string* offendingOut);
// The list's text, one line per member, each ended by "\n".
std::string FormatPatchList(const std::vector<DeltaMember>& members);
