#include "update/engine/update_delta_stage.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "app/util/launcher_util.h"
#include "delta/vcdiff_delta.h"
#include "journal/journal.h"
#include "maintenance/verify_cache.h"
#include "package/bundle.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "platform/saturated_sum.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/install/install_paths.h"
#include "update/report/status_texts.h"
#include "update/report/step_progress.h"

namespace {

const BundleMember* FindBundleMember(const CBundle& bundle, const std::string& name) {
    for (const BundleMember& member : bundle.Members()) {
        if (!member.isDirectory && SameFileKey(member.name) == SameFileKey(name)) return &member;
    }
    return nullptr;
}

std::string RootFolderOf(const std::string& memberPath) {
    return memberPath.substr(0, memberPath.find_first_of("\\/"));
}

}  // namespace

bool CDeltaStage::Run(UpdatePlan* remaining, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut) {
    m_checked = checkedOut;
    std::vector<DeltaMember> deltas;
    if (!LoadPatchList(&deltas)) return !m_step.report.StopHere();
    const std::vector<Candidate> chosen = Choose(*remaining, deltas);
    if (m_step.report.StopHere()) return false;
    if (chosen.empty()) return true;
    std::map<std::string, std::vector<const Candidate*>> byPackage;
    for (const Candidate& candidate : chosen) byPackage[candidate.delta.package].push_back(&candidate);
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeltaChosen, static_cast<int>(chosen.size()),
                           static_cast<int>(byPackage.size()));
    int64_t applyBytes = 0;
    for (const Candidate& candidate : chosen) applyBytes = SaturatedSum(applyBytes, candidate.member.nSize);
    m_step.report.BeginDeltas(applyBytes);
    (void)fs_port::MakeDirectories(m_step.workFolder + kDeltaFolderName + "\\pak");
    for (const auto& [package, members] : byPackage) {
        if (!PatchFromPackage(package, members, handOff)) return false;
    }
    // The delta packages stay in their folder with the step's other kept
    // downloads: a step paused after this stage takes them up again unfetched.
    std::set<std::string> patched(m_patchedMembers.begin(), m_patchedMembers.end());
    std::vector<PackageGroup> still;
    for (PackageGroup& group : remaining->packages) {
        std::vector<PackageMember> left;
        for (PackageMember& member : group.members) {
            if (!patched.count(member.strMember)) {
                left.push_back(std::move(member));
            } else {
                // The unpacking is planned from what is left.
                remaining->totalSize -= member.nSize;
            }
        }
        group.members = std::move(left);
        if (!group.members.empty()) still.push_back(std::move(group));
    }
    remaining->packages = std::move(still);
    m_patched = m_patchedMembers.size();
    return true;
}

// False, with a log line when there is something to say, whenever the step
// goes without deltas: no list, a list that did not come or that the
// manifest refuses, or one that is not wholly well-formed.
bool CDeltaStage::LoadPatchList(std::vector<DeltaMember>* membersOut) {
    const FetchedFile file = m_step.fetcher.FetchSmallFile(kPatchListName, VersionFileKind::Optional, kMaxListFileBytes);
    if (file.absent) return false;
    if (file.refused) {
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListRefused, file.failure.reason.c_str());
        return false;
    }
    if (file.result != 0) {
        if (!m_step.stopRequested.load()) {
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListFetchFailed, file.result * 10);
        }
        return false;
    }
    std::string gbk, text;
    if (!DecipherListImage(file.bytes, &gbk) || gbk.empty() || !GbkToUtf8(gbk, &text)) {
        TheJournal().AddEntry(EntryKind::Notice, update_text::kPatchListUnreadable);
        return false;
    }
    std::string offending;
    if (ParsePatchList(text, membersOut, &offending)) return true;
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListMalformed, offending.c_str());
    return false;
}

// The members whose whole package can be left on the server: every member of
// it has a delta to the list's MD5 whose source is what is installed. A
// package that is fetched anyway gives its members at no further cost.
std::vector<CDeltaStage::Candidate> CDeltaStage::Choose(const UpdatePlan& plan,
                                                         const std::vector<DeltaMember>& deltas) {
    std::map<std::string, const DeltaMember*> byPlace;
    for (const DeltaMember& delta : deltas) byPlace[SameFileKey(delta.place)] = &delta;
    std::vector<VerifyCacheLine> lines;
    if (LoadVerifyCache(m_step.launcherFolder, &lines) != VerifyCacheRead::Usable) lines.clear();
    const VerifyCacheIndex cache(lines);
    std::vector<Candidate> chosen;
    for (const PackageGroup& group : plan.packages) {
        std::vector<Candidate> whole;
        for (const PackageMember& member : group.members) {
            const auto found = byPlace.find(SameFileKey(InstalledRelativePath(member.strMember)));
            // The installer program is put in place by the engine from its package.
            if (found == byPlace.end() || IsInstallerMember(member.strMember) ||
                AsciiFolded(RootFolderOf(member.strMember)) == kDeltaFolderName ||
                (IsDigestText(member.strExtra) && AsciiFolded(member.strExtra) != found->second->targetMd5)) {
                break;
            }
            whole.push_back({*found->second, member});
        }
        if (whole.size() != group.members.size()) continue;
        for (const Candidate& candidate : whole) {
            if (m_step.stopRequested.load() || !InstalledIsSource(candidate, cache)) {
                whole.clear();
                break;
            }
        }
        chosen.insert(chosen.end(), whole.begin(), whole.end());
    }
    return chosen;
}

// The MD5 from the verification cache when the file's stamp is the one it
// records, else read from the file.
bool CDeltaStage::InstalledIsSource(const Candidate& candidate, const VerifyCacheIndex& cache) {
    const std::string path = m_step.launcherFolder + "\\" + candidate.delta.place;
    fs_port::FileStamp stamp;
    if (!fs_port::ReadFileStamp(path, &stamp)) return false;
    std::string md5;
    if (const std::string* cached = cache.Find(candidate.delta.place, stamp)) md5 = *cached;
    CPatchKit kit;
    StampedDigest digest;
    if (md5.empty() && kit.ComputeStampedDigest(path, &m_step.stopRequested, &digest) == DigestRead::Done) {
        md5 = digest.hex;
    }
    if (md5 == candidate.delta.sourceMd5) return true;
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeltaSourceDiffers, candidate.delta.place.c_str());
    return false;
}

bool CDeltaStage::PatchFromPackage(const std::string& package, const std::vector<const Candidate*>& members,
                                   HandOffPlan* handOff) {
    // Packages in a folder of their own: no name of the list meets the delta file.
    const std::string localPath = m_step.workFolder + kDeltaFolderName + "\\pak\\" + package;
    std::string why = FetchDeltaPackage(package, localPath);
    if (why.empty()) m_fetchedBytes = SaturatedSum(m_fetchedBytes, std::max<int64_t>(0, fs_port::FileSize(localPath)));
    if (m_step.report.StopHere()) return false;
    CBundle bundle;
    bundle.SetStopFlag(&m_step.stopRequested);
    if (why.empty() && !bundle.Open(localPath.c_str(), kBundleTag)) {
        why = StringPrintf("delta package %s: %s", package.c_str(), bundle.LastError().c_str());
    }
    for (const Candidate* candidate : members) {
        const std::string reason = why.empty() ? PatchMember(bundle, *candidate, handOff) : why;
        if (m_step.report.StopHere()) return false;
        if (reason.empty()) {
            m_patchedMembers.push_back(candidate->member.strMember);
        } else {
            FallBack(*candidate, reason);
        }
    }
    return true;
}

// Empty when the package is there and, in a signed release, as its manifest says.
std::string CDeltaStage::FetchDeltaPackage(const std::string& name, const std::string& localPath) {
    StepFailure failure;
    if (!m_step.fetcher.CheckListed({name}, &failure)) return failure.reason;
    const std::string waiting = StringPrintf(update_text::kWaitForDownloading, name.c_str());
    m_step.report.Status(waiting);
    TheJournal().AddEntry(EntryKind::Info, waiting.c_str());
    uint64_t listed = 0;
    const int64_t planned = m_step.fetcher.ListedSize(name, &listed)
                                ? static_cast<int64_t>(std::min<uint64_t>(listed, std::numeric_limits<int64_t>::max()))
                                : 0;
    const int result = m_step.fetcher.FetchPackage(name, localPath, &m_step.stopRequested,
                                                   m_step.report.DownloadProgress(name, planned));
    if (result != 0) return StringPrintf("delta package %s not received (error %d)", name.c_str(), result * 10);
    if (!m_step.fetcher.CheckPackage(name, localPath, &failure, nullptr)) return failure.reason;
    return std::string();
}

// Empty when the member was made from its installed copy and is what the
// lists say; else why not, and nothing of it is left in the work folder.
std::string CDeltaStage::PatchMember(CBundle& bundle, const Candidate& candidate, HandOffPlan* handOff) {
    const DeltaMember& delta = candidate.delta;
    const BundleMember* packed = FindBundleMember(bundle, delta.member);
    if (!packed) return "no delta " + delta.member + " in " + delta.package;
    if (packed->size != static_cast<uint64_t>(delta.size)) {
        return StringPrintf("delta %s holds %llu bytes, the patch list says %lld", delta.member.c_str(),
                            static_cast<unsigned long long>(packed->size), static_cast<long long>(delta.size));
    }
    m_step.report.Unpacking(StringPrintf(update_text::kWaitForPatching, delta.place.c_str()));
    const std::string deltaPath = m_step.workFolder + kDeltaFolderName + "\\patch.delta";
    if (!bundle.Extract(delta.member.c_str(), deltaPath.c_str())) return "delta not unpacked: " + bundle.LastError();
    const std::string outPath = m_step.workFolder + candidate.member.strMember;
    (void)CreateFolderChain(outPath);
    // A delta that would make more than the list's size is cut off there: a
    // hostile one cannot fill the disk.
    std::atomic<bool> stop{false};
    bool tooLarge = false;
    const int64_t limit = candidate.member.nSize;
    const ProgressFn shown = m_step.report.ApplyProgress(delta.place, limit);
    const auto progress = [&](int64_t done, int64_t total) {
        tooLarge = tooLarge || done > limit;
        if (tooLarge || m_step.stopRequested.load()) stop.store(true);
        shown(done, total);
    };
    const DeltaResult applied =
        ApplyDeltaFile(m_step.launcherFolder + "\\" + delta.place, deltaPath, outPath, &stop, progress);
    (void)fs_port::RemoveFile(deltaPath);
    if (!applied.ok) {
        (void)fs_port::RemoveFile(outPath);
        if (tooLarge) return StringPrintf("the delta makes more than the list's %lld bytes", static_cast<long long>(limit));
        return "delta not applied: " + applied.error;
    }
    CPatchKit kit;
    StampedDigest digest;
    const bool readable = kit.ComputeStampedDigest(outPath, &m_step.stopRequested, &digest) == DigestRead::Done;
    if (!readable || digest.hex != delta.targetMd5) {
        (void)fs_port::RemoveFile(outPath);
        return StringPrintf("MD5 of the result %s, expected %s", readable ? digest.hex.c_str() : "(unreadable)",
                            delta.targetMd5.c_str());
    }
    if (digest.unchangedWhileRead && !IsInstallerMember(candidate.member.strMember)) {
        m_checked->push_back({VerifyCacheLine::Kind::Installed,
                                            InstalledRelativePath(candidate.member.strMember), digest.stamp,
                                            digest.hex});
    }
    handOff->moves.push_back(MoveOfMember(m_step, candidate.member));
    return std::string();
}

void CDeltaStage::FallBack(const Candidate& candidate, const std::string& reason) {
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kDeltaFallback, candidate.delta.place.c_str(),
                           candidate.member.strPackage.c_str(), reason.c_str());
}
