#include "update/disk_space.h"

#include <algorithm>
#include <map>

#include "platform/saturated_sum.h"

namespace {

uint64_t WholeClusters(uint64_t bytes) {
    const uint64_t rest = bytes % kSpaceClusterBytes;
    return rest == 0 ? bytes : SaturatedSum(bytes, kSpaceClusterBytes - rest);
}

// The path itself when it is a folder, else its nearest folder above that
// exists; empty when none does.
std::string NearestFolder(const std::string& path) {
    std::string at = path;
    while (!at.empty() && !fs_port::IsDirectory(at)) {
        const size_t cut = at.find_last_of("\\/");
        if (cut == std::string::npos) return std::string();
        // "/x" leaves the root; "C:\x" leaves "C:", which names the drive's
        // current folder, not its root.
        at = cut == 0 ? at.substr(0, 1) : at.substr(0, cut);
        if (at.size() == 2 && at[1] == ':') at += '\\';
    }
    return at;
}

struct VolumeTally {
    std::string folder;  // the first folder through which the volume was reached
    fs_port::VolumeSpace space;
    uint64_t needed = 0;
};

class VolumeMap {
public:
    explicit VolumeMap(const VolumeSpaceQuery& query) : m_query(query) {}

    // The volume of path's nearest folder; false with the folder (or the
    // path when no folder above it exists) when it cannot be read.
    bool Find(const std::string& path, VolumeTally** tallyOut, std::string* unreadOut) {
        const std::string folder = NearestFolder(path);
        auto known = m_byFolder.find(folder);
        if (known == m_byFolder.end()) {
            fs_port::VolumeSpace space;
            if (folder.empty() || !m_query(folder, &space)) {
                *unreadOut = folder.empty() ? path : folder;
                return false;
            }
            known = m_byFolder.emplace(folder, Tally(folder, space)).first;
        }
        *tallyOut = &m_tallies[known->second];
        return true;
    }
    std::vector<VolumeTally>& Tallies() { return m_tallies; }

private:
    size_t Tally(const std::string& folder, const fs_port::VolumeSpace& space) {
        for (size_t i = 0; i < m_tallies.size(); ++i) {
            if (m_tallies[i].space.volume != space.volume) continue;
            // Read twice, the smaller room is the safer one.
            m_tallies[i].space.freeBytes = std::min(m_tallies[i].space.freeBytes, space.freeBytes);
            return i;
        }
        m_tallies.push_back({folder, space, 0});
        return m_tallies.size() - 1;
    }

    const VolumeSpaceQuery& m_query;
    std::map<std::string, size_t> m_byFolder;
    std::vector<VolumeTally> m_tallies;
};

}  // namespace

SpaceVerdict CheckSpaceNeeds(const std::vector<SpaceNeed>& needs, const VolumeSpaceQuery& query,
                             SpaceShortfall* shortfallOut) {
    VolumeMap volumes(query);
    for (const SpaceNeed& need : needs) {
        VolumeTally* to = nullptr;
        if (!volumes.Find(need.path, &to, &shortfallOut->folder)) return SpaceVerdict::Unknown;
        VolumeTally* from = nullptr;
        std::string unread;
        const bool renamed = !need.movedFrom.empty() && volumes.Find(need.movedFrom, &from, &unread) &&
                             from->space.volume == to->space.volume;
        // A volume written to at all keeps its margin, even for a rename.
        to->needed = SaturatedSum(to->needed, renamed ? 0 : WholeClusters(need.bytes));
    }
    for (const VolumeTally& tally : volumes.Tallies()) {
        const uint64_t needed = SaturatedSum(tally.needed, kSpaceMarginBytes);
        if (needed <= tally.space.freeBytes) continue;
        *shortfallOut = {tally.folder, needed, tally.space.freeBytes};
        return SpaceVerdict::Short;
    }
    return SpaceVerdict::Fits;
}
