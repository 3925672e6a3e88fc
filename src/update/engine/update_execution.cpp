// Preparation and execution of one version step: the work folder, then the
// step's stages in their order.
#include <algorithm>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/saturated_sum.h"
#include "platform/text_format.h"
#include "update/engine/game_updater.h"
#include "update/engine/update_hand_over_stage.h"
#include "update/engine/update_list_stage.h"
#include "update/engine/update_pipeline.h"
#include "update/engine/update_space_stage.h"
#include "update/install/install_paths.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

}  // namespace

int CGameUpdater::PrepareUpdate() {
    ReportStatus(0, 0.0f, update_text::kPreparing);
    Log(EntryKind::Info, update_text::kPreparing);
    const std::string folder = m_strLauncherFolder + "\\" + kWorkFolderName;
    // An installer still running from an earlier update may hold files in
    // the work folder: stop it first.
    m_pStarter->StopLeftoverInstaller();
    // Downloads toward the same version stay for this step to continue.
    if (!m_fetcher.PrepareWorkFolder(folder + "\\", VersionNumberToText(m_target.nVersion))) {
        Fail(StringPrintf(update_text::kWorkFolderFailed, fs_port::NativePath(folder).c_str()));
        return 0;
    }
    m_strTempFolder = folder + "\\";
    return 1;
}

int CGameUpdater::ExecuteUpdate() {
    const int64_t receivedBefore = ReceivedBytes();
    const StepContext step = Step();
    UpdatePlan plan;
    switch (LoadUpdateLists(step, m_target, &plan)) {
        case ListStage::Failed:
            return 0;
        case ListStage::NothingToInstall:
            return 1;
        case ListStage::Ready:
            break;
    }
    if (!CheckExpectedInstall(step, plan)) return 0;
    std::vector<SpaceNeed> needs;
    AddPackageSpaceNeeds(step, plan, &needs);
    if (!CheckDiskSpace(step, needs)) return 0;
    m_checkedFiles.clear();
    // What deltas make from the installed files leaves `remaining` for the packages.
    HandOffPlan handOff;
    UpdatePlan remaining = plan;
    CDeltaStage deltas(step);
    if (!deltas.Run(&remaining, &handOff, &m_checkedFiles)) return 0;
    Log(EntryKind::Info, StringPrintf(update_text::kDownloadStart, static_cast<long long>(plan.totalSize)));
    int64_t stepBytes = deltas.FetchedBytes();
    for (const PackageGroup& group : remaining.packages) {
        stepBytes = SaturatedSum(stepBytes, PlannedDownloadBytes(m_fetcher, group));
    }
    m_fetcher.SetStepBytes(stepBytes);
    BeginStepProgress(remaining);
    CPackagePipeline pipeline(step);
    if (!pipeline.Run(remaining, &handOff, &m_checkedFiles)) return 0;
    EndStepProgress();
    ReportStatus(1, 100.0f, update_text::kUnpackDone);
    ReportDeltaSaving(plan, receivedBefore, deltas.PatchedFiles());
    AddDeletions(step, plan, &handOff);
    ReportStatus(0, 0.0f, update_text::kPreparingInstall);
    Log(EntryKind::Info, update_text::kPreparingInstall);
    if (StopHere()) return 0;
    if (!handOff.IsEmpty() && !HandOver(step, *m_pStarter, handOff, m_checkedFiles)) return 0;
    // Handed over (or nothing to install): the installation's end empties
    // the work folder, and nothing in it continues any more.
    m_fetcher.EndKeeping();
    if (!handOff.IsEmpty()) m_nHandedOverVersion = m_target.nVersion;
    return 1;
}

// The full packages' bytes: as fetched, else as the signed manifest gives
// them, else (a package left on the server of an unsigned release) the sum
// of its members' sizes in the list, which its compression can only lower.
int64_t CGameUpdater::FullPackageBytes(const UpdatePlan& plan) const {
    int64_t total = 0;
    for (const PackageGroup& group : plan.packages) {
        const int64_t fetched = fs_port::FileSize(m_strTempFolder + group.name);
        total = SaturatedSum(total, fetched >= 0 ? fetched : PlannedDownloadBytes(m_fetcher, group));
    }
    return total;
}

void CGameUpdater::ReportDeltaSaving(const UpdatePlan& plan, int64_t receivedBefore, size_t patchedFiles) {
    m_nFullUpdateBytes = FullPackageBytes(plan);
    const std::string text =
        StringPrintf(update_text::kDeltaSaving,
                     FormatByteCount(static_cast<uint64_t>(std::max<int64_t>(0, ReceivedBytes() - receivedBefore))).c_str(),
                     FormatByteCount(static_cast<uint64_t>(std::max<int64_t>(0, m_nFullUpdateBytes))).c_str());
    // Only a step that took deltas has something to show.
    if (patchedFiles > 0) ReportStatus(0, 0.0f, text);
    Log(EntryKind::Info, text);
}

bool CGameUpdater::ResumeInterruptedInstall() {
    if (!fs_port::PathExists(m_strLauncherFolder + "\\" + kInstallJournalName)) return false;
    const std::string installer = m_strLauncherFolder + "\\" + kInstallerFileName;
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kResumingInstallLog,
                           fs_port::NativePath(installer).c_str());
    int code = 0;
    const std::string parameters =
        FormatInstallerParameters(m_strLauncherFolder + "\\" + kHandOffFileName);
    if (!m_pStarter->Start(installer, parameters, &code)) {
        TheJournal().AddEntryF(EntryKind::Error, update_text::kInstallerStartFailed, code);
        return false;
    }
    return true;
}
