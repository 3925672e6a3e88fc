#include "update/engine/update_space_stage.h"

#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"

namespace {

uint64_t Bytes(int64_t size) { return size > 0 ? static_cast<uint64_t>(size) : 0; }

}  // namespace

// What the packages of the step write: each package in the work folder (the
// manifest's size when signed; unsigned, its members' sizes stand in, as a
// package is rarely larger than what it holds), each member unpacked beside
// them, each member again where it is installed when that lies on another
// volume (the installer copies instead of renaming), and the old files the
// installer puts aside into its backup folder when they lie on another volume
// than that folder.
void AddPackageSpaceNeeds(const StepContext& step, const UpdatePlan& plan, std::vector<SpaceNeed>* needsOut) {
    const std::string backup = step.launcherFolder + "\\" + kBackupFolderName + "\\";
    for (const PackageGroup& group : plan.packages) {
        uint64_t packageBytes = 0;
        for (const PackageMember& member : group.members) packageBytes += Bytes(member.nSize);
        uint64_t listed = 0;
        if (step.fetcher.ListedSize(group.name, &listed)) packageBytes = listed;
        needsOut->push_back({step.workFolder + group.name, packageBytes, std::string()});
        for (const PackageMember& member : group.members) {
            const HandOffMove move = MoveOfMember(step, member);
            const std::string installed =
                IsInstallerMember(member.strMember) ? step.launcherFolder + "\\" + kInstallerFileName : move.to;
            needsOut->push_back({move.from, Bytes(member.nSize), std::string()});
            needsOut->push_back({installed, Bytes(member.nSize), move.from});
            const int64_t old = fs_port::FileSize(installed);
            if (old >= 0) needsOut->push_back({backup, Bytes(old), installed});
        }
    }
    for (const std::string& line : plan.deleteLines) {
        const std::string path = step.launcherFolder + "\\" + line;
        const int64_t old = line.empty() ? -1 : fs_port::FileSize(path);
        if (old >= 0) needsOut->push_back({backup, Bytes(old), path});
    }
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
