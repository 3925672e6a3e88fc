#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

// Records what start-up asks of the platform, in order.
class FakePort final : public StartupPort {
public:
    bool gameRunning = false;
    LauncherWindowId launcher = 0;
    std::vector<std::string> arguments;
    std::string currentFolder;
    std::vector<std::string> events;

    bool IsGameRunning() override { return gameRunning; }
    void ShowGameRunningMessage(const std::string& text) override { events.push_back("message " + text); }
    std::string CurrentFolder() override { return currentFolder; }
    std::vector<std::string> Arguments() override { return arguments; }
    LauncherWindowId FindRunningLauncher() override { return launcher; }
    void SendUpdateEnd(LauncherWindowId window) override { events.push_back("send " + std::to_string(window)); }
    void BringToFront(LauncherWindowId window) override { events.push_back("front " + std::to_string(window)); }
    void InitCommonControls() override { events.push_back("controls"); }
    void RunMainWindow(bool updateRestart) override {
        events.push_back(updateRestart ? "window restart" : "window");
    }
};

struct StartupCase {
    const char* name;
    bool gameRunning;
    LauncherWindowId launcher;
    std::vector<std::string> arguments;
    StartupOutcome outcome;
    std::vector<std::string> events;
    const char* logged;  // the one entry written, or "" for none
};

const std::string kGameMessage = std::string("message ") + kGameRunningText;

std::vector<StartupCase> StartupCases() {
    const LauncherWindowId w = 0x1234;
    const std::string id = std::to_string(w);
    return {
        {"GameRunningShowsMessageOnly", true, 0, {}, StartupOutcome::GameRunning, {kGameMessage}, ""},
        {"GameRunningWinsOverRunningLauncher", true, w, {"/update"}, StartupOutcome::GameRunning,
         {kGameMessage}, ""},
        {"FirstStartRunsWindow", false, 0, {}, StartupOutcome::MainWindowClosed,
         {"controls", "window"}, ""},
        {"FirstStartAfterUpdateMarksRestart", false, 0, {"/update"},
         StartupOutcome::MainWindowClosed, {"controls", "window restart"}, kUpdateRestartLogText},
        {"SwitchInOtherCaseIsIgnoredAtFirstStart", false, 0, {"/Update"},
         StartupOutcome::MainWindowClosed, {"controls", "window"}, ""},
        {"SecondStartOnlyBringsFront", false, w, {}, StartupOutcome::HandedOver, {"front " + id}, ""},
        {"SecondStartWithUpdateSendsThenBringsFront", false, w, {"/update"},
         StartupOutcome::HandedOver, {"send " + id, "front " + id}, kHandOffLogText},
        {"LaterArgumentsDoNotMatter", false, w, {"/update", "x"}, StartupOutcome::HandedOver,
         {"send " + id, "front " + id}, kHandOffLogText},
        {"UpperCaseSwitchIsIgnored", false, w, {"/UPDATE"}, StartupOutcome::HandedOver,
         {"front " + id}, ""},
        {"SwitchAsSecondArgumentIsIgnored", false, w, {"x", "/update"}, StartupOutcome::HandedOver,
         {"front " + id}, ""},
        {"SwitchWithTrailingSpaceIsIgnored", false, w, {"/update "}, StartupOutcome::HandedOver,
         {"front " + id}, ""},
    };
}

class Startup : public testing::TestWithParam<StartupCase> {};

TEST_P(Startup, RunsTheStepsInOrder) {
    const StartupCase& c = GetParam();
    TempDir current;
    FakePort port;
    port.gameRunning = c.gameRunning;
    port.launcher = c.launcher;
    port.arguments = c.arguments;
    port.currentFolder = current.Path();
    CJournal journal;

    EXPECT_EQ(RunStartup(port, journal), c.outcome);
    EXPECT_EQ(port.events, c.events);

    const std::string logFolder = LogFolderPath(current.Path());
    const std::string logFile = LogFilePath(logFolder);
    // The game check comes before anything is logged or created.
    EXPECT_EQ(fs_port::IsDirectory(logFolder), !c.gameRunning);
    EXPECT_EQ(journal.AttachedPath().empty(), c.gameRunning);
    journal.Detach();
    const std::string log = ReadTextFile(logFile);
    if (*c.logged) {
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    } else {
        EXPECT_EQ(log, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Startup, testing::ValuesIn(StartupCases()),
                         [](const testing::TestParamInfo<StartupCase>& tpi) {
                             return std::string(tpi.param.name);
                         });

TEST(Startup, LogGoesUnderTheCurrentFolderAndAppends) {
    TempDir current;
    const std::string logFile = LogFilePath(LogFolderPath(current.Path()));
    for (int run = 0; run < 2; ++run) {
        FakePort port;
        port.currentFolder = current.Path();
        port.arguments = {"/update"};
        CJournal journal;
        RunStartup(port, journal);
        EXPECT_EQ(fs_port::NativePath(journal.AttachedPath()), fs_port::NativePath(logFile));
    }
    const std::string log = ReadTextFile(logFile);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST(Startup, MissingCurrentFolderStillRunsTheWindow) {
    TempDir parent;
    FakePort port;
    port.currentFolder = parent.File("gone");
    CJournal journal;
    EXPECT_EQ(RunStartup(port, journal), StartupOutcome::MainWindowClosed);
    EXPECT_EQ(port.events, (std::vector<std::string>{"controls", "window"}));
}

// Only an exact first argument asks the window's first check for a repair.
TEST(StartupSwitches, RepairOnlyWhenTheFirstArgumentIsExactlyTheSwitch) {
    using Args = std::vector<std::string>;
    EXPECT_TRUE(IsRepairStart(Args{"/repair", "x"}));
    for (const Args& other : {Args{"/Repair"}, Args{"/repair "}, Args{"x", "/repair"}, Args{"/verify"}, Args{}}) {
        EXPECT_FALSE(IsRepairStart(other)) << (other.empty() ? "" : other.back());
    }
    EXPECT_FALSE(IsFullVerification(Args{"/repair"}));
}

TEST(StartupPaths, LogFolderAndFile) {
    struct Case {
        const char* current;
        const char* folder;
    };
    const Case cases[] = {
        {"C:\\Games\\Vantorel", "C:\\Games\\Vantorel\\Log"},
        {"C:\\", "C:\\Log"},
        {"\\\\server\\share", "\\\\server\\share\\Log"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogFolderPath(c.current), c.folder);
        EXPECT_EQ(LogFilePath(c.folder), std::string(c.folder) + "\\launcher.log");
    }
}

}  // namespace
