#include "update/engine/disk_space.h"

#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace {

constexpr uint64_t kMiB = 1u << 20;

// Folders c and d of a scratch folder stand for volumes as each row says.
TEST(DiskSpace, NeedsAreSummedPerVolumeAgainstItsRoom) {
    const struct {
        const char* name;
        std::map<std::string, fs_port::VolumeSpace> volumes;  // folder name -> its volume
        std::vector<SpaceNeed> needs;                          // paths relative to the scratch folder
        SpaceVerdict verdict;
        const char* shortFolder;
        uint64_t needed;
    } cases[] = {
        {"fits with its margin", {{"c", {1, 5 * kMiB}}}, {{"c/a.pak", kMiB, ""}}, SpaceVerdict::Fits, "", 0},
        {"the margin tips it over", {{"c", {1, 5 * kMiB - 1}}}, {{"c/a.pak", kMiB, ""}}, SpaceVerdict::Short, "c",
         5 * kMiB},
        {"each file takes whole clusters", {{"c", {1, 4 * kMiB + 12287}}}, {{"c/x", 1, ""}, {"c/sub/y", 4097, ""}},
         SpaceVerdict::Short, "c", 4 * kMiB + 12288},
        {"one volume reached through two folders counts once",
         {{"c", {1, 6 * kMiB - 1}}, {"d", {1, 6 * kMiB - 1}}},
         {{"c/a.pak", kMiB, ""}, {"d/a.dat", kMiB, ""}},
         SpaceVerdict::Short, "c", 6 * kMiB},
        {"a rename within the volume writes nothing",
         {{"c", {1, 5 * kMiB}}, {"d", {1, 5 * kMiB}}},
         {{"c/a.dat", kMiB, ""}, {"d/a.dat", kMiB, "c/a.dat"}},
         SpaceVerdict::Fits, "", 0},
        {"a move to another volume is a copy",
         {{"c", {1, 64 * kMiB}}, {"d", {2, 5 * kMiB}}},
         {{"c/a.dat", 2 * kMiB, ""}, {"d/a.dat", 2 * kMiB, "c/a.dat"}},
         SpaceVerdict::Short, "d", 6 * kMiB},
        {"sizes near 2^64 saturate rather than wrap",
         {{"c", {1, 64 * kMiB}}},
         {{"c/a", uint64_t{1} << 63, ""}, {"c/b", uint64_t{1} << 63, ""}},
         SpaceVerdict::Short, "c", ~uint64_t{0}},
        {"a move from a volume met only then does not lose the tally of the first",
         {{"c", {1, 4 * kMiB + 12287}}, {"d", {2, 64 * kMiB}}},
         {{"c/a.pak", 1000, ""}, {"c/backup", 5000, "d"}},
         SpaceVerdict::Short, "c", 4 * kMiB + 12288},
        {"a volume whose room cannot be read", {}, {{"c/a.pak", 1, ""}}, SpaceVerdict::Unknown, "c", 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string root = dir.Path() + "/";
        fs_port::MakeDirectories(root + "c");
        fs_port::MakeDirectories(root + "d");
        std::vector<SpaceNeed> needs = c.needs;
        for (SpaceNeed& need : needs) {
            need.path = root + need.path;
            if (!need.movedFrom.empty()) need.movedFrom = root + need.movedFrom;
        }
        const VolumeSpaceQuery query = [&](const std::string& folder, fs_port::VolumeSpace* out) {
            const auto found = c.volumes.find(folder.substr(root.size()));
            if (found == c.volumes.end()) return false;
            *out = found->second;
            return true;
        };
        SpaceShortfall shortfall;
        EXPECT_EQ(CheckSpaceNeeds(needs, query, &shortfall), c.verdict) << c.name;
        if (c.verdict == SpaceVerdict::Fits) continue;
        EXPECT_EQ(shortfall.folder, root + c.shortFolder) << c.name;
        if (c.verdict == SpaceVerdict::Short) {
            EXPECT_EQ(shortfall.needed, c.needed) << c.name;
            EXPECT_EQ(shortfall.available, c.volumes.at(c.shortFolder).freeBytes) << c.name;
        }
    }
}

}  // namespace
