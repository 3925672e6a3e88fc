#include "maintenance/temp_cleanup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#endif

#include <string>
#include <thread>
#include <vector>

#include "maintenance/journal_lines.h"
#include "platform/file_system.h"
#include "support/test_support.h"
#include "update/fetch/kept_downloads.h"

namespace {

void MakeReadOnly(const std::string& path) {
#if defined(_WIN32)
    ASSERT_EQ(_chmod(path.c_str(), _S_IREAD), 0) << path;
#else
    ASSERT_EQ(chmod(path.c_str(), 0444), 0) << path;
#endif
}

// A work folder as an update leaves it: nested folders, packages, unpacked
// members, some of them read-only.
void FillWorkFolder(const std::string& temp) {
    ASSERT_TRUE(fs_port::MakeDirectories(temp + "/Root/Vantorel_Data/deep"));
    WriteTextFile(temp + "/data1.pak", "package");
    WriteTextFile(temp + "/Root/Vantorel_Data/a.dat", "a");
    WriteTextFile(temp + "/Root/Vantorel_Data/deep/b.dat", "b");
    MakeReadOnly(temp + "/Root/Vantorel_Data/a.dat");
    MakeReadOnly(temp + "/Root/Vantorel_Data/deep/b.dat");
}

TEST(ClearTempFolders, RemovesWorkFoldersAndKeepsTheHandOffFile) {
    const struct {
        const char* name;
        bool workFolder;
        bool handOffIsFolder;
        bool handOffIsFile;
        bool keptDownloads = false;  // a step not handed over left its state
    } cases[] = {
        {"nothing there", false, false, false},
        {"work folder with read-only members", true, false, false},
        {"udo.temp as a folder", true, true, false},
        {"udo.temp as a file stays", true, false, true},
        {"a step not handed over keeps its downloads alone", true, false, false, true},
    };
    for (const auto& c : cases) {
        TempDir game;
        JournalCapture log;
        WriteTextFile(game.File("Vantorel.exe"), "game");
        if (c.workFolder) FillWorkFolder(game.File("_temp"));
        if (c.handOffIsFolder) FillWorkFolder(game.File("udo.temp"));
        if (c.handOffIsFile) WriteTextFile(game.File("udo.temp"), "a\tb\n");
        if (c.keptDownloads) {
            CKeptDownloads kept;
            kept.Start(game.File("_temp/"), "1.0.0.2", "http://server/1.0.0.2/");
            kept.Record({"data1.pak", "data1.pak", 7, "", "", true});
        }
        ClearTempFolders(game.Path(), log.Journal());
        EXPECT_EQ(fs_port::PathExists(game.File("_temp/data1.pak")), c.keptDownloads) << c.name;
        EXPECT_FALSE(fs_port::PathExists(game.File("_temp/Root"))) << c.name;
        EXPECT_EQ(fs_port::PathExists(game.File("_temp")), c.keptDownloads) << c.name;
        EXPECT_EQ(fs_port::IsRegularFile(game.File("udo.temp")), c.handOffIsFile) << c.name;
        EXPECT_FALSE(fs_port::IsDirectory(game.File("udo.temp"))) << c.name;
        EXPECT_EQ(ReadTextFile(game.File("Vantorel.exe")), "game") << c.name;
        EXPECT_EQ(log.Entries(), std::vector<std::string>{"[Notice] Clear dir."}) << c.name;
    }
}

TEST(ClearTempFolders, EmptyLauncherFolderDoesNothing) {
    JournalCapture log;
    ClearTempFolders("", log.Journal());
    EXPECT_TRUE(log.Entries().empty());
}

TEST(TempCleanup, RepeatedStartsAllFinishWithoutOverlap) {
    TempDir game;
    JournalCapture log;
    {
        CTempCleanup cleanup(log.Journal());
        FillWorkFolder(game.File("_temp"));
        for (int round = 0; round < 4; ++round) cleanup.Start(game.Path());
        cleanup.Wait();
        EXPECT_FALSE(fs_port::PathExists(game.File("_temp")));
        FillWorkFolder(game.File("_temp"));
        cleanup.Start(game.Path());
        // The destructor waits for the last worker: no thread outlives it.
    }
    EXPECT_FALSE(fs_port::PathExists(game.File("_temp")));
    EXPECT_EQ(log.Entries(), std::vector<std::string>(5, "[Notice] Clear dir."));
}

TEST(TempCleanup, StopRequestEndsTheRemovalAndLeavesTheRest) {
    TempDir game;
    JournalCapture log;
    FillWorkFolder(game.File("_temp"));
    {
        CTempCleanup cleanup(log.Journal());
        cleanup.RequestStop();  // the window closes
        cleanup.Start(game.Path());
        cleanup.WaitIdle();
    }
    EXPECT_TRUE(fs_port::IsRegularFile(game.File("_temp/data1.pak"))) << "the next update removes it";
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"[Notice] Clear dir."});
}

TEST(TempCleanup, WaitIdleFromAnotherThreadReturnsAfterEveryRemoval) {
    TempDir game;
    JournalCapture log;
    CTempCleanup cleanup(log.Journal());
    for (int rounds : {1, 3}) {
        FillWorkFolder(game.File("_temp"));
        for (int round = 0; round < rounds; ++round) cleanup.Start(game.Path());
        bool removed = false;
        std::thread updateWorker([&] {
            cleanup.WaitIdle();
            removed = !fs_port::PathExists(game.File("_temp"));
        });
        updateWorker.join();
        EXPECT_TRUE(removed) << rounds;
    }
    cleanup.WaitIdle();  // nothing running: returns at once
    EXPECT_EQ(log.Entries(), std::vector<std::string>(4, "[Notice] Clear dir."));
}

}  // namespace
