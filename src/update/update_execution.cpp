// Preparation and execution of one version step: work folder, downloads,
// unpacking with digest checks, the hand-off file and the installer's start.
#include <algorithm>

#include "app/util/launcher_util.h"
#include "external/journal.h"
#include "platform/file_system.h"
#include "platform/saturated_sum.h"
#include "platform/text_format.h"
#include "update/game_updater.h"
#include "update/install_paths.h"
#include "update/installer.h"
#include "update/status_texts.h"

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
    DeleteFolderTree(folder);
    if (!fs_port::MakeDirectory(folder)) {
        Fail(StringPrintf(update_text::kWorkFolderFailed, fs_port::NativePath(folder).c_str()));
        return 0;
    }
    m_strTempFolder = folder + "\\";
    return 1;
}

int CGameUpdater::ExecuteUpdate() {
    const int64_t receivedBefore = ReceivedBytes();
    UpdatePlan plan;
    switch (LoadUpdateLists(&plan)) {
        case ListStage::Failed:
            return 0;
        case ListStage::NothingToInstall:
            return 1;
        case ListStage::Ready:
            break;
    }
    if (!CheckExpectedInstall(plan)) return 0;
    std::vector<SpaceNeed> needs;
    AddPackageSpaceNeeds(plan, &needs);
    if (!CheckDiskSpace(needs)) return 0;
    m_checkedFiles.clear();
    // What deltas make from the installed files leaves `remaining` for the packages.
    HandOffPlan handOff;
    UpdatePlan remaining = plan;
    CDeltaStage deltas(*this);
    if (!deltas.Run(&remaining, &handOff)) return 0;
    Log(EntryKind::Info, StringPrintf(update_text::kDownloadStart, static_cast<long long>(plan.totalSize)));
    BeginStepProgress(remaining);
    if (!DownloadAndUnpack(remaining, &handOff)) return 0;
    EndStepProgress();
    ReportStatus(1, 100.0f, update_text::kUnpackDone);
    ReportDeltaSaving(plan, receivedBefore, deltas.PatchedFiles());
    AddDeletions(plan, &handOff);
    ReportStatus(0, 0.0f, update_text::kPreparingInstall);
    Log(EntryKind::Info, update_text::kPreparingInstall);
    if (StopHere()) return 0;
    if (handOff.IsEmpty()) return 1;
    return HandOver(handOff);
}

HandOffMove CGameUpdater::MoveOf(const PackageMember& member) const {
    return {m_strTempFolder + member.strMember,
            m_strLauncherFolder + "\\" + InstalledRelativePath(member.strMember)};
}

// The installer's refusals of the hand-off plan, made on the plan that the
// lists promise before anything is downloaded: a list that deletes what it
// installs, deletes a program or installs among the installer's own files
// costs no download. The plan actually written is checked again.
bool CGameUpdater::CheckExpectedInstall(const UpdatePlan& plan) {
    HandOffPlan expected;
    for (const PackageGroup& group : plan.packages) {
        for (const PackageMember& member : group.members) {
            if (!IsInstallerMember(member.strMember)) expected.moves.push_back(MoveOf(member));
        }
    }
    for (const std::string& line : plan.deleteLines) {
        const std::string path = m_strLauncherFolder + "\\" + line;
        if (!line.empty() && PathExists(path.c_str())) expected.deletes.push_back(path);
    }
    std::string error;
    if (CheckInstallPlan(m_strLauncherFolder, expected, &error)) return true;
    Fail(StringPrintf(update_text::kUnsafePath, error.c_str()));
    return false;
}

void CGameUpdater::AddDeletions(const UpdatePlan& plan, HandOffPlan* handOff) {
    for (const std::string& line : plan.deleteLines) {
        if (line.empty()) continue;
        const std::string path = m_strLauncherFolder + "\\" + line;
        if (PathExists(path.c_str())) {
            handOff->deletes.push_back(path);
            TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteAdded, path.c_str());
        } else {
            TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteAbsent, path.c_str());
        }
    }
}

// The full packages' bytes: as fetched, else as the signed manifest gives
// them, else (a package left on the server of an unsigned release) the sum
// of its members' sizes in the list, which its compression can only lower.
int64_t CGameUpdater::FullPackageBytes(const UpdatePlan& plan) const {
    int64_t total = 0;
    for (const PackageGroup& group : plan.packages) {
        const int64_t fetched = fs_port::FileSize(m_strTempFolder + group.name);
        total = SaturatedSum(total, fetched >= 0 ? fetched : PlannedDownloadBytes(group));
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

int CGameUpdater::HandOver(const HandOffPlan& handOff) {
    std::string error;
    if (!CheckInstallPlan(m_strLauncherFolder, handOff, &error)) {
        Fail(StringPrintf(update_text::kUnsafePath, error.c_str()));
        return 0;
    }
    const std::string handOffPath = m_strLauncherFolder + "\\" + kHandOffFileName;
    if (!WriteHandOffFile(handOffPath, handOff, &error)) {
        Fail(StringPrintf(update_text::kHandOffWriteFailed, error.c_str()));
        return 0;
    }
    // Only lost reads at the next check if this fails.
    (void)RecordInstalledFiles(m_strLauncherFolder, m_checkedFiles);
    const std::string parameters = FormatInstallerParameters(handOffPath);
    const std::string installer = m_strLauncherFolder + "\\" + kInstallerFileName;
    Log(EntryKind::Notice, installer);
    Log(EntryKind::Notice, parameters);
    int code = 0;
    if (!m_pStarter->Start(installer, parameters, &code)) {
        Fail(StringPrintf(update_text::kInstallerStartFailed, code));
        TheJournal().TrapFaults(false);
        // Nobody will carry the file out; a later run writes a new one.
        (void)fs_port::RemoveFile(handOffPath);
        return 0;
    }
    ReportStatus(0, 0.0f, update_text::kInstallerStarted);
    Log(EntryKind::Info, update_text::kInstallerStartLog);
    m_nHandedOverVersion = m_target.nVersion;
    return 1;
}
