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
#include <algorithm>
#include <future>
#include <limits>
#include <system_error>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/bundle.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "platform/saturated_sum.h"
#include "platform/text_format.h"
#include "update/engine/update_pipeline.h"
#include "update/install/install_paths.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"
#include "update/report/step_progress.h"

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

int64_t PlannedDownloadBytes(const CVersionFetcher& fetcher, const PackageGroup& group) {
    uint64_t size = 0;
    if (fetcher.ListedSize(group.name, &size)) {
        return static_cast<int64_t>(std::min<uint64_t>(size, std::numeric_limits<int64_t>::max()));
    }
    int64_t sum = 0;
    for (const PackageMember& member : group.members) sum = SaturatedSum(sum, member.nSize);
    return sum;
}

void CPackagePipeline::ResetHalt() {
    m_step.halt.store(false);
    // A stop request sets the halt flag after its own: a request made since
    // the line above has set it again, an earlier one is seen here.
    if (m_step.stopRequested.load()) m_step.halt.store(true);
}

bool CPackagePipeline::Run(const UpdatePlan& plan, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut) {
    m_plan = &plan;
    m_checked = checkedOut;
    std::vector<std::string> names;
    for (const PackageGroup& group : plan.packages) names.push_back(group.name);
    StepFailure failure;
    if (!m_step.fetcher.CheckListed(names, &failure)) {
        m_step.report.Fail(failure.shown, failure.reason);
        return false;
    }
    ResetHalt();
    UnpackSlot slot(&m_step.halt);
    for (size_t next = 0; next < plan.packages.size();) {
        if (m_step.report.StopHere()) return false;
        const PackageGroup& group = plan.packages[next];
        const int result = FetchPackage(group);
        if (result != 0) m_step.halt.store(true);
        UnpackedPackage previous = slot.Finish();
        if (m_step.report.StopHere()) return false;
        const bool cutShort = Unfinished(previous);
        // An unpacking halted by this download's own failure has nothing to add.
        const bool haltedHere = result != 0 && previous.kind == UnpackedPackage::Kind::Halted;
        if (!haltedHere && !SettleUnpack(std::move(previous), handOff)) return false;
        if (result != 0 && cutShort) {
            // That failure may have cut this download short: it continues
            // from the bytes it has.
            ResetHalt();
            continue;
        }
        if (result != 0) {
            FailDownload(result, group);
            return false;
        }
        if (next + 1 == plan.packages.size()) m_step.report.StatusPercent(100.0f, update_text::kDownloadDone);
        AnnounceUnpack(group, next == 0);
        slot.Begin([this, &group] {
            UnpackedPackage unpacked = UnpackPackage(group);
            if (Unfinished(unpacked)) m_step.halt.store(true);
            return unpacked;
        });
        ++next;
    }
    UnpackedPackage last = slot.Finish();
    if (m_step.report.StopHere()) return false;
    return SettleUnpack(std::move(last), handOff);
}

int CPackagePipeline::FetchPackage(const PackageGroup& group) {
    const std::string waiting = StringPrintf(update_text::kWaitForDownloading, group.name.c_str());
    m_step.report.Status(waiting);
    Log(EntryKind::Info, waiting);
    Log(EntryKind::Info, m_plan->baseUrl + group.name);
    return m_step.fetcher.FetchPackage(
        group.name, m_step.workFolder + group.name, &m_step.halt,
        m_step.report.DownloadProgress(group.name, PlannedDownloadBytes(m_step.fetcher, group)));
}

void CPackagePipeline::FailDownload(int result, const PackageGroup& group) {
    m_step.report.Fail(m_step.fetcher.FailureText(StringPrintf(update_text::kPackageDownloadFailed, result * 10)));
    Log(EntryKind::Error, m_plan->baseUrl + group.name);
    Log(EntryKind::Error, m_step.workFolder + group.name);
}

void CPackagePipeline::AnnounceUnpack(const PackageGroup& group, bool first) {
    if (first) {
        m_step.report.Status(update_text::kUnpackStart);
        Log(EntryKind::Info, update_text::kUnpackStart);
    }
    m_step.report.Unpacking(StringPrintf(update_text::kWaitForUnpackaging, group.name.c_str()));
}

// Takes what a package's unpacking gave. A package that failed its check is
// fetched again, and unpacked here: a kept download from the same host, one
// fetched in this step from the next host for as long as the transfer has
// one; nothing else runs meanwhile. A damaged package does not stay.
bool CPackagePipeline::SettleUnpack(UnpackedPackage unpacked, HandOffPlan* handOff) {
    for (int fetches = 1; unpacked.kind == UnpackedPackage::Kind::Damaged && fetches < kMaxFetchesPerPackage;
         ++fetches) {
        const PackageGroup& group = *unpacked.group;
        const std::string url = m_plan->baseUrl + group.name;
        const std::string why = unpacked.reason.empty() ? unpacked.text : unpacked.text + " : " + unpacked.reason;
        if (m_step.fetcher.DropDownload(group.name)) {
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kKeptDownloadAgain, group.name.c_str(),
                                   why.c_str());
        } else if (m_step.fetcher.LeaveHostOf(group.name)) {
            Log(EntryKind::Notice, why);
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kPackageFetchAgain, group.name.c_str(),
                                   url.c_str());
        } else {
            break;
        }
        ResetHalt();
        const int result = FetchPackage(group);
        if (m_step.report.StopHere()) return false;
        if (result != 0) {
            FailDownload(result, group);
            return false;
        }
        AnnounceUnpack(group, false);
        unpacked = UnpackPackage(group);
    }
    switch (unpacked.kind) {
        case UnpackedPackage::Kind::None:
            return true;
        case UnpackedPackage::Kind::Done:
            handOff->moves.insert(handOff->moves.end(), unpacked.moves.begin(), unpacked.moves.end());
            m_checked->insert(m_checked->end(), unpacked.checkedFiles.begin(), unpacked.checkedFiles.end());
            return true;
        case UnpackedPackage::Kind::Halted:
            // Only a stop halts an unpacking whose download side went well.
            if (!m_step.report.StopHere()) m_step.report.Fail(update_text::kStopped);
            return false;
        case UnpackedPackage::Kind::Damaged:
        case UnpackedPackage::Kind::Failed:
            break;
    }
    ReportUnpackFailure(unpacked);
    return false;
}

void CPackagePipeline::ReportUnpackFailure(const UnpackedPackage& unpacked) {
    m_step.report.Fail(unpacked.text, unpacked.reason);
    TheJournal().TrapFaults(false);
    if (unpacked.box) m_step.report.ManualUpdateBox();
    if (unpacked.group != nullptr && unpacked.kind == UnpackedPackage::Kind::Damaged) {
        (void)m_step.fetcher.DropDownload(unpacked.group->name);
    }
}

// On the second thread: the signed manifest's check of the package, then its
// members, each checked against the list's MD5 as it is written.
UnpackedPackage CPackagePipeline::UnpackPackage(const PackageGroup& group) {
    UnpackedPackage unpacked;
    unpacked.group = &group;
    const std::string path = m_step.workFolder + group.name;
    StepFailure failure;
    if (!m_step.fetcher.CheckPackage(group.name, path, &failure, &m_step.halt)) {
        // A package whose digest was not taken as it came is read, which for
        // gigabytes takes seconds: a stop ends that too.
        unpacked.kind = m_step.halt.load() ? UnpackedPackage::Kind::Halted : UnpackedPackage::Kind::Damaged;
        unpacked.text = failure.shown;
        unpacked.reason = failure.reason;
        return unpacked;
    }
    CBundle bundle;
    bundle.SetStopFlag(&m_step.halt);
    if (!bundle.Open(path.c_str(), kBundleTag)) {
        unpacked.kind = UnpackedPackage::Kind::Damaged;
        unpacked.text = StringPrintf(update_text::kOpenPackageFailed, group.name.c_str());
        unpacked.reason = bundle.LastError();
        return unpacked;
    }
    for (const PackageMember& member : group.members) {
        if (m_step.halt.load()) unpacked.kind = UnpackedPackage::Kind::Halted;
        if (unpacked.kind == UnpackedPackage::Kind::Halted || !ExtractMember(bundle, member, &unpacked)) {
            return unpacked;
        }
        if (!IsInstallerMember(member.strMember)) {
            unpacked.moves.push_back(MoveOfMember(m_step, member));
        } else if (m_plan->selfUpdate && !PlaceInstallerProgram(member, &unpacked)) {
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
bool CPackagePipeline::ExtractMember(CBundle& bundle, const PackageMember& member, UnpackedPackage* unpackOut) {
    const std::string unpackedPath = m_step.workFolder + member.strMember;
    Log(EntryKind::Info, unpackedPath);
    const bool listed = IsDigestText(member.strExtra);
    DigestSink digest(DigestAlgorithm::Md5);
    ExtractedFile file;
    bundle.SetProgress(m_step.report.UnpackProgress(member.strMember, member.nSize));
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
    } else if (m_step.halt.load() && !bundle.LastFailureInPackage()) {
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
bool CPackagePipeline::PlaceInstallerProgram(const PackageMember& member, UnpackedPackage* unpackOut) {
    const std::string placed = m_step.launcherFolder + "\\" + kInstallerFileName;
    if (fs_port::RenamePath(m_step.workFolder + member.strMember, placed, true)) return true;
    unpackOut->kind = UnpackedPackage::Kind::Failed;
    unpackOut->text = StringPrintf(update_text::kSelfMoveFailed, member.strMember.c_str());
    return false;
}
