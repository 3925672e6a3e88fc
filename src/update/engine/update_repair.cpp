// The repair of the installed version: the damaged files' members, located by
// the version folder's state index, fetched and checked as a catch-up does,
// then handed to the installer program.
#include <algorithm>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/text_format.h"
#include "update/engine/catch_up_plan.h"
#include "update/engine/game_updater.h"
#include "update/engine/update_catch_up_stage.h"
#include "update/engine/update_hand_over_stage.h"
#include "update/engine/update_space_stage.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

// The window as a repair's estimate sees it: its settings and installed
// version, nothing shown (the window keeps what it shows of the damage).
class QuietWindow final : public IUpdaterWindow {
public:
    explicit QuietWindow(const IUpdaterWindow& window) : m_window(window) {}
    void SetStatusText(const std::string&) override {}
    void ShowVersionLine(int32_t) override {}
    void EnableStartButton(bool) override {}
    void ShowMessageBox(const std::string&) override {}
    int32_t InstalledVersion() const override { return m_window.InstalledVersion(); }
    LauncherSettings Settings() const override { return m_window.Settings(); }

private:
    const IUpdaterWindow& m_window;
};

}  // namespace

bool CGameUpdater::PlanRepair(IUpdaterWindow* window, const std::vector<std::string>& damaged, CatchUpState* state,
                              CatchUpPlan* planOut) {
    BeginRun(window);
    std::vector<VersionEntry> entries;
    if (!ReadVersionList(&entries)) return false;
    const int32_t installed = window->InstalledVersion();
    m_nInstalled = installed;
    m_catchUp.reset();
    // A newer version whose folder has an index: the catch-up to it takes
    // the damaged files along, one download and one installer run for both.
    if (entries.front().nVersion > installed && ProbeCatchUp(entries.front())) {
        m_target = entries.front();
        CatchUpInput& input = m_catchUp->input;
        input.target = &m_catchUp->index;
        for (const std::string& place : damaged) input.installed[place].clear();
        input.packageSize = PackageSizes(VersionNumberToText(m_target.nVersion));
        *planOut = PlanCatchUp(input);
        return true;
    }
    if (StopHere()) return false;
    const std::string versionText = VersionNumberToText(installed);
    const auto listed = std::find_if(entries.begin(), entries.end(),
                                    [&](const VersionEntry& entry) { return entry.nVersion == installed; });
    if (listed == entries.end()) {
        Fail(StringPrintf(update_text::kRepairNoVersion, versionText.c_str()));
        return false;
    }
    m_target = *listed;
    StepFailure failure;
    if (!m_fetcher.OpenVersion(versionText, m_target.manifestSha256, &failure)) {
        if (!StopHere()) Fail(failure.shown, failure.reason);
        return false;
    }
    std::string reason;
    const StateIndexFetch fetched = FetchStateIndex(m_fetcher, &state->index, &reason);
    if (StopHere()) return false;
    if (fetched != StateIndexFetch::Ok || state->index.version != versionText) {
        Fail(StringPrintf(update_text::kRepairNoIndex, versionText.c_str()), reason);
        return false;
    }
    CatchUpInput& input = state->input;
    input.target = &state->index;
    for (const StateEntry& entry : state->index.entries) input.installed[entry.place] = entry.md5;
    for (const std::string& place : damaged) input.installed[place].clear();
    input.packageSize = PackageSizes(versionText);
    *planOut = PlanCatchUp(input);
    return true;
}

int64_t CGameUpdater::RepairDownloadBytes(IUpdaterWindow* window, const std::vector<std::string>& damaged) {
    if (window == nullptr) return -1;
    QuietWindow quiet(*window);
    CatchUpState state;
    CatchUpPlan plan;
    const bool planned = PlanRepair(&quiet, damaged, &state, &plan);
    {
        std::lock_guard<std::mutex> hold(m_reportMutex);
        m_pWindow = window;
    }
    return planned ? plan.downloadBytes : -1;
}

int CGameUpdater::RunRepair(IUpdaterWindow* window, const std::vector<std::string>& damaged) {
    CatchUpState state;
    CatchUpPlan plan;
    if (window == nullptr || !PlanRepair(window, damaged, &state, &plan)) return update_outcome::kFailed;
    if (plan.Empty()) {
        ReportStatus(0, 0.0f, update_text::kRepairNothing);
        Log(EntryKind::Info, update_text::kRepairNothing);
        return update_outcome::kHandedOver;
    }
    const std::string foundText =
        StringPrintf(update_text::kRepairFound, static_cast<int>(damaged.size()),
                     plan.downloadBytes < 0 ? "?" : FormatByteCount(static_cast<uint64_t>(plan.downloadBytes)).c_str());
    ReportStatus(0, 0.0f, foundText);
    Log(EntryKind::Notice, foundText);
    if (m_catchUp) {
        const int caughtUp = RunCatchUp();
        EndStepProgress();
        return caughtUp;
    }
    if (!PrepareUpdate()) return update_outcome::kFailed;
    const StepContext step = Step();
    if (!CheckCatchUpSpace(step, plan)) return update_outcome::kFailed;
    HandOffPlan handOff;
    m_checkedFiles.clear();
    CCatchUpStage catchUp(step);
    if (!catchUp.Run(plan, &handOff, &m_checkedFiles)) return update_outcome::kFailed;
    if (StopHere()) return update_outcome::kFailed;
    if (!handOff.IsEmpty() && !HandOver(step, *m_pStarter, handOff, m_checkedFiles)) return update_outcome::kFailed;
    m_fetcher.EndKeeping();
    return update_outcome::kHandedOver;
}
