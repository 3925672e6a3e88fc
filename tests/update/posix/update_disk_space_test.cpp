// An installation on a small volume of its own (a tmpfs of 8 MiB): a step
// that cannot fit there is refused before its first package is fetched.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "package/patch_kit.h"
#include "platform/text_format.h"
#include "update/engine/disk_space.h"
#include "update/engine/game_updater.h"
#include "update/report/status_texts.h"
#include "update/support/updater_fixture.h"

namespace {

using test_update::FolderTransfer;
using test_update::RecordingStarter;
using test_update::RecordingWindow;
using test_update::ServerTree;

// Every file below folder with its content, by relative path.
void Snapshot(const std::string& folder, const std::string& prefix, std::map<std::string, std::string>* out) {
    std::vector<fs_port::DirEntry> entries;
    ASSERT_TRUE(fs_port::ListDirectory(folder, &entries));
    for (const auto& entry : entries) {
        const std::string path = folder + "/" + entry.name;
        if (entry.isDirectory) {
            Snapshot(path, prefix + entry.name + "/", out);
        } else {
            (*out)[prefix + entry.name] = ReadTextFile(path);
        }
    }
}

std::string Noise(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST(UpdateDiskSpace, StepThatDoesNotFitItsVolumeFetchesNoPackage) {
    TempDir volume;
    if (RunShell("mount -t tmpfs -o size=8m tmpfs '" + volume.Path() + "' 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): the small volume is not tried";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { (void)RunShell("umount '" + path + "'"); }
    } unmount{volume.Path()};
    // 3 MiB packed and 3 MiB unpacked, and the margin, pass 8 MiB; 1 MiB fits.
    for (const size_t memberBytes : {size_t{3} << 20, size_t{1} << 20}) {
        const bool fits = memberBytes < (size_t{2} << 20);
        const std::string game = volume.Path() + (fits ? "/fits" : "/short");
        ASSERT_TRUE(fs_port::MakeDirectories(game + "/Data"));
        WriteTextFile(game + "/a.dat", "old a");
        WriteTextFile(game + "/Data/keep.dat", "kept");
        TempDir server;
        ServerTree tree(server.Path());
        const std::string content = Noise(memberBytes);
        tree.VersionList("1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n");
        tree.EncipheredList("1.0.0.2", "updatelist.data",
                            "a.pak\tRoot\\a.dat\t" + std::to_string(memberBytes) + "\t" + Md5OfBytes(content) + "\n");
        tree.EncipheredList("1.0.0.2", "dellist.data", "");
        tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", content}});
        std::map<std::string, std::string> before;
        Snapshot(game, "", &before);

        FolderTransfer transfer(server.Path());
        RecordingStarter starter;
        RecordingWindow window;
        window.installed = 1001;
        window.settings.UpdateIP = "127.0.0.1";
        CGameUpdater updater(game, &transfer, &starter);
        updater.m_bInstall = 1;
        const int outcome = updater.RunUpdate(&window);
        if (fits) {
            EXPECT_EQ(outcome, update_outcome::kHandedOver) << window.Last();
            continue;
        }
        fs_port::VolumeSpace space;
        ASSERT_TRUE(fs_port::ReadVolumeSpace(game, &space));
        EXPECT_EQ(outcome, update_outcome::kFailed);
        EXPECT_EQ(window.Last(), StringPrintf(update_text::kDiskSpaceShort, "10.0 MB",
                                              FormatByteCount(space.freeBytes).c_str(), (game + "/_temp").c_str()));
        for (const std::string& url : transfer.urls) EXPECT_EQ(url.find(".pak"), std::string::npos) << url;
        EXPECT_TRUE(starter.starts.empty());
        std::map<std::string, std::string> after;
        Snapshot(game, "", &after);
        // The work folder holds the step's state, and nothing fetched.
        EXPECT_EQ(after.erase("_temp/downloads.state"), 1u);
        EXPECT_TRUE(after == before) << "the installation changed";
    }
}

}  // namespace
