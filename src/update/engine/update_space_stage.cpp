#include "update/engine/update_space_stage.h"

#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/engine/update_catch_up_stage.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"

namespace {

uint64_t Bytes(int64_t size) { return size > 0 ? static_cast<uint64_t>(size) : 0; }

std::string BackupFolder(const StepContext& step) {
    return step.launcherFolder + "\\" + kBackupFolderName + "\\";
}

// A member unpacked into the work folder, again where it is installed when
// that is another volume, and the old file put aside.
void AddMemberNeeds(const StepContext& step, const PackageMember& member, std::vector<SpaceNeed>* needsOut) {
    const HandOffMove move = MoveOfMember(step, member);
    const std::string installed =
        IsInstallerMember(member.strMember) ? step.launcherFolder + "\\" + kInstallerFileName : move.to;
    needsOut->push_back({move.from, Bytes(member.nSize), std::string()});
    needsOut->push_back({installed, Bytes(member.nSize), move.from});
    const int64_t old = fs_port::FileSize(installed);
    if (old >= 0) needsOut->push_back({BackupFolder(step), Bytes(old), installed});
}

void AddDeletionNeeds(const StepContext& step, const std::vector<std::string>& lines, std::vector<SpaceNeed>* needsOut) {
    for (const std::string& line : lines) {
        const std::string path = step.launcherFolder + "\\" + line;
        const int64_t old = line.empty() ? -1 : fs_port::FileSize(path);
        if (old >= 0) needsOut->push_back({BackupFolder(step), Bytes(old), path});
    }
}

}  // namespace

// What the packages of the step write: each package in the work folder (the
// manifest's size when signed; unsigned, its members' sizes stand in, as a
// package is rarely larger than what it holds), each member unpacked beside
// them, each member again where it is installed when that lies on another
// volume (the installer copies instead of renaming), and the old files the
// installer puts aside into its backup folder when they lie on another volume
// than that folder.
void AddPackageSpaceNeeds(const StepContext& step, const UpdatePlan& plan, std::vector<SpaceNeed>* needsOut) {
    for (const PackageGroup& group : plan.packages) {
        uint64_t packageBytes = 0;
        for (const PackageMember& member : group.members) packageBytes += Bytes(member.nSize);
        uint64_t listed = 0;
        if (step.fetcher.ListedSize(group.name, &listed)) packageBytes = listed;
        needsOut->push_back({step.workFolder + group.name, packageBytes, std::string()});
        for (const PackageMember& member : group.members) AddMemberNeeds(step, member, needsOut);
    }
    AddDeletionNeeds(step, plan.deleteLines, needsOut);
}

// A catch-up's or a repair's: its spans (or whole packages, their members'
// sizes standing in) in the work folder, each member unpacked and installed
// as in a step, and the deleted files put aside.
bool CheckCatchUpSpace(const StepContext& step, const CatchUpPlan& plan) {
    std::vector<SpaceNeed> needs;
    std::vector<SpaceNeed>* needsOut = &needs;
    std::vector<PackageMember> members;
    for (const CatchUpDelta& delta : plan.deltas) {
        members.push_back({delta.entry->package, delta.entry->member, static_cast<int64_t>(delta.entry->size),
                           delta.entry->md5});
        needsOut->push_back({step.workFolder + delta.delta.package, Bytes(delta.delta.size), std::string()});
    }
    for (const CatchUpPackage& package : plan.packages) {
        uint64_t fetched = package.whole && package.packageBytes > 0 ? Bytes(package.packageBytes) : 0;
        for (const StateEntry* entry : package.members) {
            members.push_back({entry->package, entry->member, static_cast<int64_t>(entry->size), entry->md5});
            if (!package.whole || package.packageBytes <= 0) fetched += entry->size;
        }
        needsOut->push_back(
            {step.workFolder + kCatchUpFolderName + "\\" + package.package, fetched, std::string()});
    }
    for (const PackageMember& member : members) AddMemberNeeds(step, member, needsOut);
    AddDeletionNeeds(step, plan.deletions, needsOut);
    return CheckDiskSpace(step, needs);
}

bool CheckDiskSpace(const StepContext& step, const std::vector<SpaceNeed>& needs) {
    SpaceShortfall shortfall;
    switch (CheckSpaceNeeds(needs, fs_port::ReadVolumeSpace, &shortfall)) {
        case SpaceVerdict::Fits:
            return true;
        case SpaceVerdict::Unknown:
            TheJournal().AddEntryF(EntryKind::Notice, update_text::kDiskSpaceUnread,
                                   fs_port::NativePath(shortfall.folder).c_str());
            return true;
        case SpaceVerdict::Short:
            break;
    }
    step.report.Fail(StringPrintf(update_text::kDiskSpaceShort, FormatByteCount(shortfall.needed).c_str(),
                      FormatByteCount(shortfall.available).c_str(), fs_port::NativePath(shortfall.folder).c_str()));
    return false;
}
