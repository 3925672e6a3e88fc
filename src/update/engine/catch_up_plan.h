// The plan of a step from whatever is installed straight to the newest
// version, made from the newest version's state index: which files differ
// and how each comes — by delta from the installed copy, as its package
// member alone (fetched by byte range), or with its whole package when the
// ranges would cover most of it or the server does not honour ranges — and
// which files of the installed version the newest one no longer has. A
// player's own files, which no version ever listed, are not in it.
//
//   CatchUpInput input{&newest, installed, listedBefore, deltas, packageSize, true};
//   const CatchUpPlan plan = PlanCatchUp(input);
//
// The same plan repairs: the installed files given with the MD5 they really
// have (empty for a missing or unreadable one) against the index of the
// installed version.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "update/engine/state_index.h"
#include "update/engine/update_lists.h"

// A member fetched alone costs its data and its local header: 30 bytes, the
// name, and an extra field that our packages keep small.
constexpr uint64_t kMemberHeaderAllowance = 30 + 64;

// The members of one package that come from it; whole: the package itself
// is fetched (then unpacked as in a step) instead of its members' spans.
struct CatchUpPackage {
    std::string sourceVersion;
    std::string package;
    std::vector<const StateEntry*> members;  // in the index's order
    uint64_t spanBytes = 0;                  // what the members' spans weigh
    int64_t packageBytes = -1;               // the whole package; -1 unknown
    bool whole = false;
};

struct CatchUpDelta {
    const StateEntry* entry = nullptr;
    DeltaMember delta;
};

struct CatchUpPlan {
    std::vector<CatchUpDelta> deltas;
    std::vector<CatchUpPackage> packages;  // by source version, then package name
    std::vector<std::string> deletions;    // places, sorted
    // What the plan downloads: deltas as listed, spans, whole packages; -1
    // when a whole package of unknown size is among them.
    int64_t downloadBytes = 0;
    [[nodiscard]] bool Empty() const { return deltas.empty() && packages.empty() && deletions.empty(); }
};

struct CatchUpInput {
    const StateIndex* target = nullptr;
    // The installed files' places and the MD5 they have now (lower-case hex;
    // empty when the file is missing or cannot be read).
    std::map<std::string, std::string> installed;
    // Places the installed version lists (its version.data): those the target
    // does not have are deleted, and only those.
    std::vector<std::string> listedBefore;
    // The target's patch list: a delta from an installed MD5 to the target's.
    std::vector<DeltaMember> deltas;
    // The size of a package of a version folder, -1 when not known.
    std::function<int64_t(const std::string& sourceVersion, const std::string& package)> packageSize;
    bool rangesHonoured = true;
};

// Whole packages are fetched once their members' spans reach this share of them.
constexpr double kWholePackageShare = 0.5;

[[nodiscard]] CatchUpPlan PlanCatchUp(const CatchUpInput& input);

// What the engine keeps between finding that a catch-up is possible and
// carrying it out: the newest version's index and the installed files.
struct CatchUpState {
    StateIndex index;
    CatchUpInput input;
};

class CVersionFetcher;

enum class StateIndexFetch {
    Ok,
    Absent,      // the version folder has none (or a signed release does not name one): step as before
    Unusable,    // fetched but refused, unreadable or malformed; reasonOut says why
    Failed,      // the transfer failed (or was stopped)
};

// The state index of the version folder the fetcher has open, fetched like
// the lists (at most a whole-file read, checked against the signed manifest),
// deciphered and parsed.
[[nodiscard]] StateIndexFetch FetchStateIndex(CVersionFetcher& fetcher, StateIndex* indexOut, std::string* reasonOut);
