// Deltas of a release: for every file that NEW changes (present in both game
// folders, other content), a VCDIFF and a bsdiff delta from the old file to
// the new one; the smaller as stored is kept when it is well below what the
// file's full member costs. A launcher
// whose installed file is the old one downloads the delta instead; every
// other launcher still has the full packages.
#pragma once

#include "tools/patchkit/delta_formats.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/patchkit/release_plan.h"

constexpr int kDefaultDeltaThresholdPercent = 50;

struct DeltaOptions {
    bool enabled = true;
    // A delta is kept when, deflated as its package stores it, it is smaller
    // than this share of the deflated file.
    int thresholdPercent = kDefaultDeltaThresholdPercent;
    // Best makes both kinds and keeps the smaller; vcdiff spares a release of
    // large files the bsdiff encoder's time and memory.
    DeltaFormat format = DeltaFormat::Best;
};

struct ReleaseDelta {
    std::string relative;  // the file below the game folder, back-slashes
    std::string path;      // the delta, in the scratch folder
    uint64_t size = 0;     // bytes of the delta
    uint64_t storedBytes = 0;  // the delta deflated, as its member in a delta package costs
    uint64_t fullBytes = 0;  // the file deflated, as its full member costs
    bool bsdiff = false;     // a bsdiff delta, else VCDIFF
    std::string sourceMd5, targetMd5;
};

struct DeltaSet {
    std::vector<ReleaseDelta> kept;  // in path order
    size_t tried = 0;                // changed files a delta was made for
    [[nodiscard]] std::set<std::string> Files() const;
    [[nodiscard]] uint64_t DeltaBytes() const;  // as stored
    [[nodiscard]] size_t BsdiffCount() const;
    [[nodiscard]] uint64_t FullBytes() const;
};

// Makes the deltas into scratch (an existing empty folder). Empty on
// success, else why not.
std::string MakeReleaseDeltas(const std::string& oldDir, const std::string& newDir, const TreeIndex& oldTree,
                              const TreeIndex& newTree, const DeltaOptions& options, const std::string& scratch,
                              DeltaSet* setOut);

// Writes the delta packages (delta1.pak ..., grouped as the full packages
// are) into folder, and gives the text of patchlist.data that names them.
// Empty on success, else why not.
std::string WriteDeltaPackages(const DeltaSet& set, const std::string& folder, std::string* patchListOut);
