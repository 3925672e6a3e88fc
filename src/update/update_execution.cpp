// Preparation and execution of one version step: work folder, downloads,
// unpacking with digest checks, the hand-off file and the installer's start.
#include "app/util/launcher_util.h"
#include "external/bundle.h"
#include "external/journal.h"
#include "external/patch_kit.h"
#include "platform/file_system.h"
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
    m_checkedFiles.clear();
    Log(EntryKind::Info, StringPrintf(update_text::kDownloadStart, static_cast<long long>(plan.totalSize)));
    BeginStepProgress(plan);
    if (!DownloadPackages(plan)) return 0;
    ReportStatus(1, 100.0f, update_text::kDownloadDone);
    ReportStatus(0, 0.0f, update_text::kUnpackStart);
    Log(EntryKind::Info, update_text::kUnpackStart);
    HandOffPlan handOff;
    if (!UnpackPackages(plan, &handOff)) return 0;
    EndStepProgress();
    ReportStatus(1, 100.0f, update_text::kUnpackDone);
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

bool CGameUpdater::DownloadPackages(const UpdatePlan& plan) {
    if (!CheckPackagesListed(plan)) return false;
    // Each package is checked against the manifest while the next one
    // downloads, so that hashing hides behind the transfer.
    std::future<TrustRefusal> checking;
    for (const PackageGroup& group : plan.packages) {
        if (StopHere()) return false;
        const std::string localPath = m_strTempFolder + group.name;
        const std::string url = plan.baseUrl + group.name;
        const std::string waiting = StringPrintf(update_text::kWaitForDownloading, group.name.c_str());
        ReportStatus(0, 0.0f, waiting);
        Log(EntryKind::Info, waiting);
        Log(EntryKind::Info, url);
        int64_t cap = kNoByteCap;
        if (!CapOfVersionFile(group.name, &cap)) return false;
        const int result = m_pTransfer->FetchToFile(m_settings.TransferMode, url, localPath, cap,
                                                    &m_bStopRequested, nullptr, DownloadProgress(group));
        if (StopHere()) return false;
        if (result != 0) {
            if (!EndPackageCheck(&checking)) return false;
            Fail(FetchFailure(StringPrintf(update_text::kPackageDownloadFailed, result * 10)));
            Log(EntryKind::Error, url);
            Log(EntryKind::Error, localPath);
            // A signed release is all or nothing: no part of it stays behind.
            if (m_trust.Enabled()) DiscardDownloads();
            return false;
        }
        if (!EndPackageCheck(&checking)) return false;
        BeginPackageCheck(group.name, localPath, &checking);
    }
    return EndPackageCheck(&checking);
}

bool CGameUpdater::UnpackPackages(const UpdatePlan& plan, HandOffPlan* handOff) {
    for (const PackageGroup& group : plan.packages) {
        if (StopHere() || !UnpackPackage(group, plan, handOff)) return false;
    }
    return true;
}

bool CGameUpdater::UnpackPackage(const PackageGroup& group, const UpdatePlan& plan, HandOffPlan* handOff) {
    ReportUnpacking(StringPrintf(update_text::kWaitForUnpackaging, group.name.c_str()));
    CBundle bundle;
    bundle.SetStopFlag(&m_bStopRequested);
    if (!bundle.Open((m_strTempFolder + group.name).c_str(), kBundleTag)) {
        Fail(StringPrintf(update_text::kOpenPackageFailed, group.name.c_str()), bundle.LastError());
        TheJournal().TrapFaults(false);
        return false;
    }
    for (const PackageMember& member : group.members) {
        if (StopHere()) return false;
        const std::string unpackedPath = m_strTempFolder + member.strMember;
        (void)CreateFolderChain(unpackedPath);
        Log(EntryKind::Info, unpackedPath);
        bundle.SetProgress(WriteProgress(StepPhase::Unpack, member.strMember, member.nSize));
        if (!ExtractMember(bundle, member, unpackedPath)) return false;
        if (!IsInstallerMember(member.strMember)) {
            handOff->moves.push_back(MoveOf(member));
        } else if (plan.selfUpdate && !PlaceInstallerProgram(member, unpackedPath)) {
            return false;
        }
    }
    return true;
}

// Extracts one member and, when the list gives its MD5, checks the unpacked
// file: a damaged or altered member never reaches the installer.
bool CGameUpdater::ExtractMember(CBundle& bundle, const PackageMember& member,
                                 const std::string& unpackedPath) {
    bool good = bundle.Extract(member.strMember.c_str(), unpackedPath.c_str());
    // A digest mismatch has its own log line; the package's reason is for the rest.
    const std::string reason = good ? std::string() : bundle.LastError();
    if (good && IsDigestText(member.strExtra)) {
        CPatchKit kit;
        StampedDigest digest;
        const bool readable = kit.ComputeStampedDigest(unpackedPath, nullptr, &digest) == DigestRead::Done;
        const std::string actual = readable ? digest.hex : "(unreadable)";
        if (actual != AsciiFolded(member.strExtra)) {
            TheJournal().AddEntryF(EntryKind::Error, update_text::kDigestMismatch, member.strMember.c_str(),
                                   member.strExtra.c_str(), actual.c_str());
            (void)fs_port::RemoveFile(unpackedPath);
            good = false;
        } else if (digest.unchangedWhileRead) {
            RememberCheckedFile(member, digest);
        }
    }
    if (good) return true;
    // Stopped inside the member: no damage to report, and no box.
    if (StopHere()) return false;
    Fail(StringPrintf(update_text::kExtractFailed, member.strMember.c_str()), reason);
    TheJournal().TrapFaults(false);
    m_pWindow->ShowMessageBox(update_text::kInstallFailedBox);
    return false;
}

// The stamp is the one of the file that was read: the installer renames that
// very file into its place.
void CGameUpdater::RememberCheckedFile(const PackageMember& member, const StampedDigest& digest) {
    if (IsInstallerMember(member.strMember)) return;
    m_checkedFiles.push_back(
        {VerifyCacheLine::Kind::Installed, InstalledRelativePath(member.strMember), digest.stamp, digest.hex});
}

// The installer program is the one file put in place here, so that its new
// version carries out the rest. When it cannot be, the step ends: the old
// installer must not carry out an installation made for the new one.
bool CGameUpdater::PlaceInstallerProgram(const PackageMember& member, const std::string& unpackedPath) {
    const std::string placed = m_strLauncherFolder + "\\" + kInstallerFileName;
    if (fs_port::RenamePath(unpackedPath, placed, true)) return true;
    Fail(StringPrintf(update_text::kSelfMoveFailed, member.strMember.c_str()));
    TheJournal().TrapFaults(false);
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
