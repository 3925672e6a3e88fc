#include "update/engine/disk_space.h"

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

// The tallies are keyed by volume and handed out by that key, never by a
// pointer or reference into the container: a later lookup may add a volume.
class VolumeMap {
public:
    explicit VolumeMap(const VolumeSpaceQuery& query) : m_query(query) {}

    // The volume of path's nearest folder; false with the folder (or the
    // path when no folder above it exists) when it cannot be read.
    bool Find(const std::string& path, uint64_t* volumeOut, std::string* unreadOut) {
        const std::string folder = NearestFolder(path);
        auto known = m_byFolder.find(folder);
        if (known == m_byFolder.end()) {
            fs_port::VolumeSpace space;
            if (folder.empty() || !m_query(folder, &space)) {
                *unreadOut = folder.empty() ? path : folder;
                return false;
            }
            Tally(folder, space);
            known = m_byFolder.emplace(folder, space.volume).first;
        }
        *volumeOut = known->second;
        return true;
    }
    VolumeTally& Of(uint64_t volume) { return m_tallies.at(volume); }
    // In the order the volumes were first met, so the first short one is reported.
    const std::vector<uint64_t>& Volumes() const { return m_order; }

private:
    void Tally(const std::string& folder, const fs_port::VolumeSpace& space) {
        const auto known = m_tallies.find(space.volume);
        if (known != m_tallies.end()) {
            // Read twice, the smaller room is the safer one.
            known->second.space.freeBytes = std::min(known->second.space.freeBytes, space.freeBytes);
            return;
        }
        m_tallies.emplace(space.volume, VolumeTally{folder, space, 0});
        m_order.push_back(space.volume);
    }

    const VolumeSpaceQuery& m_query;
    std::map<std::string, uint64_t> m_byFolder;
    std::map<uint64_t, VolumeTally> m_tallies;
    std::vector<uint64_t> m_order;
};

}  // namespace

SpaceVerdict CheckSpaceNeeds(const std::vector<SpaceNeed>& needs, const VolumeSpaceQuery& query,
                             SpaceShortfall* shortfallOut) {
    VolumeMap volumes(query);
    for (const SpaceNeed& need : needs) {
        uint64_t to = 0;
        if (!volumes.Find(need.path, &to, &shortfallOut->folder)) return SpaceVerdict::Unknown;
        uint64_t from = 0;
        std::string unread;
        const bool renamed = !need.movedFrom.empty() && volumes.Find(need.movedFrom, &from, &unread) && from == to;
        // A volume written to at all keeps its margin, even for a rename.
        VolumeTally& tally = volumes.Of(to);
        tally.needed = SaturatedSum(tally.needed, renamed ? 0 : WholeClusters(need.bytes));
    }
    for (const uint64_t volume : volumes.Volumes()) {
        const VolumeTally& tally = volumes.Of(volume);
        const uint64_t needed = SaturatedSum(tally.needed, kSpaceMarginBytes);
        if (needed <= tally.space.freeBytes) continue;
        *shortfallOut = {tally.folder, needed, tally.space.freeBytes};
        return SpaceVerdict::Short;
    }
    return SpaceVerdict::Fits;
}
