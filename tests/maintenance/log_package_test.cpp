#include "maintenance/log_package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "package/bundle.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

LocalTime At(int year, int month, int day, int hour, int minute, int second) {
    LocalTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    return time;
}

TEST(LogPackageName, FormsDateTimeNamesAndTakesTheFirstFreeCounter) {
    const struct {
        const char* why;
        LocalTime time;
        std::set<std::string> existing;
        const char* expected;
    } cases[] = {
        {"no leading zeros", At(2013, 5, 7, 9, 3, 41), {}, "2013-5-7-9-3-41.data"},
        {"two-digit fields", At(2026, 12, 31, 23, 59, 58), {}, "2026-12-31-23-59-58.data"},
        {"midnight", At(2020, 1, 1, 0, 0, 0), {}, "2020-1-1-0-0-0.data"},
        {"failed conversion", At(0, 0, 0, -1, -1, -1), {}, "0-0-0--1--1--1.data"},
        {"bare text taken", At(2013, 5, 7, 9, 3, 41), {"2013-5-7-9-3-41"}, "2013-5-7-9-3-41_0.data"},
        {"same second again", At(2013, 5, 7, 9, 3, 41), {"2013-5-7-9-3-41.data"},
         "2013-5-7-9-3-41_0.data"},
        {"counter climbs past both forms",
         At(2013, 5, 7, 9, 3, 41),
         {"2013-5-7-9-3-41.data", "2013-5-7-9-3-41_0.data", "2013-5-7-9-3-41_1"},
         "2013-5-7-9-3-41_2.data"},
    };
    for (const auto& c : cases) {
        const std::string name = ChoosePackageName(
            c.time, [&](const std::string& text) { return c.existing.count(text) != 0; });
        EXPECT_EQ(name, c.expected) << c.why;
    }
}

TEST(LogPackageName, GivesUpInsteadOfLoopingForever) {
    const std::string name =
        ChoosePackageName(At(2013, 5, 7, 9, 3, 41), [](const std::string&) { return true; });
    EXPECT_EQ(name, "");
}

TEST(LogPackageMembers, FixedFilesFirstThenExactLogExtensionsInListingOrder) {
    const std::set<std::string> present = {
        "C:\\Game/config.data", "C:\\Game/version.data", "C:\\Game/Config/SystemSetting.data"};
    const std::vector<fs_port::DirEntry> listing = {
        {"b.log", false, false},     {"notes.txt", false, false}, {"UPPER.LOG", false, false},
        {"dir.log", true, false},    {"a.log", false, false},     {"a.logx", false, false},
        {"x.log.bak", false, false}, {"two.dots.log", false, false},
    };
    const auto members = ChoosePackageMembers(
        "C:\\Game", listing, [&](const std::string& p) { return present.count(p) != 0; });
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"C:\\Game/config.data", "config.data"},
        {"C:\\Game/version.data", "version.data"},
        {"C:\\Game/Config/SystemSetting.data", "Config/SystemSetting.data"},
        {"C:\\Game\\Log\\b.log", "Log\\b.log"},
        {"C:\\Game\\Log\\a.log", "Log\\a.log"},
        {"C:\\Game\\Log\\two.dots.log", "Log\\two.dots.log"},
    };
    ASSERT_EQ(members.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(members[i].sourcePath, expected[i].first) << i;
        EXPECT_EQ(members[i].memberName, expected[i].second) << i;
    }
}

std::vector<std::string> MemberNames(const std::string& package) {
    CBundle bundle;
    std::vector<std::string> names;
    if (!bundle.Open(package.c_str(), nullptr)) return names;
    for (const BundleMember& member : bundle.Members()) names.push_back(member.name);
    return names;
}

struct Installation {
    TempDir launcher;
    TempDir output;
    Installation() {
        EXPECT_TRUE(fs_port::MakeDirectories(launcher.Path() + "/Config"));
        EXPECT_TRUE(fs_port::MakeDirectories(launcher.Path() + "/Vantorel_Data"));
        EXPECT_TRUE(fs_port::MakeDirectories(launcher.Path() + "/Log/sub.log"));
        WriteTextFile(launcher.File("config.data"), "config");
        WriteTextFile(launcher.File("version.data"), "version");
        WriteTextFile(launcher.Path() + "/Config/SystemSetting.data", "settings");
        WriteTextFile(launcher.Path() + "/Log/game.log", "game log");
        WriteTextFile(launcher.Path() + "/Log/readme.txt", "not packed");
    }
};

TEST(BuildLogPackage, PacksMembersInOrderAndSkipsMissingOnes) {
    Installation install;
    const std::string package =
        BuildLogPackageAt(install.output.Path(), install.launcher.Path(), At(2013, 5, 7, 9, 3, 41));
    EXPECT_EQ(fs_port::NativePath(package), install.output.File("2013-5-7-9-3-41.data"));
    const std::vector<std::string> expected = {"config.data", "version.data",
                                               "Config/SystemSetting.data", "Log\\game.log"};
    EXPECT_EQ(MemberNames(package), expected);
}

TEST(BuildLogPackage, SecondPackageOfTheSameSecondKeepsTheFirst) {
    Installation install;
    const LocalTime time = At(2013, 5, 7, 9, 3, 41);
    const std::string first = BuildLogPackageAt(install.output.Path(), install.launcher.Path(), time);
    WriteTextFile(install.launcher.File("Vantorel_Data/output_log.txt"), "output");
    const std::string second = BuildLogPackageAt(install.output.Path(), install.launcher.Path(), time);
    EXPECT_EQ(fs_port::NativePath(second), install.output.File("2013-5-7-9-3-41_0.data"));
    EXPECT_EQ(MemberNames(first).size(), 4u);
    EXPECT_EQ(MemberNames(second).size(), 5u);
    EXPECT_EQ(MemberNames(second)[3], "Vantorel_Data/output_log.txt");
}

TEST(BuildLogPackage, PacksTheLogThatIsOpenForWriting) {
    Installation install;
    CJournal journal;
    const std::string logPath = install.launcher.Path() + "/Log/launcher.log";
    ASSERT_EQ(journal.AttachFile(logPath.c_str()), 0);
    journal.AddEntry(EntryKind::Info, "still open");
    const std::string package =
        BuildLogPackageAt(install.output.Path(), install.launcher.Path(), At(2020, 1, 2, 3, 4, 5));
    const std::vector<std::string> names = MemberNames(package);
    EXPECT_NE(std::find(names.begin(), names.end(), "Log\\launcher.log"), names.end());
}

TEST(BuildLogPackage, CreateFailureLeavesNothing) {
    Installation install;
    const std::string missingFolder = install.output.Path() + "/missing/deeper";
    EXPECT_EQ(BuildLogPackageAt(missingFolder, install.launcher.Path(), At(2013, 5, 7, 9, 3, 41)), "");
    EXPECT_FALSE(fs_port::PathExists(missingFolder));
}

}  // namespace
