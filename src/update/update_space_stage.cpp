// The disk space a version step needs, checked before its first package is
// fetched: a step that cannot finish should not download gigabytes first and
// then fail with the disk full.

#include "external/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/game_updater.h"
#include "update/installer.h"
#include "update/status_texts.h"

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
void CGameUpdater::AddPackageSpaceNeeds(const UpdatePlan& plan, std::vector<SpaceNeed>* needsOut) const {
    const std::string backup = m_strLauncherFolder + "\\" + kBackupFolderName + "\\";
    for (const PackageGroup& group : plan.packages) {
        uint64_t packageBytes = 0;
        for (const PackageMember& member : group.members) packageBytes += Bytes(member.nSize);
        uint64_t listed = 0;
        TrustRefusal refusal;
        if (m_trust.Enabled() && m_trust.ExpectedSize(group.name, &listed, &refusal)) packageBytes = listed;
        needsOut->push_back({m_strTempFolder + group.name, packageBytes, std::string()});
        for (const PackageMember& member : group.members) {
            const HandOffMove move = MoveOf(member);
            const std::string installed =
                IsInstallerMember(member.strMember) ? m_strLauncherFolder + "\\" + kInstallerFileName : move.to;
            needsOut->push_back({move.from, Bytes(member.nSize), std::string()});
            needsOut->push_back({installed, Bytes(member.nSize), move.from});
            const int64_t old = fs_port::FileSize(installed);
            if (old >= 0) needsOut->push_back({backup, Bytes(old), installed});
        }
    }
    for (const std::string& line : plan.deleteLines) {
        const std::string path = m_strLauncherFolder + "\\" + line;
        const int64_t old = line.empty() ? -1 : fs_port::FileSize(path);
        if (old >= 0) needsOut->push_back({backup, Bytes(old), path});
    }
}

bool CGameUpdater::CheckDiskSpace(const std::vector<SpaceNeed>& needs) {
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
    Fail(StringPrintf(update_text::kDiskSpaceShort, FormatByteCount(shortfall.needed).c_str(),
                      FormatByteCount(shortfall.available).c_str(), fs_port::NativePath(shortfall.folder).c_str()));
    return false;
}
