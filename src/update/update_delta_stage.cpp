#include "update/update_delta_stage.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "app/util/launcher_util.h"
#include "delta/vcdiff_delta.h"
#include "external/bundle.h"
#include "external/fast_file.h"
#include "external/journal.h"
#include "external/patch_kit.h"
#include "maintenance/verify_cache.h"
#include "platform/file_system.h"
#include "platform/saturated_sum.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/game_updater.h"
#include "update/install_paths.h"
#include "update/status_texts.h"

namespace {

int64_t SizeOrZero(const std::string& path) {
    const int64_t size = fs_port::FileSize(path);
    return size < 0 ? 0 : size;
}

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

int ByteCountingTransfer::FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                      int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                                      const ProgressFn& progress) {
    const int64_t before = SizeOrZero(localPath);
    const int result = m_inner->FetchToFile(transferMode, url, localPath, maxBytes, stop, notFoundOut, progress);
    const int64_t after = SizeOrZero(localPath);
    if (after > before) m_received += after - before;
    return result;
}

int ByteCountingTransfer::FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                                        std::string* contentOut, const std::atomic<bool>* stop) {
    const int result = m_inner->FetchToMemory(transferMode, url, maxBytes, contentOut, stop);
    m_received += static_cast<int64_t>(contentOut->size());
    return result;
}

bool CDeltaStage::Run(UpdatePlan* remaining, HandOffPlan* handOff) {
    std::vector<DeltaMember> deltas;
    m_baseUrl = remaining->baseUrl;
    if (!LoadPatchList(remaining->baseUrl, &deltas)) return !m_updater.StopHere();
    const std::vector<Candidate> chosen = Choose(*remaining, deltas);
    if (m_updater.StopHere()) return false;
    if (chosen.empty()) return true;
    std::map<std::string, std::vector<const Candidate*>> byPackage;
    for (const Candidate& candidate : chosen) byPackage[candidate.delta.package].push_back(&candidate);
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeltaChosen, static_cast<int>(chosen.size()),
                           static_cast<int>(byPackage.size()));
    int64_t applyBytes = 0;
    for (const Candidate& candidate : chosen) applyBytes = SaturatedSum(applyBytes, candidate.member.nSize);
    m_updater.BeginDeltaProgress(applyBytes);
    (void)fs_port::MakeDirectories(m_updater.m_strTempFolder + kDeltaFolderName + "\\pak");
    for (const auto& [package, members] : byPackage) {
        if (!PatchFromPackage(package, members, handOff)) return false;
    }
    DeleteFolderTree(m_updater.m_strTempFolder + kDeltaFolderName);
    std::set<std::string> patched(m_patchedMembers.begin(), m_patchedMembers.end());
    std::vector<PackageGroup> still;
    for (PackageGroup& group : remaining->packages) {
        std::vector<PackageMember> left;
        for (PackageMember& member : group.members) {
            if (!patched.count(member.strMember)) left.push_back(std::move(member));
        }
        group.members = std::move(left);
        if (!group.members.empty()) still.push_back(std::move(group));
    }
    remaining->packages = std::move(still);
    m_patched = m_patchedMembers.size();
    return true;
}

// False, with a log line when there is something to say, whenever the step
// goes without deltas: no list, a list the manifest refuses, or one that is
// not wholly well-formed.
bool CDeltaStage::LoadPatchList(const std::string& baseUrl, std::vector<DeltaMember>* membersOut) {
    const CReleaseTrust& trust = m_updater.m_trust;
    if (trust.Enabled() && !trust.Lists(kPatchListName)) return false;
    const std::string localPath = m_updater.m_strLauncherFolder + "\\" + kPatchListName;
    const std::string text = FetchPatchList(baseUrl + kPatchListName, localPath);
    (void)fs_port::RemoveFile(localPath);
    if (text.empty()) return false;
    std::string offending;
    if (ParsePatchList(text, membersOut, &offending)) return true;
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListMalformed, offending.c_str());
    return false;
}

// The list's UTF-8 text; empty when there is none to use.
std::string CDeltaStage::FetchPatchList(const std::string& url, const std::string& localPath) {
    CReleaseTrust& trust = m_updater.m_trust;
    TrustRefusal refusal;
    uint64_t listed = 0;
    int64_t cap = kMaxListFileBytes;
    if (trust.Enabled() && trust.ExpectedSize(kPatchListName, &listed, &refusal) &&
        listed < static_cast<uint64_t>(cap)) {
        cap = static_cast<int64_t>(listed);
    }
    (void)fs_port::RemoveFile(localPath);
    bool notFound = false;
    const int result = m_updater.m_pTransfer->FetchToFile(m_updater.m_settings.TransferMode, url, localPath, cap,
                                                          &m_updater.m_bStopRequested, &notFound, {});
    if (result != 0) {
        if (!notFound && !m_updater.StopRequested()) {
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListFetchFailed, result * 10);
        }
        return std::string();
    }
    if (trust.Enabled() && !trust.CheckFile(kPatchListName, localPath, &refusal)) {
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kPatchListRefused, refusal.reason.c_str());
        return std::string();
    }
    std::string gbk, utf8;
    if (!ReadWholeFile(localPath, &LauncherFileKey(), true, &gbk) || !GbkToUtf8(gbk, &utf8)) {
        TheJournal().AddEntry(EntryKind::Notice, update_text::kPatchListUnreadable);
        return std::string();
    }
    return utf8;
}

// The members whose whole package can be left on the server: every member of
// it has a delta to the list's MD5 whose source is what is installed. A
// package that is fetched anyway gives its members at no further cost.
std::vector<CDeltaStage::Candidate> CDeltaStage::Choose(const UpdatePlan& plan,
                                                         const std::vector<DeltaMember>& deltas) {
    std::map<std::string, const DeltaMember*> byPlace;
    for (const DeltaMember& delta : deltas) byPlace[SameFileKey(delta.place)] = &delta;
    std::vector<VerifyCacheLine> lines;
    if (LoadVerifyCache(m_updater.m_strLauncherFolder, &lines) != VerifyCacheRead::Usable) lines.clear();
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
            if (m_updater.StopRequested() || !InstalledIsSource(candidate, cache)) {
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
    const std::string path = m_updater.m_strLauncherFolder + "\\" + candidate.delta.place;
    fs_port::FileStamp stamp;
    if (!fs_port::ReadFileStamp(path, &stamp)) return false;
    std::string md5;
    if (const std::string* cached = cache.Find(candidate.delta.place, stamp)) md5 = *cached;
    CPatchKit kit;
    StampedDigest digest;
    if (md5.empty() && kit.ComputeStampedDigest(path, &m_updater.m_bStopRequested, &digest) == DigestRead::Done) {
        md5 = digest.hex;
    }
    if (md5 == candidate.delta.sourceMd5) return true;
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeltaSourceDiffers, candidate.delta.place.c_str());
    return false;
}

bool CDeltaStage::PatchFromPackage(const std::string& package, const std::vector<const Candidate*>& members,
                                   HandOffPlan* handOff) {
    // Packages in a folder of their own: no name of the list meets the delta file.
    const std::string localPath = m_updater.m_strTempFolder + kDeltaFolderName + "\\pak\\" + package;
    std::string why = FetchDeltaPackage(package, localPath);
    if (m_updater.StopHere()) return false;
    CBundle bundle;
    bundle.SetStopFlag(&m_updater.m_bStopRequested);
    if (why.empty() && !bundle.Open(localPath.c_str(), kBundleTag)) {
        why = StringPrintf("delta package %s: %s", package.c_str(), bundle.LastError().c_str());
    }
    for (const Candidate* candidate : members) {
        const std::string reason = why.empty() ? PatchMember(bundle, *candidate, handOff) : why;
        if (m_updater.StopHere()) return false;
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
    const CReleaseTrust& trust = m_updater.m_trust;
    TrustRefusal refusal;
    uint64_t listed = 0;
    if (trust.Enabled() && !trust.ExpectedSize(name, &listed, &refusal)) return refusal.reason;
    const std::string waiting = StringPrintf(update_text::kWaitForDownloading, name.c_str());
    m_updater.ReportStatus(0, 0.0f, waiting);
    TheJournal().AddEntry(EntryKind::Info, waiting.c_str());
    const int64_t cap =
        trust.Enabled() ? static_cast<int64_t>(std::min<uint64_t>(listed, std::numeric_limits<int64_t>::max()))
                        : kNoByteCap;
    PackageGroup shown;
    shown.name = name;
    const int result =
        m_updater.m_pTransfer->FetchToFile(m_updater.m_settings.TransferMode, m_baseUrl + name, localPath, cap,
                                           &m_updater.m_bStopRequested, nullptr, m_updater.DownloadProgress(shown));
    if (result != 0) return StringPrintf("delta package %s not received (error %d)", name.c_str(), result * 10);
    if (trust.Enabled() && !trust.CheckFile(name, localPath, &refusal)) return refusal.reason;
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
    m_updater.ReportUnpacking(StringPrintf(update_text::kWaitForPatching, delta.place.c_str()));
    const std::string deltaPath = m_updater.m_strTempFolder + kDeltaFolderName + "\\patch.vcdiff";
    if (!bundle.Extract(delta.member.c_str(), deltaPath.c_str())) return "delta not unpacked: " + bundle.LastError();
    const std::string outPath = m_updater.m_strTempFolder + candidate.member.strMember;
    (void)CreateFolderChain(outPath);
    // A delta that would make more than the list's size is cut off there: a
    // hostile one cannot fill the disk.
    std::atomic<bool> stop{false};
    bool tooLarge = false;
    const int64_t limit = candidate.member.nSize;
    const ProgressFn shown = m_updater.ApplyProgress(delta.place, limit);
    const auto progress = [&](int64_t done, int64_t total) {
        tooLarge = tooLarge || done > limit;
        if (tooLarge || m_updater.StopRequested()) stop.store(true);
        shown(done, total);
    };
    const DeltaResult applied =
        ApplyDeltaFile(m_updater.m_strLauncherFolder + "\\" + delta.place, deltaPath, outPath, &stop, progress);
    (void)fs_port::RemoveFile(deltaPath);
    if (!applied.ok) {
        (void)fs_port::RemoveFile(outPath);
        if (tooLarge) return StringPrintf("the delta makes more than the list's %lld bytes", static_cast<long long>(limit));
        return "delta not applied: " + applied.error;
    }
    CPatchKit kit;
    StampedDigest digest;
    const bool readable = kit.ComputeStampedDigest(outPath, &m_updater.m_bStopRequested, &digest) == DigestRead::Done;
    if (!readable || digest.hex != delta.targetMd5) {
        (void)fs_port::RemoveFile(outPath);
        return StringPrintf("MD5 of the result %s, expected %s", readable ? digest.hex.c_str() : "(unreadable)",
                            delta.targetMd5.c_str());
    }
    if (digest.unchangedWhileRead && !IsInstallerMember(candidate.member.strMember)) {
        m_updater.m_checkedFiles.push_back({VerifyCacheLine::Kind::Installed,
                                            InstalledRelativePath(candidate.member.strMember), digest.stamp,
                                            digest.hex});
    }
    handOff->moves.push_back(m_updater.MoveOf(candidate.member));
    return std::string();
}

void CDeltaStage::FallBack(const Candidate& candidate, const std::string& reason) {
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kDeltaFallback, candidate.delta.place.c_str(),
                           candidate.member.strPackage.c_str(), reason.c_str());
}
