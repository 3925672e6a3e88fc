// The update list ("package \t member path \t size \t extra" per line) and the
// delete list (one path below the launcher folder per line) of one version
// step, turned into the plan that the execution works through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "external/fast_file.h"
#include "external/sealed_content.h"

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
// folder. False with the first offending text.
[[nodiscard]] bool CheckPlanPaths(const UpdatePlan& plan, std::string* offendingOut);

// True when the extra field is an MD5 digest (32 hex digits, either case).
bool IsDigestText(const std::string& text);
