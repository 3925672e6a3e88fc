// Links inside what the installer removes: a link (on Windows also a
// junction) goes itself, and the folder it points at, which may hold the
// player's own files anywhere on the disk, is never entered.
#include <gtest/gtest.h>

#include <unistd.h>

#include "update/install/installer.h"
#include "update/install_scenario.h"

namespace {

using namespace install_test;

TEST(InstallerLinks, RemovesLinksWithoutTouchingWhatTheyPointAt) {
    const struct {
        const char* why;
        const char* link;  // made before the run, pointing at the outside folder
    } cases[] = {
        {"a deleted folder holds a link", "obsolete/shots"},
        {"an earlier update left a link among its old files", "_backup/9"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        TempDir outside;
        WriteTextFile(outside.File("mine.png"), "the player's picture");
        LayStandard(dir.Path());
        ASSERT_TRUE(fs_port::MakeDirectories(dir.Path() + "/_backup"));
        ASSERT_EQ(::symlink(outside.Path().c_str(), (dir.Path() + "/" + c.link).c_str()), 0) << c.why;
        SystemFileOps ops(false);
        const InstallOutcome outcome =
            RunInstaller(dir.Path(), dir.Path() + "/udo.temp", &ops, [](EntryKind, const std::string&) {});
        EXPECT_EQ(outcome, InstallOutcome::Installed) << c.why;
        EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << c.why;
        EXPECT_FALSE(fs_port::IsLink(dir.Path() + "/" + c.link)) << c.why;
        EXPECT_EQ(ReadTextFile(outside.File("mine.png")), "the player's picture") << c.why;
    }
}

}  // namespace
