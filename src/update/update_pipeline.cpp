// Downloads and unpacking of one version step, overlapped: the engine's thread
// fetches package k+1 while a second thread checks and unpacks package k, so
// a step takes about as long as the slower of the two.
//
// The two threads meet at one future. A package is handed over only once the
// one before it is unpacked, so at most one package is unpacked while one
// downloads, and what the second thread made is read only through its
// future. Either side's failure, and a stop request, set the halt flag that
// the other side's transfer and extraction watch. Every status text of the
// step is shown by the engine's thread, in the order a sequential run would
// show it; only the lines of the unpacked members come from the second thread.
#include <future>
#include <system_error>

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

// Fetches of one package, the first included, when each fails its check on
// another host; the transfer also stops offering hosts when it runs out.
constexpr int kMaxFetchesPerPackage = 8;

// The package being unpacked on the second thread. Leaving the step while it
// runs halts it and waits for it, so the thread never outlives the step.
class UnpackSlot {
public:
    explicit UnpackSlot(std::atomic<bool>* halt) : m_halt(halt) {}
    ~UnpackSlot() {
        if (!m_unpacking.valid()) return;
        m_halt->store(true);
        m_unpacking.wait();
    }
    UnpackSlot(const UnpackSlot&) = delete;
    UnpackSlot& operator=(const UnpackSlot&) = delete;

    template <typename Work>
    void Begin(Work work) {
        try {
            m_unpacking = std::async(std::launch::async, work);
        } catch (const std::system_error&) {
            // No thread to spare: the package is unpacked here instead.
            std::promise<UnpackedPackage> done;
            done.set_value(work());
            m_unpacking = done.get_future();
        }
    }
    // Waits for the package being unpacked; Kind::None when there is none.
    UnpackedPackage Finish() { return m_unpacking.valid() ? m_unpacking.get() : UnpackedPackage{}; }

private:
    std::atomic<bool>* m_halt;
    std::future<UnpackedPackage> m_unpacking;
};

bool Unfinished(const UnpackedPackage& unpacked) {
    return unpacked.kind == UnpackedPackage::Kind::Damaged || unpacked.kind == UnpackedPackage::Kind::Failed;
}

}  // namespace

void CGameUpdater::ResetHalt() {
    m_bHalt.store(false);
    // RequestStop sets the flag after the stop request: a request made since
    // the line above has set it again, an earlier one is seen here.
    if (m_bStopRequested.load()) m_bHalt.store(true);
}

bool CGameUpdater::DownloadAndUnpack(const UpdatePlan& plan, HandOffPlan* handOff) {
    if (!CheckPackagesListed(plan)) return false;
    ResetHalt();
    UnpackSlot slot(&m_bHalt);
    for (size_t next = 0; next < plan.packages.size();) {
        if (StopHere()) return false;
        const PackageGroup& group = plan.packages[next];
        const int result = FetchPackage(plan, group);
        if (result != 0) m_bHalt.store(true);
        UnpackedPackage previous = slot.Finish();
        if (StopHere()) return false;
        const bool cutShort = Unfinished(previous);
        // An unpacking halted by this download's own failure has nothing to add.
        const bool haltedHere = result != 0 && previous.kind == UnpackedPackage::Kind::Halted;
        if (!haltedHere && !SettleUnpack(plan, std::move(previous), handOff)) return false;
        if (result != 0 && cutShort) {
            // That failure may have cut this download short: fetch it anew.
            ResetHalt();
            (void)fs_port::RemoveFile(m_strTempFolder + group.name);
            continue;
        }
        if (result != 0) {
            FailDownload(result, plan, group);
            return false;
        }
        if (next + 1 == plan.packages.size()) ReportStatus(1, 100.0f, update_text::kDownloadDone);
        AnnounceUnpack(group, next == 0);
        const bool selfUpdate = plan.selfUpdate;
        slot.Begin([this, &group, selfUpdate] {
            UnpackedPackage unpacked = UnpackPackage(group, selfUpdate);
            if (Unfinished(unpacked)) m_bHalt.store(true);
            return unpacked;
        });
        ++next;
    }
    UnpackedPackage last = slot.Finish();
    if (StopHere()) return false;
    return SettleUnpack(plan, std::move(last), handOff);
}

int CGameUpdater::FetchPackage(const UpdatePlan& plan, const PackageGroup& group) {
    const std::string waiting = StringPrintf(update_text::kWaitForDownloading, group.name.c_str());
    ReportStatus(0, 0.0f, waiting);
    Log(EntryKind::Info, waiting);
    const std::string url = plan.baseUrl + group.name;
    Log(EntryKind::Info, url);
    return m_pTransfer->FetchToFile(m_settings.TransferMode, url, m_strTempFolder + group.name,
                                    CapOfListedPackage(group.name), &m_bHalt, nullptr, DownloadProgress(group));
}

void CGameUpdater::FailDownload(int result, const UpdatePlan& plan, const PackageGroup& group) {
    Fail(FetchFailure(StringPrintf(update_text::kPackageDownloadFailed, result * 10)));
    Log(EntryKind::Error, plan.baseUrl + group.name);
    Log(EntryKind::Error, m_strTempFolder + group.name);
    // A signed release is all or nothing: no part of it stays behind.
    if (m_trust.Enabled()) DiscardDownloads();
}

void CGameUpdater::AnnounceUnpack(const PackageGroup& group, bool first) {
    if (first) {
        ReportStatus(0, 0.0f, update_text::kUnpackStart);
        Log(EntryKind::Info, update_text::kUnpackStart);
    }
    ReportUnpacking(StringPrintf(update_text::kWaitForUnpackaging, group.name.c_str()));
}

// Takes what a package's unpacking gave. A package that failed its check is
// fetched again, and unpacked here, for as long as the transfer has another
// host for it; nothing else runs meanwhile.
bool CGameUpdater::SettleUnpack(const UpdatePlan& plan, UnpackedPackage unpacked, HandOffPlan* handOff) {
    for (int fetches = 1; unpacked.kind == UnpackedPackage::Kind::Damaged && fetches < kMaxFetchesPerPackage;
         ++fetches) {
        const PackageGroup& group = *unpacked.group;
        const std::string url = plan.baseUrl + group.name;
        if (!m_pTransfer->LeaveHostOf(url)) break;
        Log(EntryKind::Notice, unpacked.reason.empty() ? unpacked.text : unpacked.text + " : " + unpacked.reason);
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kPackageFetchAgain, group.name.c_str(), url.c_str());
        ResetHalt();
        (void)fs_port::RemoveFile(m_strTempFolder + group.name);
        const int result = FetchPackage(plan, group);
        if (StopHere()) return false;
        if (result != 0) {
            FailDownload(result, plan, group);
            return false;
        }
        AnnounceUnpack(group, false);
        unpacked = UnpackPackage(group, plan.selfUpdate);
    }
    switch (unpacked.kind) {
        case UnpackedPackage::Kind::None:
            return true;
        case UnpackedPackage::Kind::Done:
            handOff->moves.insert(handOff->moves.end(), unpacked.moves.begin(), unpacked.moves.end());
            m_checkedFiles.insert(m_checkedFiles.end(), unpacked.checkedFiles.begin(), unpacked.checkedFiles.end());
            return true;
        case UnpackedPackage::Kind::Halted:
            // Only a stop halts an unpacking whose download side went well.
            if (!StopHere()) Fail(update_text::kStopped);
            return false;
        case UnpackedPackage::Kind::Damaged:
        case UnpackedPackage::Kind::Failed:
            break;
    }
    ReportUnpackFailure(unpacked);
    return false;
}

void CGameUpdater::ReportUnpackFailure(const UnpackedPackage& unpacked) {
    Fail(unpacked.text, unpacked.reason);
    TheJournal().TrapFaults(false);
    if (unpacked.box) m_pWindow->ShowMessageBox(update_text::kInstallFailedBox);
    if (unpacked.refused) DiscardDownloads();
}

// On the second thread: the signed manifest's check of the package, then its
// members, each checked against the list's MD5 as it is written.
UnpackedPackage CGameUpdater::UnpackPackage(const PackageGroup& group, bool selfUpdate) {
    UnpackedPackage unpacked;
    unpacked.group = &group;
    const std::string path = m_strTempFolder + group.name;
    TrustRefusal refusal;
    if (m_trust.Enabled() && !m_trust.CheckFile(group.name, path, &refusal, &m_bHalt)) {
        // A package of gigabytes takes seconds to hash: a stop ends that too.
        unpacked.kind = m_bHalt.load() ? UnpackedPackage::Kind::Halted : UnpackedPackage::Kind::Damaged;
        unpacked.text = refusal.shown;
        unpacked.reason = refusal.reason;
        unpacked.refused = true;
        return unpacked;
    }
    CBundle bundle;
    bundle.SetStopFlag(&m_bHalt);
    if (!bundle.Open(path.c_str(), kBundleTag)) {
        unpacked.kind = UnpackedPackage::Kind::Damaged;
        unpacked.text = StringPrintf(update_text::kOpenPackageFailed, group.name.c_str());
        unpacked.reason = bundle.LastError();
        return unpacked;
    }
    for (const PackageMember& member : group.members) {
        if (m_bHalt.load()) unpacked.kind = UnpackedPackage::Kind::Halted;
        if (unpacked.kind == UnpackedPackage::Kind::Halted || !ExtractMember(bundle, member, &unpacked)) {
            return unpacked;
        }
        if (!IsInstallerMember(member.strMember)) {
            unpacked.moves.push_back(MoveOf(member));
        } else if (selfUpdate && !PlaceInstallerProgram(member, &unpacked)) {
            return unpacked;
        }
    }
    unpacked.kind = UnpackedPackage::Kind::Done;
    return unpacked;
}

// Extracts one member; when the list gives its MD5, the digest is taken from
// the bytes as they are written and a damaged or altered member never reaches
// the installer. The stamp recorded with a good digest is the one of the file
// written, which the installer renames into its place.
bool CGameUpdater::ExtractMember(CBundle& bundle, const PackageMember& member, UnpackedPackage* unpackOut) {
    const std::string unpackedPath = m_strTempFolder + member.strMember;
    Log(EntryKind::Info, unpackedPath);
    const bool listed = IsDigestText(member.strExtra);
    DigestSink digest(DigestAlgorithm::Md5);
    ExtractedFile file;
    bundle.SetProgress(WriteProgress(StepPhase::Unpack, member.strMember, member.nSize));
    if (bundle.Extract(member.strMember.c_str(), unpackedPath.c_str(), listed ? &digest : nullptr, &file)) {
        if (!listed) return true;
        const std::string actual = digest.FinishHex();
        if (actual == AsciiFolded(member.strExtra)) {
            if (file.stamped && !IsInstallerMember(member.strMember)) {
                unpackOut->checkedFiles.push_back({VerifyCacheLine::Kind::Installed,
                                                   InstalledRelativePath(member.strMember), file.stamp, actual});
            }
            return true;
        }
        TheJournal().AddEntryF(EntryKind::Error, update_text::kDigestMismatch, member.strMember.c_str(),
                               member.strExtra.c_str(), actual.c_str());
        (void)fs_port::RemoveFile(unpackedPath);
        unpackOut->kind = UnpackedPackage::Kind::Damaged;
    } else if (m_bHalt.load() && !bundle.LastFailureInPackage()) {
        // Stopped inside the member: no damage to report, and no box.
        unpackOut->kind = UnpackedPackage::Kind::Halted;
        return false;
    } else {
        unpackOut->kind = bundle.LastFailureInPackage() ? UnpackedPackage::Kind::Damaged : UnpackedPackage::Kind::Failed;
        unpackOut->reason = bundle.LastError();
    }
    unpackOut->text = StringPrintf(update_text::kExtractFailed, member.strMember.c_str());
    unpackOut->box = true;
    return false;
}

// The installer program is the one file put in place here, so that its new
// version carries out the rest. When it cannot be, the step ends: the old
// installer must not carry out an installation made for the new one.
bool CGameUpdater::PlaceInstallerProgram(const PackageMember& member, UnpackedPackage* unpackOut) {
    const std::string placed = m_strLauncherFolder + "\\" + kInstallerFileName;
    if (fs_port::RenamePath(m_strTempFolder + member.strMember, placed, true)) return true;
    unpackOut->kind = UnpackedPackage::Kind::Failed;
    unpackOut->text = StringPrintf(update_text::kSelfMoveFailed, member.strMember.c_str());
    return false;
}
