// What a release consists of, worked out from two game folders: which files
// go into which package, what the lists and the new version.data say. The
// functions here compute texts and plans; release_verb.cpp writes them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// The first component of every member path. The launcher drops it when it
// puts a member in place (Root\a\b.dat -> <game>\a\b.dat).
constexpr char kPackageRootFolder[] = "Vantorel";
// Packages are filled up to this many bytes of content; a larger file gets
// a package of its own.
constexpr uint64_t kPackageBudgetBytes = 64u * 1024u * 1024u;
constexpr size_t kMaxMembersPerPackage = 4096;
// The update list and the packages carry sizes as 64-bit signed numbers.
constexpr uint64_t kMaxReleaseFileBytes = INT64_MAX;
constexpr size_t kMaxReleaseFiles = 1000000;
constexpr char kVersionFileName[] = "version.data";

struct TreeFile {
    uint64_t size = 0;
    std::string md5;     // 32 lower-case hex digits
    std::string sha256 = {};  // 64 lower-case hex digits; only of the new version's files
};

// Relative path (back-slashes, UTF-8) -> the file's size and digest.
using TreeIndex = std::map<std::string, TreeFile>;

struct PackageEntry {
    std::string relative;  // path below the game folder, back-slashes
    uint64_t size = 0;
    std::string md5;
};

struct PackagePlan {
    std::string name;  // data1.pak, ...
    std::vector<PackageEntry> members;
};

struct ReleasePlan {
    std::vector<PackagePlan> packages;
    std::vector<std::string> deletions;  // in OLD, not in NEW
    // The packages before this index hold only files that also come by
    // delta; nothing else joins them.
    size_t firstSharedPackage = 0;
};

// Files that are new in NEW or whose digest differs go into packages, in
// path order, each package up to kPackageBudgetBytes; files only in OLD
// become deletions. version.data is never compared: the release writes its own.
// The changed files of byDelta are packed first, in packages of their own, so
// that a launcher that makes them all from deltas leaves those packages on
// the server.
ReleasePlan PlanRelease(const TreeIndex& oldTree, const TreeIndex& newTree,
                        const std::set<std::string>& byDelta = {});

// Adds the new version.data to the last package, or to a package of its own
// when nothing else changed or the last package is full (a file over the
// budget keeps its package to itself).
void AddVersionFile(uint64_t size, const std::string& md5, ReleasePlan* plan);

// "data1.pak" ... with leading zeros when there are ten or more, so that the
// byte order in which the launcher visits them is the numeric order. Delta
// packages are "delta1.pak" ..., never the name of a full package.
constexpr char kDeltaPackagePrefix[] = "delta";
std::string PackageName(size_t index, size_t count, const char* prefix = "data");

// Member path inside the package and in the update list: "Vantorel\<relative>".
std::string MemberPath(const std::string& relative);

// The texts, UTF-8; the caller converts them to GBK and enciphers them.
std::string UpdateListText(const ReleasePlan& plan);
std::string DeleteListText(const ReleasePlan& plan);
// "<number>\n<name>\n<digest>..." with no line feed at the end: the launcher
// then checks every pair.
std::string VersionFileText(int32_t versionNumber, const TreeIndex& newTree);

// The version list with the line of versionText added at the end, after
// removing every line that names the same version number. Other lines stay
// as they are, each ended by "\n".
std::string UpdateVersionList(const std::string& current, const std::string& versionText,
                              bool mandatory);

// True when a line of the version list names this version number.
bool ListsVersion(const std::string& listText, int32_t number);

// Why a relative path cannot be released (empty when it can): names must
// survive the lists (no tab, line break, edge blanks), GBK, and the package.
std::string ReleaseNameProblem(const std::string& relative);
