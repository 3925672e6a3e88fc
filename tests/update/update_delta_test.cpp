// The delta road of the engine: files made from their installed copies and
// small deltas, and every way a delta can fail falling back to the full
// package within the same run, with the new version in place byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "delta/bsdiff_delta.h"
#include "delta/vcdiff_delta.h"
#include "package/patch_kit.h"
#include "support/updater_fixture.h"
#include "update/engine/game_updater.h"
#include "update/engine/update_delta_stage.h"
#include "update/install/installer.h"

namespace {

// The engine's test pieces: transfers from a folder, a recording window.
using namespace test_update;

// Text that a delta can copy from: numbered lines.
std::string Lines(int count, const std::string& tag) {
    std::string text;
    for (int i = 0; i < count; ++i) text += tag + " line " + std::to_string(i * 7919 % 10007) + "\n";
    return text;
}

std::string Delta(const std::string& from, const std::string& to, bool bsdiff = false) {
    TempDir dir;
    WriteTextFile(dir.File("from"), from);
    WriteTextFile(dir.File("to"), to);
    const std::string fromPath = dir.File("from"), toPath = dir.File("to"), deltaPath = dir.File("delta");
    EXPECT_TRUE((bsdiff ? EncodeBsdiffFile(fromPath, toPath, deltaPath)
                        : EncodeDeltaFile(fromPath, toPath, deltaPath, {})).ok);
    return ReadTextFile(deltaPath);
}

// 1.0.0.1 installed; 1.0.0.2 changes a.dat (in a.pak) and Data\x.dat (in
// b.pak), both also by delta from delta1.pak.
struct DeltaScenario {
    TempDir launcher, server;
    ServerTree tree{server.Path()};
    FolderTransfer transfer{server.Path()};
    RecordingStarter starter;
    RecordingWindow window;
    JournalLines journal;
    const std::string oldA = Lines(2000, "a"), oldX = Lines(1500, "x");
    const std::string newA = oldA.substr(0, 9000) + "inserted\n" + oldA.substr(9500);
    const std::string newX = "head\n" + oldX + "tail\n";
    test_update::ReleaseSigner signer;
    bool keys = false;

    DeltaScenario() {
        window.installed = 1001;
        window.settings.UpdateIP = "127.0.0.1";
        tree.VersionList("1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n");
        WriteTextFile(launcher.File("a.dat"), oldA);
        (void)fs_port::MakeDirectory(launcher.File("Data"));
        WriteTextFile(launcher.File("Data/x.dat"), oldX);
        tree.EncipheredList("1.0.0.2", "updatelist.data",
                            "a.pak\tRoot\\a.dat\t" + std::to_string(newA.size()) + "\t" + Md5Of(newA) + "\nb.pak\tRoot\\Data\\x.dat\t" +
                                std::to_string(newX.size()) + "\t" + Md5Of(newX) + "\n");
        tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", newA}});
        tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\x.dat", newX}});
        Deltas(Delta(oldA, newA), Delta(oldX, newX));
    }
    void Deltas(const std::string& a, const std::string& x) {
        tree.Package("1.0.0.2", "delta1.pak", {{"Root\\a.dat", a}, {"Root\\Data\\x.dat", x}});
        tree.EncipheredList("1.0.0.2", kPatchListName,
                            "delta1.pak\tRoot\\a.dat\ta.dat\t" + std::to_string(a.size()) + "\t" + Md5Of(oldA) + "\t" +
                                Md5Of(newA) + "\ndelta1.pak\tRoot\\Data\\x.dat\tData\\x.dat\t" + std::to_string(x.size()) +
                                "\t" + Md5Of(oldX) + "\t" + Md5Of(newX) + "\n");
    }
    void Sign() {
        signer.SignVersion(server.Path(), "1.0.0.2", 7);
        signer.SignList(server.Path(), 7, static_cast<int64_t>(std::time(nullptr)) + 3600);
        keys = true;
    }
    int Run() {
        CGameUpdater updater(launcher.Path(), &transfer, &starter);
        if (keys) updater.UseTrustKeys(signer.Keys());
        updater.m_bInstall = 1;
        return updater.RunUpdate(&window);
    }
    std::vector<std::string> FetchedPackages() const {
        std::vector<std::string> names;
        for (const std::string& url : transfer.urls) {
            if (url.size() > 4 && url.compare(url.size() - 4, 4, ".pak") == 0) names.push_back(url.substr(url.rfind('/') + 1));
        }
        return names;
    }
};

TEST(DeltaRoad, EveryFailureFallsBackToTheFullPackage) {
    const std::string fallback = "[Notice] Data\\x.dat 增量更新失败, 改用完整更新包 b.pak : ";
    const struct {
        const char* name;
        std::function<void(DeltaScenario&)> spoil;
        std::vector<std::string> fetched;
        std::string logged;  // the start of a journal entry
    } cases[] = {
        {"both by delta", [](DeltaScenario&) {}, {"delta1.pak"}, "[Info] 增量更新 : 2 个文件, 1 个补丁包"},
        {"signed, both by delta", [](DeltaScenario& s) { s.Sign(); }, {"delta1.pak"}, "[Info] 增量更新 : 2 个文件"},
        {"no patch list", [](DeltaScenario& s) { fs_port::RemoveFile(s.tree.Path("1.0.0.2/patchlist.data")); },
         {"a.pak", "b.pak"}, "[Info] 下载 "},
        {"patch list refused by the server",
         [](DeltaScenario& s) { s.transfer.failUrls["http://127.0.0.1/1.0.0.2/patchlist.data"] = 4; },
         {"a.pak", "b.pak"}, "[Notice] 请求补丁列表失败, 使用完整更新包 . 错误代码 : 40"},
        {"malformed patch list",
         [](DeltaScenario& s) { s.tree.EncipheredList("1.0.0.2", kPatchListName, "delta1.pak\tRoot\\a.dat\ta.dat\n"); },
         {"a.pak", "b.pak"}, "[Notice] 补丁列表含有无效的行, 使用完整更新包 : delta1.pak\tRoot\\a.dat\ta.dat"},
        {"patch list not enciphered",
         [](DeltaScenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/patchlist.data"), "delta1.pak\n"); },
         {"a.pak", "b.pak"}, "[Notice] 补丁列表无法读取, 使用完整更新包."},
        {"installed file is not the delta's source",
         [](DeltaScenario& s) { WriteTextFile(s.launcher.File("a.dat"), "changed by the player"); },
         {"delta1.pak", "a.pak"}, "[Info] a.dat 与补丁的源文件不同, 使用完整更新包"},
        {"damaged delta",
         [](DeltaScenario& s) {
             std::string x = Delta(s.oldX, s.newX);
             x[x.size() / 2] ^= 0x55;
             s.Deltas(Delta(s.oldA, s.newA), x);
         },
         {"delta1.pak", "b.pak"}, fallback},
        {"delta to another file",
         [](DeltaScenario& s) { s.Deltas(Delta(s.oldA, s.newA), Delta(s.oldX, s.newX.substr(1) + "!")); },
         {"delta1.pak", "b.pak"}, fallback + "MD5 of the result "},
        {"delta to a larger file", [](DeltaScenario& s) { s.Deltas(Delta(s.oldA, s.newA), Delta(s.oldX, s.newX + "!")); },
         {"delta1.pak", "b.pak"}, fallback + "the delta makes more than the list's "},
        {"one file by each kind of delta",
         [](DeltaScenario& s) { s.Deltas(Delta(s.oldA, s.newA, true), Delta(s.oldX, s.newX)); }, {"delta1.pak"},
         "[Info] 增量更新 : 2 个文件, 1 个补丁包"},
        {"damaged bsdiff delta",
         [](DeltaScenario& s) { s.Deltas(Delta(s.oldA, s.newA), Delta(s.oldX, s.newX, true).substr(0, 60)); },
         {"delta1.pak", "b.pak"}, fallback + "delta not applied: damaged delta "},
        {"bsdiff delta to a larger file",
         [](DeltaScenario& s) { s.Deltas(Delta(s.oldA, s.newA), Delta(s.oldX, s.newX + std::string(300000, '!'), true)); },
         {"delta1.pak", "b.pak"}, fallback + "the delta makes more than the list's "},
        {"delta package missing", [](DeltaScenario& s) { fs_port::RemoveFile(s.tree.Path("1.0.0.2/delta1.pak")); },
         {"delta1.pak", "a.pak", "b.pak"}, fallback + "delta package delta1.pak not received (error 50)"},
        {"signed, delta package changed after signing",
         [](DeltaScenario& s) {
             s.Sign();
             s.tree.Package("1.0.0.2", "delta1.pak", {{"Root\\a.dat", "x"}});
         },
         {"delta1.pak", "a.pak", "b.pak"}, fallback},
    };
    for (const auto& c : cases) {
        DeltaScenario s;
        c.spoil(s);
        ASSERT_EQ(s.Run(), update_outcome::kHandedOver) << c.name << ": " << s.window.Last();
        EXPECT_EQ(s.FetchedPackages(), c.fetched) << c.name;
        const auto entries = s.journal.Entries();
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                                [&](const std::string& e) { return e.rfind(c.logged, 0) == 0; }))
            << c.name << testing::PrintToString(entries);
        // The saving is shown when a file came by delta.
        EXPECT_EQ(std::any_of(s.window.statuses.begin(), s.window.statuses.end(),
                              [](const std::string& t) { return t.rfind("下载 ", 0) == 0; }),
                  c.fetched.front() == "delta1.pak" && c.fetched.size() < 3)
            << c.name;
        // So are the delta package's download and its applying, with their figures.
        for (const char* figures : {"正在下载 : delta1.pak ", "正在应用补丁 : "}) {
            if (c.fetched.front() != "delta1.pak" || c.fetched.size() > 2) break;
            EXPECT_TRUE(std::any_of(s.window.progress.begin(), s.window.progress.end(),
                                    [&](const auto& shown) { return shown.second.rfind(figures, 0) == 0; }))
                << c.name << ": " << figures << testing::PrintToString(s.window.progress);
        }
        // Within their totals, filled by what the deltas left, taken away once.
        bool filled = false;
        EXPECT_EQ(RowBeyondTotal(s.window.progress, &filled), "") << c.name;
        EXPECT_TRUE(filled && s.window.progressEnds == 1) << c.name << testing::PrintToString(s.window.progress);
        SystemFileOps ops(false);
        ASSERT_EQ(RunInstaller(s.launcher.Path(), s.launcher.Path() + "\\udo.temp", &ops,
                               [](EntryKind, const std::string&) {}),
                  InstallOutcome::Installed)
            << c.name;
        EXPECT_EQ(ReadTextFile(s.launcher.File("a.dat")), s.newA) << c.name;
        EXPECT_EQ(ReadTextFile(s.launcher.File("Data/x.dat")), s.newX) << c.name;
        EXPECT_FALSE(fs_port::PathExists(s.launcher.File("patchlist.data"))) << c.name;
    }
}

}  // namespace
