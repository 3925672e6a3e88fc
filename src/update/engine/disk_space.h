// Whether a version step fits on the disk before anything of it is fetched:
// the bytes it will write, per place, summed per volume against the room
// each volume has left.
//
//   std::vector<SpaceNeed> needs = {{workFolder, packageBytes}, ...};
//   SpaceShortfall shortfall;
//   if (CheckSpaceNeeds(needs, fs_port::ReadVolumeSpace, &shortfall) == SpaceVerdict::Short) ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"

// Room kept free on every volume the step writes to, beyond what it writes:
// the journal, the hand-off file and the log grow during the step.
constexpr uint64_t kSpaceMarginBytes = 4u << 20;
// A file takes whole clusters; each written file is counted rounded up.
constexpr uint64_t kSpaceClusterBytes = 4096;

// bytes that will be written at path (a file or folder, existing or not).
// With movedFrom, they are moved there from that place: a rename within one
// volume writes nothing, a move across volumes copies them.
struct SpaceNeed {
    std::string path;
    uint64_t bytes = 0;
    std::string movedFrom;
};

struct SpaceShortfall {
    std::string folder;    // an existing folder on the volume that is short
    uint64_t needed = 0;   // what the step writes there, with the margin
    uint64_t available = 0;
};

enum class SpaceVerdict {
    Fits,
    Short,    // shortfall tells which volume
    Unknown,  // a volume's room could not be read (shortfall.folder names it)
};

using VolumeSpaceQuery = std::function<bool(const std::string& folder, fs_port::VolumeSpace*)>;

// Sums the needs per volume (the volume of a path's nearest existing folder;
// one volume reached by several paths counts once) and compares each sum,
// with the margin, against its room. The first short volume is reported.
[[nodiscard]] SpaceVerdict CheckSpaceNeeds(const std::vector<SpaceNeed>& needs, const VolumeSpaceQuery& query,
                                           SpaceShortfall* shortfallOut);
