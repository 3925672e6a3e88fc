// The installed version when version.data is missing or unreadable: taken
// from the files themselves against the state indexes of the listed
// versions (the newest version whose index matches the most files), else
// counted as the oldest listed one. With the newest version's index at hand
// the run goes straight there, fetching only the files that differ, the new
// version.data among them.
#include <map>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/patch_kit.h"
#include "platform/text_format.h"
#include "update/engine/game_updater.h"
#include "update/install/install_paths.h"
#include "update/report/status_texts.h"

namespace {

// The MD5 each place has on the disk, each file read once however many
// indexes name it; empty for a missing or unreadable file.
class InstalledDigests {
public:
    explicit InstalledDigests(const std::string& folder) : m_folder(folder) {}

    const std::string& Of(const std::string& place) {
        const auto found = m_digests.find(place);
        if (found != m_digests.end()) return found->second;
        std::string md5;
        if (!ComputeFileMd5(m_folder + "\\" + place, &md5)) md5.clear();
        return m_digests.emplace(place, AsciiFolded(md5)).first->second;
    }

private:
    std::string m_folder;
    std::map<std::string, std::string, PlaceLess> m_digests;
};

size_t MatchingFiles(const StateIndex& index, InstalledDigests* digests, const std::atomic<bool>& stop) {
    size_t matching = 0;
    for (const StateEntry& entry : index.entries) {
        if (stop.load()) return 0;
        if (digests->Of(entry.place) == entry.md5) ++matching;
    }
    return matching;
}

}  // namespace

bool CGameUpdater::RecoverInstalledVersion(const std::vector<VersionEntry>& entries) {
    ReportStatus(0, 0.0f, update_text::kRecoveringVersion);
    TheJournal().AddEntry(EntryKind::Notice, update_text::kRecoveringVersion);
    InstalledDigests digests(m_strLauncherFolder);
    auto newest = std::make_unique<CatchUpState>();
    bool newestIndexed = false;
    StateIndex best;
    int32_t bestVersion = 0;
    size_t bestMatching = 0;
    size_t tried = 0;
    for (const VersionEntry& entry : entries) {
        if (tried++ == kMaxRecoveryVersions || StopHere()) break;
        const std::string text = VersionNumberToText(entry.nVersion);
        StepFailure failure;
        StateIndex index;
        std::string reason;
        if (!m_fetcher.OpenVersion(text, entry.manifestSha256, &failure) ||
            FetchStateIndex(m_fetcher, &index, &reason) != StateIndexFetch::Ok || index.version != text) {
            continue;
        }
        const size_t matching = MatchingFiles(index, &digests, m_bStopRequested);
        // Ties go to the newer version: the entries come newest first.
        if (matching > bestMatching) {
            bestMatching = matching;
            bestVersion = entry.nVersion;
            best = index;
        }
        if (entry.nVersion == entries.front().nVersion) {
            newest->index = std::move(index);
            newestIndexed = true;
        }
    }
    if (StopHere()) return false;
    m_nInstalled = bestMatching > 0 ? bestVersion : entries.back().nVersion;
    const std::string found =
        bestMatching > 0
            ? StringPrintf(update_text::kRecoveredVersion, best.version.c_str(), static_cast<int>(bestMatching))
            : StringPrintf(update_text::kRecoveredAsOldest, VersionNumberToText(m_nInstalled).c_str());
    ReportStatus(0, 0.0f, found);
    TheJournal().AddEntry(EntryKind::Notice, found.c_str());
    if (!newestIndexed) return true;
    // Straight to the newest: the plan compares the files as they are on the
    // disk, and removes what the recovered version listed and the newest lacks.
    for (const StateEntry& entry : newest->index.entries) newest->input.installed[entry.place] = digests.Of(entry.place);
    for (const StateEntry& entry : best.entries) newest->input.listedBefore.push_back(entry.place);
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kCatchUpTaken, VersionNumberToText(m_nInstalled).c_str(),
                           newest->index.version.c_str());
    m_catchUp = std::move(newest);
    return true;
}
