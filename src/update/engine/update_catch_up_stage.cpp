#include "update/engine/update_catch_up_stage.h"

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/bundle.h"
#include "package/patch_kit.h"
#include "package/ranged_member.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/engine/update_hand_over_stage.h"
#include "update/fetch/version_fetcher.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"

namespace {

// A span whose header turns out longer than planned is fetched once more,
// whole; a header that still does not fit is no header of a real package.
constexpr int kSpanFetches = 2;

PackageMember MemberOf(const StateEntry& entry) {
    return {entry.package, entry.member, static_cast<int64_t>(entry.size), entry.md5};
}

// The name a made member is kept under: apart from every package's name.
std::string KeptMemberName(const StateEntry& entry) {
    return "member:" + entry.sourceVersion + "/" + entry.package + "/" + entry.member;
}

}  // namespace

bool CCatchUpStage::Run(const CatchUpPlan& plan, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut) {
    m_handOff = handOff;
    m_checked = checkedOut;
    // The halt flag may still be set from the end of an earlier run; a stop
    // request sets it after its own flag, so one made since is seen here.
    m_step.halt.store(false);
    if (m_step.stopRequested.load()) m_step.halt.store(true);
    (void)fs_port::MakeDirectories(m_step.workFolder + kCatchUpFolderName);
    const bool made = MakeMembers(plan);
    // The members made are kept for the next run however this one ended.
    m_step.fetcher.FlushKeptMembers();
    if (!made) return false;
    UpdatePlan deletions;
    deletions.deleteLines = plan.deletions;
    AddDeletions(m_step, deletions, handOff);
    return true;
}

bool CCatchUpStage::MakeMembers(const CatchUpPlan& plan) {
    for (const CatchUpPackage& planned : plan.packages) {
        // Members an earlier run toward the same version made are used once
        // they check out again; the rest are fetched.
        CatchUpPackage package = planned;
        package.members.clear();
        for (const StateEntry* entry : planned.members) {
            const Got kept = TakeKept(*entry);
            if (kept == Got::Failed) return false;
            if (kept != Got::Done) package.members.push_back(entry);
        }
        size_t taken = 0;
        if (!package.whole) {
            for (const StateEntry* entry : package.members) {
                if (m_step.report.StopHere()) return false;
                const Got got = MemberBySpan(*entry);
                if (got == Got::Failed) return false;
                if (got == Got::WholePackage) break;
                ++taken;
            }
        }
        if (taken < package.members.size() && !MembersFromPackage(package, taken)) return false;
    }
    return true;
}

std::string CCatchUpStage::SpanPath() const {
    return m_step.workFolder + kCatchUpFolderName + "\\member.span";
}

// One member by byte range. WholePackage when the server gives no ranges, or
// the span does not hold what the index says (then the package itself,
// found by the member's name, decides).
CCatchUpStage::Got CCatchUpStage::MemberBySpan(const StateEntry& entry) {
    MemberSpan span;
    if (!SpanOfMember(entry, &span)) return Got::WholePackage;
    const std::string spanPath = SpanPath();
    for (int fetch = 0; fetch < kSpanFetches; ++fetch) {
        bool ignored = false;
        const int result = m_step.fetcher.FetchSpan(
            entry.sourceVersion, entry.package, spanPath, static_cast<int64_t>(span.offset),
            static_cast<int64_t>(span.length), &m_step.halt, &ignored,
            m_step.report.DownloadProgress(entry.member, static_cast<int64_t>(span.length)));
        if (m_step.report.StopHere()) return Got::Failed;
        if (ignored) {
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kCatchUpNoRanges, entry.package.c_str());
            return Got::WholePackage;
        }
        if (result != 0) {
            m_step.report.Fail(m_step.fetcher.FailureText(StringPrintf(update_text::kPackageDownloadFailed, result * 10)),
                               entry.sourceVersion + "/" + entry.package + " : " + entry.member);
            return Got::Failed;
        }
        SpanExtraction extraction;
        (void)ExtractSpanMember(spanPath, entry, OutPath(entry), &m_step.halt,
                                m_step.report.UnpackProgress(entry.member, static_cast<int64_t>(entry.size)),
                                &extraction);
        (void)fs_port::RemoveFile(spanPath);
        switch (extraction.outcome) {
            case SpanOutcome::Done:
                return Took(entry, extraction.file) ? Got::Done : Got::Failed;
            case SpanOutcome::Short:
                span.length = extraction.neededBytes;
                continue;
            case SpanOutcome::Stopped:
                (void)m_step.report.StopHere();
                return Got::Failed;
            case SpanOutcome::Failed:
                m_step.report.Fail(StringPrintf(update_text::kExtractFailed, entry.member.c_str()), extraction.reason);
                return Got::Failed;
            case SpanOutcome::Refused:
            case SpanOutcome::Damaged:
                TheJournal().AddEntryF(EntryKind::Notice, update_text::kCatchUpSpanRefused, entry.member.c_str(),
                                       extraction.reason.c_str());
                return Got::WholePackage;
        }
    }
    return Got::WholePackage;
}

// The members from the first not yet taken on, out of the whole package,
// each checked against the index's MD5 as it is written and its SHA-256.
bool CCatchUpStage::MembersFromPackage(const CatchUpPackage& package, size_t from) {
    // Packages of two version folders may share a name.
    const std::string local =
        m_step.workFolder + kCatchUpFolderName + "\\" + package.sourceVersion + "_" + package.package;
    const int result = m_step.fetcher.FetchFromVersion(package.sourceVersion, package.package, local, &m_step.halt,
                                                       m_step.report.DownloadProgress(package.package, package.packageBytes));
    if (m_step.report.StopHere()) return false;
    if (result != 0) {
        m_step.report.Fail(m_step.fetcher.FailureText(StringPrintf(update_text::kPackageDownloadFailed, result * 10)),
                           package.sourceVersion + "/" + package.package);
        return false;
    }
    CBundle bundle;
    bundle.SetStopFlag(&m_step.halt);
    if (!bundle.Open(local.c_str(), kBundleTag)) {
        m_step.report.Fail(StringPrintf(update_text::kOpenPackageFailed, package.package.c_str()), bundle.LastError());
        return false;
    }
    for (size_t i = from; i < package.members.size(); ++i) {
        const StateEntry& entry = *package.members[i];
        ExtractedFile file;
        const std::string reason = ExtractChecked(bundle, entry, &file);
        if (reason.empty()) {
            if (!Took(entry, file)) return false;
            continue;
        }
        (void)fs_port::RemoveFile(OutPath(entry));
        if (m_step.report.StopHere()) return false;
        m_step.report.Fail(StringPrintf(update_text::kExtractFailed, entry.member.c_str()), reason);
        return false;
    }
    return true;
}

// Empty when the member is out of the package and is the index's file: its
// MD5 taken as it was written, then its SHA-256; else why not.
std::string CCatchUpStage::ExtractChecked(CBundle& bundle, const StateEntry& entry, ExtractedFile* fileOut) {
    DigestSink md5(DigestAlgorithm::Md5);
    const std::string out = OutPath(entry);
    if (!bundle.Extract(entry.member.c_str(), out.c_str(), &md5, fileOut)) return bundle.LastError();
    const std::string actual = md5.FinishHex();
    if (actual != entry.md5) return "MD5 " + actual + ", the index says " + entry.md5;
    std::string sha256;
    if (!ComputeFileDigest(out, DigestAlgorithm::Sha256, &sha256, nullptr, &m_step.halt) || sha256 != entry.sha256) {
        return "SHA-256 " + sha256 + ", the index says " + entry.sha256;
    }
    return std::string();
}

// Done: a member kept from an earlier run, still the index's file, taken
// without a byte fetched; WholePackage (meaning: fetch it) when none is kept
// or it no longer checks out (then it goes).
CCatchUpStage::Got CCatchUpStage::TakeKept(const StateEntry& entry) {
    const std::string out = OutPath(entry);
    const std::string name = KeptMemberName(entry);
    if (!m_step.fetcher.FindKeptMember(name, out, entry.size, entry.sha256)) return Got::WholePackage;
    std::string md5;
    std::string sha256;
    if (!ComputeFileDigest(out, DigestAlgorithm::Md5, &md5, nullptr, &m_step.halt) || md5 != entry.md5 ||
        !ComputeFileDigest(out, DigestAlgorithm::Sha256, &sha256, nullptr, &m_step.halt) || sha256 != entry.sha256) {
        if (m_step.report.StopHere()) return Got::Failed;
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kKeptDownloadAgain, entry.member.c_str(),
                               ("MD5 " + md5).c_str());
        (void)m_step.fetcher.DropDownload(name);
        return Got::WholePackage;
    }
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kKeptDownloadUsed, entry.member.c_str(),
                           static_cast<long long>(entry.size));
    m_step.fetcher.NoteReused(static_cast<int64_t>(entry.size));
    return Took(entry, ExtractedFile{}) ? Got::Done : Got::Failed;
}

// A member made: its move for the installer (the installer program itself is
// put in place at once, so that its new version carries out the rest), and
// the stamp of a checked file for the next start's check.
bool CCatchUpStage::Took(const StateEntry& entry, const ExtractedFile& file) {
    const PackageMember member = MemberOf(entry);
    if (IsInstallerMember(entry.member)) {
        if (fs_port::RenamePath(OutPath(entry), m_step.launcherFolder + "\\" + kInstallerFileName, true)) return true;
        m_step.report.Fail(StringPrintf(update_text::kSelfMoveFailed, entry.member.c_str()));
        return false;
    }
    m_handOff->moves.push_back(MoveOfMember(m_step, member));
    m_step.fetcher.KeepMember(KeptMemberName(entry), OutPath(entry), entry.size, entry.sha256);
    if (file.stamped) {
        m_checked->push_back(
            {VerifyCacheLine::Kind::Installed, InstalledRelativePath(entry.member), file.stamp, entry.md5});
    }
    return true;
}
