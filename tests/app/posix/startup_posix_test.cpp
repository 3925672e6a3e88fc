#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/startup.h"
#include "journal/journal.h"
#include "support/test_support.h"

namespace {

class QuietPort final : public StartupPort {
public:
    explicit QuietPort(std::string folder) : m_folder(std::move(folder)) {}
    bool IsGameRunning() override { return false; }
    void ShowGameRunningMessage(const std::string&) override {}
    std::string CurrentFolder() override { return m_folder; }
    std::vector<std::string> Arguments() override { return {}; }
    LauncherWindowId FindRunningLauncher() override { return 0; }
    void SendUpdateEnd(LauncherWindowId) override {}
    void BringToFront(LauncherWindowId) override {}
    void InitCommonControls() override {}
    void RunMainWindow(bool) override {}

private:
    std::string m_folder;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Attributes are made normal only on a Log folder that start-up created itself.
TEST(StartupLogFolder, AttributesOfNewFolderOnly) {
    struct Case {
        bool exists;
        mode_t before;
        mode_t after;
    };
    const Case cases[] = {
        {true, 0555, 0555},  // existing and read-only: left as it is
        {true, 0750, 0750},
        {false, 0, 0700},    // new: at least readable, writable and enterable by us
    };
    for (const Case& c : cases) {
        TempDir current;
        const std::string folder = current.Path() + "/Log";
        if (c.exists) {
            ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
            ASSERT_EQ(chmod(folder.c_str(), c.before), 0);
        }
        QuietPort port(current.Path());
        CJournal journal;
        RunStartup(port, journal);
        journal.Detach();
        if (c.exists) {
            EXPECT_EQ(ModeOf(folder), c.after);
        } else {
            EXPECT_EQ(ModeOf(folder) & c.after, c.after);
        }
        chmod(folder.c_str(), 0700);
    }
}

}  // namespace
