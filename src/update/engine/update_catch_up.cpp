// A step from the installed version straight to the newest, as the newest
// folder's state index allows: each file that differs comes by delta, alone
// by byte range or with its package, from whichever version folder holds
// it; the files the newest version no longer lists go; one hand-off and one
// installer run take it all in.
#include <algorithm>
#include <set>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "package/fast_file.h"
#include "platform/saturated_sum.h"
#include "platform/text_format.h"
#include "update/engine/catch_up_plan.h"
#include "update/engine/game_updater.h"
#include "update/engine/update_catch_up_stage.h"
#include "update/engine/update_delta_stage.h"
#include "update/engine/update_hand_over_stage.h"
#include "update/engine/update_space_stage.h"
#include "update/install/install_paths.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

// The installed files as version.data lists them, with their MD5s; false
// when it cannot be read (then the engine steps as before).
bool ReadInstalledFiles(const std::string& launcherFolder, CatchUpInput* input) {
    ParsedVersionFile parsed;
    if (!ReadUsableVersionFile(launcherFolder, LauncherFileKey(), &parsed)) return false;
    for (const FileDigestPair& pair : parsed.allPairs) {
        input->installed[pair.name] = AsciiFolded(pair.digest);
        input->listedBefore.push_back(pair.name);
    }
    return true;
}

// The plan's members as a step's plan, one group per member, so that the
// delta stage may take any one of them by delta.
UpdatePlan AsUpdatePlan(const CatchUpPlan& plan) {
    UpdatePlan update;
    for (const CatchUpPackage& package : plan.packages) {
        for (const StateEntry* entry : package.members) {
            update.packages.push_back(
                {entry->package, {{entry->package, entry->member, static_cast<int64_t>(entry->size), entry->md5}}});
            update.totalSize = SaturatedSum(update.totalSize, static_cast<int64_t>(entry->size));
        }
    }
    return update;
}

// Takes out of the plan the members the delta stage made.
void KeepOnlyLeft(const UpdatePlan& left, CatchUpPlan* plan) {
    std::set<std::string> still;
    for (const PackageGroup& group : left.packages) {
        for (const PackageMember& member : group.members) still.insert(member.strMember);
    }
    std::vector<CatchUpPackage> packages;
    for (CatchUpPackage& package : plan->packages) {
        std::vector<const StateEntry*> members;
        for (const StateEntry* entry : package.members) {
            if (still.count(entry->member) != 0) members.push_back(entry);
        }
        package.members = std::move(members);
        if (!package.members.empty()) packages.push_back(std::move(package));
    }
    plan->packages = std::move(packages);
}

}  // namespace

bool CGameUpdater::ProbeCatchUp(const VersionEntry& newest) {
    const std::string newestText = VersionNumberToText(newest.nVersion);
    auto state = std::make_unique<CatchUpState>();
    StepFailure failure;
    std::string reason;
    if (!m_fetcher.OpenVersion(newestText, newest.manifestSha256, &failure)) {
        reason = failure.reason;
    } else if (const StateIndexFetch fetched = FetchStateIndex(m_fetcher, &state->index, &reason);
               fetched == StateIndexFetch::Absent) {
        return false;
    } else if (fetched == StateIndexFetch::Ok && state->index.version != newestText) {
        reason = std::string(kStateIndexName) + " is of version " + state->index.version;
    } else if (fetched == StateIndexFetch::Ok && !ReadInstalledFiles(m_strLauncherFolder, &state->input)) {
        reason = "version.data unreadable";
    }
    if (!reason.empty()) {
        if (!m_bStopRequested.load()) {
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kCatchUpNotTaken, newestText.c_str(),
                                   reason.c_str());
        }
        return false;
    }
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kCatchUpTaken,
                           VersionNumberToText(m_nInstalled).c_str(), newestText.c_str());
    m_catchUp = std::move(state);
    return true;
}

std::function<int64_t(const std::string&, const std::string&)> CGameUpdater::PackageSizes(
    const std::string& openVersion) const {
    // Only the open version's signed manifest gives sizes; others are unknown.
    return [this, openVersion](const std::string& version, const std::string& package) -> int64_t {
        uint64_t size = 0;
        return version == openVersion && m_fetcher.ListedSize(package, &size) ? static_cast<int64_t>(size) : -1;
    };
}

int CGameUpdater::RunCatchUp() {
    if (!PrepareUpdate()) return update_outcome::kFailed;
    const std::string newestText = VersionNumberToText(m_target.nVersion);
    CatchUpInput& input = m_catchUp->input;
    input.target = &m_catchUp->index;
    input.packageSize = PackageSizes(newestText);
    CatchUpPlan plan = PlanCatchUp(input);
    const StepContext step = Step();
    if (!CheckCatchUpSpace(step, plan)) return update_outcome::kFailed;
    HandOffPlan handOff;
    m_checkedFiles.clear();
    UpdatePlan remaining = AsUpdatePlan(plan);
    CDeltaStage deltas(step);
    if (!deltas.Run(&remaining, &handOff, &m_checkedFiles)) return update_outcome::kFailed;
    KeepOnlyLeft(remaining, &plan);
    Log(EntryKind::Info, StringPrintf(update_text::kDownloadStart, static_cast<long long>(remaining.totalSize)));
    BeginDownloads(std::max<int64_t>(0, plan.downloadBytes), remaining.totalSize);
    CCatchUpStage catchUp(step);
    if (!catchUp.Run(plan, &handOff, &m_checkedFiles)) return update_outcome::kFailed;
    EndStepProgress();
    ReportStatus(0, 0.0f, update_text::kPreparingInstall);
    Log(EntryKind::Info, update_text::kPreparingInstall);
    if (StopHere()) return update_outcome::kFailed;
    if (!handOff.IsEmpty() && !HandOver(step, *m_pStarter, handOff, m_checkedFiles)) return update_outcome::kFailed;
    m_fetcher.EndKeeping();
    if (!handOff.IsEmpty()) m_nHandedOverVersion = m_target.nVersion;
    return update_outcome::kHandedOver;
}
