#include "update/engine/catch_up_plan.h"

#include <algorithm>
#include <set>
#include <utility>

#include "package/fast_file.h"
#include "platform/saturated_sum.h"
#include "platform/text_encoding.h"
#include "update/fetch/version_fetcher.h"

namespace {

const DeltaMember* DeltaFor(const std::vector<DeltaMember>& deltas, const StateEntry& entry, const std::string& md5) {
    for (const DeltaMember& delta : deltas) {
        if (ComparePlaces(delta.place, entry.place) == 0 && delta.sourceMd5 == md5 && delta.targetMd5 == entry.md5) {
            return &delta;
        }
    }
    return nullptr;
}

int64_t AsBytes(uint64_t bytes) { return static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX)); }

void ChooseWhole(const CatchUpInput& input, CatchUpPackage* package) {
    package->packageBytes = input.packageSize ? input.packageSize(package->sourceVersion, package->package) : -1;
    if (!input.rangesHonoured) {
        package->whole = true;
    } else if (package->packageBytes > 0) {
        package->whole = static_cast<double>(package->spanBytes) >=
                         kWholePackageShare * static_cast<double>(package->packageBytes);
    }
}

}  // namespace

CatchUpPlan PlanCatchUp(const CatchUpInput& input) {
    CatchUpPlan plan;
    if (input.target == nullptr) return plan;
    std::map<std::string, std::string, PlaceLess> installed(input.installed.begin(), input.installed.end());
    std::map<std::pair<std::string, std::string>, CatchUpPackage> byPackage;
    for (const StateEntry& entry : input.target->entries) {
        const auto found = installed.find(entry.place);
        const std::string md5 = found == installed.end() ? std::string() : found->second;
        if (md5 == entry.md5) continue;
        if (const DeltaMember* delta = md5.empty() ? nullptr : DeltaFor(input.deltas, entry, md5)) {
            plan.deltas.push_back({&entry, *delta});
            plan.downloadBytes = SaturatedSum(plan.downloadBytes, delta->size);
            continue;
        }
        CatchUpPackage& package = byPackage[{entry.sourceVersion, entry.package}];
        package.sourceVersion = entry.sourceVersion;
        package.package = entry.package;
        package.members.push_back(&entry);
        package.spanBytes += entry.packedSize + kMemberHeaderAllowance + entry.member.size();
    }
    for (auto& [key, package] : byPackage) {
        ChooseWhole(input, &package);
        if (plan.downloadBytes >= 0) {
            const int64_t bytes = package.whole ? package.packageBytes : AsBytes(package.spanBytes);
            plan.downloadBytes = bytes < 0 ? -1 : SaturatedSum(plan.downloadBytes, bytes);
        }
        plan.packages.push_back(std::move(package));
    }
    std::set<std::string, PlaceLess> deletions;
    for (const std::string& place : input.listedBefore) {
        if (FindStateEntry(*input.target, place) == nullptr) deletions.insert(place);
    }
    plan.deletions.assign(deletions.begin(), deletions.end());
    return plan;
}

StateIndexFetch FetchStateIndex(CVersionFetcher& fetcher, StateIndex* indexOut, std::string* reasonOut) {
    const FetchedFile file = fetcher.FetchSmallFile(kStateIndexName, VersionFileKind::Optional, kMaxListFileBytes);
    if (file.absent) return StateIndexFetch::Absent;
    if (file.refused) {
        *reasonOut = file.failure.reason;
        return StateIndexFetch::Unusable;
    }
    if (file.result != 0) {
        *reasonOut = std::string(kStateIndexName) + " not received (error " + std::to_string(file.result * 10) + ")";
        return StateIndexFetch::Failed;
    }
    std::string gbk, text, offending;
    if (!DecipherListImage(file.bytes, &gbk) || gbk.empty() || !GbkToUtf8(gbk, &text)) {
        *reasonOut = std::string(kStateIndexName) + " cannot be deciphered";
        return StateIndexFetch::Unusable;
    }
    if (!ParseStateIndex(text, indexOut, &offending)) {
        *reasonOut = std::string(kStateIndexName) + " is malformed: " + offending;
        return StateIndexFetch::Unusable;
    }
    return StateIndexFetch::Ok;
}
