#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <thread>

#include "support/test_support.h"

#include "maintenance/verify_version.h"
#include "package/patch_kit.h"
#include "platform/text_encoding.h"
#include "update/fetch/kept_downloads.h"
#include "support/updater_fixture.h"
#include "trust/file_sha256.h"
#include "update/engine/game_updater.h"
#include "update/fetch/kept_downloads.h"
#include "update/engine/version_list.h"
#include "update/install/hand_off.h"
#include "update/install/installer.h"

namespace {

using test_update::FolderTransfer;
using test_update::JournalLines;
using test_update::Md5Of;
using test_update::RecordingStarter;
using test_update::RecordingWindow;
using test_update::ServerTree;

constexpr char kContentA[] = "new a content\n";
constexpr char kContentX[] = "new x content\n";

// An installation at 1.0.0.1 and a server offering 1.0.0.2 with two packages.
struct Scenario {
    TempDir launcher;
    TempDir server;
    ServerTree tree{server.Path()};
    FolderTransfer transfer{server.Path()};
    RecordingStarter starter;
    RecordingWindow window;
    JournalLines journal;

    Scenario() {
        window.installed = 1001;
        window.settings.UpdateIP = "127.0.0.1";
        window.settings.UpdatePort = "21";
        tree.VersionList("1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n");
        tree.EncipheredList("1.0.0.2", "updatelist.data",
                            "b.pak\tRoot\\Data\\x.dat\t14\t" + Md5Of(kContentX) +
                                "\na.pak\tRoot\\a.dat\t14\tm\n");
        tree.EncipheredList("1.0.0.2", "dellist.data", "old.dat\nmissing.dat\n");
        tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", kContentA}});
        tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\x.dat", kContentX}});
        WriteTextFile(launcher.File("old.dat"), "old");
    }
    std::string L(const std::string& rel = "") const { return launcher.Path() + (rel.empty() ? "" : "\\" + rel); }
    // Signs 1.0.0.2 and the list (serial 7, an hour to go); the engine then checks releases.
    void Sign() {
        signer.SignVersion(server.Path(), "1.0.0.2", 7);
        signer.SignList(server.Path(), 7, static_cast<int64_t>(std::time(nullptr)) + 3600);
        keys = true;
    }
    int Run(int install = 1) {
        CGameUpdater updater(launcher.Path(), use ? use : &transfer, &starter);
        updater.SetResumePolicy(ResumePolicy{kMaxStallResumes, std::chrono::milliseconds(1)});
        running = &updater;
        if (keys) updater.UseTrustKeys(signer.Keys());
        updater.m_bInstall = install;
        const int outcome = updater.RunUpdate(&window);
        latest = updater.m_nLatestVersion;
        running = nullptr;
        return outcome;
    }
    bool HandOffWritten() const { return fs_port::PathExists(L("udo.temp")); }
    IUpdateTransfer* use = nullptr;  // instead of transfer
    CGameUpdater* running = nullptr;
    int32_t latest = 0;
    test_update::ReleaseSigner signer;
    bool keys = false;
};

TEST(GameUpdater, FullStepShowsEveryTextAndHandsOver) {
    Scenario s;
    ASSERT_EQ(s.Run(), update_outcome::kHandedOver);
    const std::vector<std::string> expected = {
        "正在请求更新...", "正在更新至 : 1.0.0.2", "分析更新列表...", "准备更新......",
        "开始执行更新......", "请求更新列表......", "Wait for downloading -> a.pak....", "开始解包...",
        "正在解包 : ->Wait for unpackaging -> a.pak....", "Wait for downloading -> b.pak....",
        "正在努力更新 :  100.0 % ->下载完成", "正在解包 : ->Wait for unpackaging -> b.pak....",
        "正在努力更新 :  100.0 % ->解包完成", "正在准备更新...", "正在安装更新..."};
    EXPECT_EQ(s.window.statuses, expected);
    EXPECT_EQ(s.latest, 1002);
    // The figures go to the progress port, not among the status texts, and
    // the progress ends with the step.
    ASSERT_FALSE(s.window.progress.empty());
    const std::string& first = s.window.progress[0].second;
    EXPECT_EQ(first.rfind("正在下载 : a.pak  0.0 / 0.1 KB  ", 0), 0u) << first;
    EXPECT_EQ(s.window.progressEnds, 1);

    HandOffPlan plan;
    std::string error;
    ASSERT_TRUE(ReadHandOffFile(s.L("udo.temp"), &plan, &error)) << error;
    ASSERT_EQ(plan.moves.size(), 2u);
    EXPECT_EQ(plan.moves[0].from, s.L("_temp\\Root\\a.dat"));
    EXPECT_EQ(plan.moves[0].to, s.L("a.dat"));
    EXPECT_EQ(plan.moves[1].from, s.L("_temp\\Root\\Data\\x.dat"));
    EXPECT_EQ(plan.moves[1].to, s.L("Data\\x.dat"));
    EXPECT_EQ(plan.deletes, std::vector<std::string>{s.L("old.dat")});
    EXPECT_EQ(ReadTextFile(s.launcher.File("_temp/Root/Data/x.dat")), kContentX);
    ASSERT_EQ(s.starter.starts.size(), 1u);
    EXPECT_EQ(s.starter.starts[0], s.L("VantorelPath.exe") + "|\"1\"\t\"" + s.L("udo.temp") + "\"");
    EXPECT_EQ(s.transfer.urls[1], "http://127.0.0.1/1.0.0.2/updatelist.data");
    // The lists (the patch list too, which this server lacks) are fetched
    // under their size caps, the packages under none.
    const std::vector<int64_t> caps = {static_cast<int64_t>(kMaxVersionListBytes), kMaxListFileBytes,
                                       kMaxListFileBytes, kMaxListFileBytes, kNoByteCap, kNoByteCap};
    EXPECT_EQ(s.transfer.caps, caps);
    // The lists are read and removed from the launcher folder.
    EXPECT_FALSE(fs_port::PathExists(s.L("updatelist.data")));
    EXPECT_FALSE(fs_port::PathExists(s.L("versionlist.data")));

    const std::vector<std::string> wanted = {
        "[Info] 请求版本列表...", "[Notice] 正在向 127.0.0.1:21请求( 1 )...", "[Info] 开始分析版本列表",
        "[Info] 正在更新至 : 1.0.0.2", "[Info] 版本检查完毕", "[Info] 准备更新......", "[Info] 开始执行更新......",
        "[Info] 请求更新列表......", "[Info] del = 3", "[Info] 开始下载更新...28",
        "[Info] Wait for downloading -> a.pak....", "[Info] 开始解包...", "[Info] Wait for downloading -> b.pak....",
        "[Info] Add del = " + s.L("old.dat"), "[Info] del " + s.L("missing.dat") + " is no is exist",
        "[Info] 正在准备更新...", "[Notice] " + s.L("VantorelPath.exe"), "[Info] 开始安装更新..."};
    EXPECT_TRUE(s.journal.HasInOrder(wanted)) << testing::PrintToString(s.journal.Entries());
}

// The check after an update does not read again what the update unpacked and
// checked (a.dat's list line gives no digest, so it is read): the installer's
// rename keeps the stamps that the update recorded, a copy does not.
TEST(GameUpdater, CheckAfterTheUpdateReadsOnlyWhatItCannotTrust) {
    const struct {
        const char* why;
        bool checkBeforeInstall;  // as the launcher does while the installer runs
        bool copiedIntoPlace;
        std::vector<std::string> read;
    } cases[] = {
        {"renamed into place", false, false, {"a.dat"}},
        {"checked before the installer moved it", true, false, {"a.dat"}},
        {"copied into place", false, true, {"a.dat", "Data\\x.dat"}},
    };
    for (const auto& c : cases) {
        Scenario s;
        WriteTextFile(s.launcher.File("a.dat"), "old a");
        ASSERT_TRUE(fs_port::MakeDirectory(s.launcher.File("Data")));
        WriteTextFile(s.launcher.File("Data/x.dat"), "old x");
        const auto check = [&](const std::string& version, const std::string& x) {
            const std::string content = version + "\na.dat\n" + Md5Of(kContentA) + "\nData\\x.dat\n" + Md5Of(x);
            CFastFile file(ModeWrite);
            EXPECT_TRUE(file.Open(s.L("version.data").c_str(), "w+"));
            EXPECT_TRUE(file.WriteBytes(content.data(), content.size(), &LauncherFileKey(), true));
            file.Close();
            VerifyOptions options;
            options.useCache = true;
            CPatchKit kit;
            return VerifyGameVersion(s.launcher.Path(), kit, TheJournal(), LauncherFileKey(), options);
        };
        ASSERT_EQ(s.Run(), update_outcome::kHandedOver) << c.why;
        if (c.checkBeforeInstall) {
            EXPECT_EQ(check("1001", "old x").readFiles.size(), 2u) << c.why;
        }
        SystemFileOps ops(false);
        ASSERT_EQ(RunInstaller(s.launcher.Path(), s.L("udo.temp"), &ops, [](EntryKind, const std::string&) {}),
                  InstallOutcome::Installed)
            << c.why;
        if (c.copiedIntoPlace) {
            WriteTextFile(s.launcher.File("copy"), kContentX);
            ASSERT_TRUE(fs_port::RenamePath(s.launcher.File("copy"), s.L("Data\\x.dat"), true)) << c.why;
        }
        const VerifyReport report = check("1002", kContentX);
        EXPECT_EQ(report.readFiles, c.read) << c.why;
        EXPECT_TRUE(report.mismatches.empty()) << c.why;
    }
}

TEST(GameUpdater, CheckOutcomes) {
    const struct {
        const char* name;
        const char* list;
        int32_t installed;
        int install;
        int outcome;
        int32_t latest;
        const char* last;
        bool startDisabled;
        // Only a mandatory target shows the latest version at once.
        std::vector<int32_t> versionLines;
    } cases[] = {
        {"newer optional, check only", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n", 1001, 0,
         update_outcome::kNewerAvailable, 1003, "正在请求更新...", false, {}},
        {"already newest", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n", 1002, 0, update_outcome::kUpToDate, 1002,
         "已经是最新版本.", false, {}},
        {"mandatory installs without asking", "1.0.0.1\t0\t0\n1.0.0.2\t1\t0\n", 1001, 0,
         update_outcome::kHandedOver, 1002, "正在安装更新...", true, {1002}},
        {"mandatory next step shows the latest, not the target", "1.0.0.1\t0\t0\n1.0.0.2\t1\t0\n1.0.0.3\t0\t0\n",
         1001, 0, update_outcome::kHandedOver, 1003, "正在安装更新...", true, {1003}},
        {"optional with the install flag", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n", 1001, 1,
         update_outcome::kHandedOver, 1002, "正在安装更新...", false, {}},
        {"no lines", "1.0.0.2\t0\t0", 1001, 1, update_outcome::kFailed, 0, "更新异常 . 错误代码 : 0", false, {}},
        {"no usable line", "1.0.0.2\n\n", 1001, 1, update_outcome::kFailed, 0, "更新异常 . 错误代码 : 1", false,
         {}},
        {"empty list", "", 1001, 1, update_outcome::kFailed, 0, "更新失败 . 错误代码 : 0", false, {}},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n", 1001, 0,
         update_outcome::kNewerAvailable, 1002, "正在请求更新...", false, {}},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.tree.VersionList(c.list);
        s.window.installed = c.installed;
        EXPECT_EQ(s.Run(c.install), c.outcome) << c.name;
        EXPECT_EQ(s.latest, c.latest) << c.name;
        EXPECT_EQ(s.window.Last(), c.last) << c.name;
        EXPECT_EQ(!s.window.startButton.empty() && !s.window.startButton.back(), c.startDisabled) << c.name;
        EXPECT_EQ(s.window.versionLines, c.versionLines) << c.name;
    }
}

TEST(GameUpdater, FailuresLeaveNothingInstalled) {
    const struct {
        const char* name;
        std::function<void(Scenario&)> spoil;
        int outcome;
        const char* last;
        bool box;
    } cases[] = {
        {"version list missing", [](Scenario& s) { fs_port::RemoveFile(s.tree.Path("versionlist.data")); },
         update_outcome::kFailed, "更新失败 . 错误代码 : 50", false},
        {"update list missing",
         [](Scenario& s) { fs_port::RemoveFile(s.tree.Path("1.0.0.2/updatelist.data")); },
         update_outcome::kFailed, "请求更新列表失败 . 错误代码 : 50", false},
        {"update list not enciphered",
         [](Scenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/updatelist.data"), "a.pak\tR\\a\t1\tm\n"); },
         update_outcome::kFailed, "更新列表无法读取.", false},
        {"update list without lines",
         [](Scenario& s) { s.tree.EncipheredList("1.0.0.2", "updatelist.data", "a.pak\tR\\a\t1\tm"); },
         update_outcome::kFailed, "分析更新列表失败.", false},
        {"nothing named",
         [](Scenario& s) { s.tree.EncipheredList("1.0.0.2", "updatelist.data", "a.pak\tR\\a\t1\n"); },
         update_outcome::kHandedOver, "没有可以更新的内容.", false},
        {"second package answered 404", [](Scenario& s) { fs_port::RemoveFile(s.tree.Path("1.0.0.2/b.pak")); },
         update_outcome::kFailed, "下载更新包失败 错误 : 50", false},
        {"second package stalled through every resume",
         [](Scenario& s) { s.transfer.failUrls["http://127.0.0.1/1.0.0.2/b.pak"] = kFetchStalled; },
         update_outcome::kFailed, "下载停滞 : b.pak . 已续传 4 次, 历时 0 秒", false},
        {"update list stalled through every resume",
         [](Scenario& s) { s.transfer.failUrls["http://127.0.0.1/1.0.0.2/updatelist.data"] = kFetchStalled; },
         update_outcome::kFailed, "下载停滞 : updatelist.data . 已续传 4 次, 历时 0 秒", false},
        {"corrupt package", [](Scenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/a.pak"), "PK garbage"); },
         update_outcome::kFailed, "open package a.pak error!", false},
        {"member missing from package",
         [](Scenario& s) { s.tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\other.dat", "x"}}); },
         update_outcome::kFailed, "Undo package Root\\Data\\x.dat error!", true},
        {"member digest mismatch",
         [](Scenario& s) { s.tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\x.dat", "tampered\n"}}); },
         update_outcome::kFailed, "Undo package Root\\Data\\x.dat error!", true},
        {"list names ..\\ paths",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "updatelist.data", "a.pak\tRoot\\..\\..\\evil.dll\t1\tm\n");
         },
         update_outcome::kFailed, "更新列表含有不安全的路径 : Root\\..\\..\\evil.dll", false},
        {"delete list leaves the folder",
         [](Scenario& s) { s.tree.EncipheredList("1.0.0.2", "dellist.data", "..\\..\\etc\\passwd\n"); },
         update_outcome::kFailed, "更新列表含有不安全的路径 : ..\\..\\etc\\passwd", false},
        {"sizes whose sum passes 2^63 - 1",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "updatelist.data",
                                   "a.pak\tRoot\\a\t5000000000000000000\tm\na.pak\tRoot\\b\t5000000000000000000\tm\n");
         },
         update_outcome::kFailed, "更新列表含有无效的大小 : 5000000000000000000", false},
        {"delete list removes the launcher",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "dellist.data", "VantorelLauncher.exe\n");
             WriteTextFile(s.launcher.File("VantorelLauncher.exe"), "exe");
         },
         update_outcome::kFailed, nullptr, false},
        {"installer does not start", [](Scenario& s) { s.starter.failWith = 2; }, update_outcome::kFailed,
         "安装程序启动失败 ! 错误代码 :2", false},
        {"hand-off file cannot be written", [](Scenario& s) { fs_port::MakeDirectories(s.L("udo.temp.part")); },
         update_outcome::kFailed, nullptr, false},
        {"work folder cannot be made", [](Scenario& s) { WriteTextFile(s.launcher.File("_temp"), "a file"); },
         update_outcome::kFailed, nullptr, false},
        // The client refuses it before it reaches the disk, and logs why.
        {"version list over its size cap",
         [](Scenario& s) { s.tree.VersionList(std::string(kMaxVersionListBytes, '1') + "\t0\t0\n"); },
         update_outcome::kFailed, "更新失败 . 错误代码 : 50", false},
        {"version list not GBK", [](Scenario& s) { s.tree.VersionList("1.0.0.2\t0\t0\n\xFF\xFF\n"); },
         update_outcome::kFailed, "版本列表无法读取.", false},
        {"delete list refused, not absent",
         [](Scenario& s) { s.transfer.failUrls["http://127.0.0.1/1.0.0.2/dellist.data"] = 4; },
         update_outcome::kFailed, "请求删除列表失败 . 错误代码 : 40", false},
        {"delete list not enciphered",
         [](Scenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/dellist.data"), "old.dat\n"); },
         update_outcome::kFailed, "删除列表无法读取.", false},
        {"new installer program cannot be put in place",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "updatelist.data",
                                   "a.pak\tRoot\\VantorelPath.exe\t3\tm\na.pak\tRoot\\a.dat\t14\tm\n");
             s.tree.Package("1.0.0.2", "a.pak", {{"Root\\VantorelPath.exe", "new"}, {"Root\\a.dat", kContentA}});
             // A folder in its place cannot be replaced, as a locked file cannot.
             fs_port::MakeDirectories(s.launcher.File("VantorelPath.exe/locked"));
         },
         update_outcome::kFailed, "Root\\VantorelPath.exe error!", false},
        {"signed: a package the manifest does not name",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "updatelist.data", "a.pak\tRoot\\a.dat\t14\tm\nc.pak\tRoot\\c\t1\tm\n");
             s.Sign();
             s.tree.Package("1.0.0.2", "c.pak", {{"Root\\c", "c"}});
         },
         update_outcome::kFailed, "文件清单中没有 c.pak, 已拒绝更新.", false},
        {"signed: update list longer than the manifest says",
         [](Scenario& s) {
             s.Sign();
             s.tree.EncipheredList("1.0.0.2", "updatelist.data", "a.pak\tRoot\\a.dat\t14\tm\n" + std::string(99, '\n'));
         },
         update_outcome::kFailed, "请求更新列表失败 . 错误代码 : 50", false},
        // Found while b.pak downloads; the refusal still ends the step.
        {"signed: first package changed after signing",
         [](Scenario& s) {
             s.Sign();
             s.tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", "evil"}});
         },
         update_outcome::kFailed, "a.pak 与文件清单不符, 已拒绝更新.", false},
        {"signed: manifest without its signature",
         [](Scenario& s) {
             s.Sign();
             fs_port::RemoveFile(s.tree.Path("1.0.0.2/release.manifest.minisig"));
         },
         update_outcome::kFailed, "版本 1.0.0.2 的文件清单没有运营商的签名, 已拒绝更新.", false},
        {"signed: delete list the manifest names withheld",
         [](Scenario& s) { s.Sign(); s.transfer.notFoundUrls.insert("http://127.0.0.1/1.0.0.2/dellist.data"); },
         update_outcome::kFailed, "请求删除列表失败 . 错误代码 : 50", false},
        {"signed: version line without the manifest's digest",
         [](Scenario& s) {
             s.Sign();
             s.tree.VersionList("1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n");
             s.signer.SignList(s.server.Path(), 7, static_cast<int64_t>(std::time(nullptr)) + 3600);
         },
         update_outcome::kFailed, "版本列表没有版本 1.0.0.2 的文件清单摘要, 已拒绝更新.", false},
        {"signed: manifest signed for 1.0.0.2 at another time",
         [](Scenario& s) {
             s.Sign();
             const std::string list = ReadTextFile(s.tree.Path("versionlist.data"));
             s.tree.EncipheredList("1.0.0.2", "dellist.data", "old.dat\n");
             s.signer.SignVersion(s.server.Path(), "1.0.0.2", 8);
             s.tree.VersionList(list);
         },
         update_outcome::kFailed, "版本 1.0.0.2 的文件清单与版本列表不符, 已拒绝更新.", false},
    };
    for (const auto& c : cases) {
        Scenario s;
        c.spoil(s);
        EXPECT_EQ(s.Run(), c.outcome) << c.name;
        if (c.last) {
            EXPECT_EQ(s.window.Last(), c.last) << c.name;
        }
        // The log line is the status text, then perhaps the reason.
        const std::string logged = "[Error] " + s.window.Last();
        const auto entries = s.journal.Entries();
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                                [&](const std::string& e) { return e.compare(0, logged.size(), logged) == 0; }))
            << c.name;
        EXPECT_EQ(s.window.boxes.size(), c.box ? 1u : 0u) << c.name;
        EXPECT_FALSE(s.HandOffWritten()) << c.name;
        if (c.outcome == update_outcome::kFailed && c.name != std::string("installer does not start")) {
            EXPECT_TRUE(s.starter.starts.empty()) << c.name;
        }
        EXPECT_EQ(ReadTextFile(s.launcher.File("old.dat")), "old") << c.name;
        const bool handedOver =
            c.name == std::string("installer does not start") || c.name == std::string("hand-off file cannot be written");
        EXPECT_FALSE(handedOver && fs_port::PathExists(s.L("_temp\\Root"))) << c.name << ": the unpacked files stayed";
        for (const std::string& text : s.window.statuses) {
            const size_t path = text.find(fs_port::NativePath(s.launcher.Path()));
            if (path == std::string::npos) continue;
            EXPECT_EQ(text.find(fs_port::NativeSeparator() == '/' ? '\\' : '/', path), std::string::npos)
                << c.name << ": one kind of separator in " << text;
        }
        if (s.keys) {
            EXPECT_FALSE(fs_port::PathExists(s.L("_temp\\a.pak"))) << c.name << ": a refused download stayed";
        }
        for (const char* list : {"versionlist.data", "updatelist.data", "dellist.data", "patchlist.data",
                                 "versionlist.data.minisig", "release.manifest", "release.manifest.minisig"}) {
            EXPECT_FALSE(fs_port::PathExists(s.L(list))) << c.name << ": " << list << " left behind";
        }
    }
}

// Signature before the list is used, manifest before the lists, and every
// file of the version folder under the manifest's size; the accepted serial
// is kept, and a damaged state file counts as serial 0.
TEST(GameUpdater, SignedStepFetchesInOrderUnderManifestCaps) {
    Scenario s;
    s.Sign();
    WriteTextFile(s.launcher.File("trust.state"), "serial=damaged\n");
    ASSERT_EQ(s.Run(), update_outcome::kHandedOver) << s.window.Last();
    const std::string base = "http://127.0.0.1/";
    const std::vector<std::string> urls = {
        base + "versionlist.data", base + "versionlist.data.minisig", base + "1.0.0.2/release.manifest",
        base + "1.0.0.2/release.manifest.minisig", base + "1.0.0.2/updatelist.data", base + "1.0.0.2/dellist.data",
        base + "1.0.0.2/a.pak", base + "1.0.0.2/b.pak"};
    EXPECT_EQ(s.transfer.urls, urls);
    std::vector<int64_t> caps = {static_cast<int64_t>(kMaxVersionListBytes), kMaxFetchedSignatureBytes,
                                 kMaxFetchedManifestBytes, kMaxFetchedSignatureBytes};
    for (const char* name : {"updatelist.data", "dellist.data", "a.pak", "b.pak"}) {
        caps.push_back(fs_port::FileSize(s.tree.Path(std::string("1.0.0.2/") + name)));
    }
    EXPECT_EQ(s.transfer.caps, caps);
    EXPECT_EQ(ReadTextFile(s.launcher.File("trust.state")), "serial=7\n");
    EXPECT_TRUE(s.journal.Has("[Error] 签名状态文件已损坏, 按序号 0 处理 : " + fs_port::NativePath(s.L("trust.state"))));
}

// The fake serves every host from the same folder, so what one host fails the
// mirror has. The step leaves a failing host for good, asks the mirror for
// the same path, and takes a 404 of the optional delete list as an answer.
TEST(GameUpdater, MirrorsTakeOverFromAFailingHost) {
    const std::string a = "http://127.0.0.1/", m = "http://mirror:8080/", v = "1.0.0.2/";
    const struct {
        const char* name;
        std::function<void(Scenario&)> spoil;
        std::vector<std::string> urls;
        const char* last;
    } cases[] = {
        {"version list refused", [&](Scenario& s) { s.transfer.failUrls[a + "versionlist.data"] = 4; },
         {a + "versionlist.data", m + "versionlist.data", m + v + "updatelist.data", m + v + "dellist.data",
          m + v + "patchlist.data", m + v + "a.pak", m + v + "b.pak"},
         "正在安装更新..."},
        {"package answered 404", [&](Scenario& s) { s.transfer.notFoundUrls.insert(a + v + "a.pak"); },
         {a + "versionlist.data", a + v + "updatelist.data", a + v + "dellist.data", a + v + "patchlist.data", a + v + "a.pak",
          m + v + "a.pak", m + v + "b.pak"},
         "正在安装更新..."},
        {"update list answered 404", [&](Scenario& s) { s.transfer.notFoundUrls.insert(a + v + "updatelist.data"); },
         {a + "versionlist.data", a + v + "updatelist.data", m + v + "updatelist.data", m + v + "dellist.data",
          m + v + "patchlist.data", m + v + "a.pak", m + v + "b.pak"},
         "正在安装更新..."},
        {"delete list answered 404 is an answer", [&](Scenario& s) { s.transfer.notFoundUrls.insert(a + v + "dellist.data"); },
         {a + "versionlist.data", a + v + "updatelist.data", a + v + "dellist.data", a + v + "patchlist.data", a + v + "a.pak",
          a + v + "b.pak"},
         "正在安装更新..."},
        {"package fails on every host",
         [&](Scenario& s) { s.transfer.failUrls[a + v + "b.pak"] = s.transfer.failUrls[m + v + "b.pak"] = 4; },
         {a + "versionlist.data", a + v + "updatelist.data", a + v + "dellist.data", a + v + "patchlist.data", a + v + "a.pak",
          a + v + "b.pak", m + v + "b.pak"},
         "下载更新包失败 错误 : 40"},
        // Signed, the manifest names the lists: a host that withholds one is left.
        {"signed delete list answered 404", [&](Scenario& s) { s.Sign(); s.transfer.notFoundUrls.insert(a + v + "dellist.data"); },
         {a + "versionlist.data", a + "versionlist.data.minisig", a + v + "release.manifest", a + v + "release.manifest.minisig",
          a + v + "updatelist.data", a + v + "dellist.data", m + v + "dellist.data", m + v + "a.pak", m + v + "b.pak"},
         "正在安装更新..."},
        {"signed patch list answered 404",
         [&](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "patchlist.data", "");
             s.Sign();
             s.transfer.notFoundUrls.insert(a + v + "patchlist.data");
         },
         {a + "versionlist.data", a + "versionlist.data.minisig", a + v + "release.manifest", a + v + "release.manifest.minisig",
          a + v + "updatelist.data", a + v + "dellist.data", a + v + "patchlist.data", m + v + "patchlist.data", m + v + "a.pak",
          m + v + "b.pak"},
         "正在安装更新..."},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.window.settings.Mirrors = {"mirror:8080"};
        c.spoil(s);
        (void)s.Run();
        EXPECT_EQ(s.transfer.urls, c.urls) << c.name;
        EXPECT_EQ(s.window.Last(), c.last) << c.name;
        const std::string& last = s.transfer.urls.back();
        const std::string host = last.compare(0, m.size(), m) == 0 ? "mirror:8080" : "127.0.0.1";
        EXPECT_EQ(s.journal.Has("[Info] 下载自 " + host + " : " + last), s.starter.starts.size() == 1) << c.name;
    }
}

TEST(GameUpdater, PackageFailuresLogTheirReason) {
    const struct {
        const char* name;
        std::function<void(Scenario&)> spoil;
        const char* logged;
    } cases[] = {
        {"corrupt package", [](Scenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/a.pak"), "PK garbage"); },
         "[Error] open package a.pak error! : not a package, or cut off (no end record)"},
        {"member missing from package",
         [](Scenario& s) { s.tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\other.dat", "x"}}); },
         "[Error] Undo package Root\\Data\\x.dat error! : no member Root\\Data\\x.dat in the package"},
    };
    for (const auto& c : cases) {
        Scenario s;
        c.spoil(s);
        EXPECT_EQ(s.Run(), update_outcome::kFailed) << c.name;
        EXPECT_TRUE(s.journal.Has(c.logged)) << c.name;
    }
}

TEST(GameUpdater, UnsafeListDownloadsNoPackage) {
    const struct {
        const char* name;
        const char* updateList;
        const char* deleteList;
    } cases[] = {
        {"path with a drive", "a.pak\tC:\\Windows\\evil.dll\t1\tm\n", ""},
        {"deletes what it installs", "a.pak\tRoot\\a.dat\t14\tm\n", "a.dat\n"},
        {"deletes the installer program", "a.pak\tRoot\\a.dat\t14\tm\n", "VantorelPath.exe\n"},
        {"installs under Log", "a.pak\tRoot\\Log\\a.dat\t14\tm\n", ""},
        {"installs under _backup", "a.pak\tRoot\\_backup\\a.dat\t14\tm\n", ""},
        {"unpacks onto a package's download", "a.pak\tRoot\\a.dat\t14\tm\nb.pak\tA.PAK\t14\tm\n", ""},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.tree.EncipheredList("1.0.0.2", "updatelist.data", c.updateList);
        s.tree.EncipheredList("1.0.0.2", "dellist.data", c.deleteList);
        WriteTextFile(s.launcher.File("a.dat"), "old");
        WriteTextFile(s.launcher.File("VantorelPath.exe"), "old");
        EXPECT_EQ(s.Run(), update_outcome::kFailed) << c.name;
        EXPECT_EQ(s.window.Last().rfind("更新列表含有不安全的路径 : ", 0), 0u) << c.name << ": " << s.window.Last();
        for (const std::string& url : s.transfer.urls) EXPECT_EQ(url.find(".pak"), std::string::npos) << c.name;
    }
}

TEST(GameUpdater, MissingDeleteListIsNoFailure) {
    // Signed, the manifest says there is none, and it is not asked for.
    for (const bool sign : {false, true}) {
        Scenario s;
        fs_port::RemoveFile(s.tree.Path("1.0.0.2/dellist.data"));
        if (sign) s.Sign();
        EXPECT_EQ(s.Run(), update_outcome::kHandedOver) << s.window.Last();
        HandOffPlan plan;
        std::string error;
        ASSERT_TRUE(ReadHandOffFile(s.L("udo.temp"), &plan, &error)) << error;
        EXPECT_EQ(plan.moves.size(), 2u);
        EXPECT_TRUE(plan.deletes.empty());
        EXPECT_EQ(std::count(s.transfer.urls.begin(), s.transfer.urls.end(), "http://127.0.0.1/1.0.0.2/dellist.data"),
                  sign ? 0 : 1);
    }
}

TEST(GameUpdater, InstallerProgramIsPutInPlaceDirectly) {
    const struct {
        const char* name;
        const char* list;
        std::vector<std::string> movedTo;  // empty: nothing else to move, no hand-off, no start
    } cases[] = {
        {"installer alone", "a.pak\tRoot\\VantorelPath.exe\t3\tm\n", {}},
        {"a name that contains the installer's is an ordinary member",
         "a.pak\tRoot\\VantorelPath.exe\t3\tm\na.pak\tRoot\\VantorelPath.exe.config\t3\tm\n",
         {"VantorelPath.exe.config"}},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.tree.EncipheredList("1.0.0.2", "updatelist.data", c.list);
        s.tree.EncipheredList("1.0.0.2", "dellist.data", "");
        s.tree.Package("1.0.0.2", "a.pak",
                       {{"Root\\VantorelPath.exe", "new"}, {"Root\\VantorelPath.exe.config", "cfg"}});
        WriteTextFile(s.launcher.File("VantorelPath.exe"), "old");
        EXPECT_EQ(s.Run(), update_outcome::kHandedOver) << c.name;
        EXPECT_EQ(ReadTextFile(s.launcher.File("VantorelPath.exe")), "new") << c.name;
        EXPECT_EQ(s.HandOffWritten(), !c.movedTo.empty()) << c.name;
        EXPECT_EQ(s.starter.starts.size(), c.movedTo.size()) << c.name;
        HandOffPlan plan;
        std::string error;
        if (c.movedTo.empty() || !ReadHandOffFile(s.L("udo.temp"), &plan, &error)) continue;
        ASSERT_EQ(plan.moves.size(), 1u) << c.name;
        EXPECT_EQ(plan.moves[0].to, s.L(c.movedTo[0])) << c.name;
    }
}

TEST(GameUpdater, LongNamesAreShownWholeOrCutAtACharacter) {
    const std::string longAscii(300, 'n');
    std::string longChinese;
    for (int i = 0; i < 2000; ++i) longChinese += "包";
    const struct {
        std::string package;
        bool whole;
    } cases[] = {{longAscii + ".pak", true}, {longChinese + ".pak", false}};
    for (const auto& c : cases) {
        Scenario s;
        s.tree.EncipheredList("1.0.0.2", "updatelist.data", c.package + "\tRoot\\a.dat\t1\tm\n");
        EXPECT_EQ(s.Run(), update_outcome::kFailed);
        const std::string announced = "Wait for downloading -> " + c.package + "....";
        EXPECT_EQ(s.window.Shown(announced), c.whole);
        EXPECT_TRUE(s.journal.Has("[Info] " + announced));
        for (const std::string& text : s.window.statuses) {
            EXPECT_TRUE(IsValidUtf8(text));
            EXPECT_LE(text.size(), kMaxShownStatusBytes);
        }
    }
}

// Sets the engine's stop request while the first package is being fetched.
class StoppingTransfer : public FolderTransfer {
public:
    using FolderTransfer::FolderTransfer;
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        if (url.find(".pak") != std::string::npos && updater) updater->RequestStop();
        const int result = FolderTransfer::FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
        return stop && stop->load() ? 5 : result;
    }
    CGameUpdater* updater = nullptr;
};

TEST(GameUpdater, StopRequestEndsTheRunBetweenSteps) {
    Scenario s;
    StoppingTransfer transfer(s.server.Path());
    CGameUpdater updater(s.launcher.Path(), &transfer, &s.starter);
    transfer.updater = &updater;
    updater.m_bInstall = 1;
    EXPECT_EQ(updater.RunUpdate(&s.window), update_outcome::kFailed);
    EXPECT_EQ(s.window.Last(), "更新已停止.");
    EXPECT_EQ(transfer.urls.back().find("a.pak") != std::string::npos, true);
    EXPECT_FALSE(s.HandOffWritten());
}

// Holds the fetch of b.pak until a.pak's member is unpacked (the two sides
// overlap) or until the engine halts the fetch (the other side failed), then
// answers as the row asks; a sequential step meets neither.
class GatedTransfer : public FolderTransfer {
public:
    GatedTransfer(Scenario& scenario, bool waitForHalt, bool stopThen, int answer)
        : FolderTransfer(scenario.server.Path()), m_s(scenario), m_waitForHalt(waitForHalt), m_stopThen(stopThen),
          m_answer(answer) {}
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        if (url.find("b.pak") == std::string::npos || gateMet) {
            return FolderTransfer::FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
        }
        const std::string unpacked = m_s.launcher.File("_temp/Root/a.dat");
        gateMet = WaitUntil([&] { return m_waitForHalt ? stop->load() : fs_port::PathExists(unpacked); }, 5000);
        if (m_stopThen && m_s.running) m_s.running->RequestStop();
        if (m_stopThen) (void)WaitUntil([&] { return stop->load(); }, 5000);
        WriteTextFile(fs_port::NativePath(localPath), "part");
        return m_answer;
    }
    bool gateMet = false;

private:
    Scenario& m_s;
    bool m_waitForHalt;
    bool m_stopThen;
    int m_answer;
};

TEST(GameUpdater, OverlappedSidesEndEachOtherAndInstallNothing) {
    const struct {
        const char* name;
        std::function<void(Scenario&)> spoil;
        bool waitForHalt;  // else for a.pak's member to be unpacked
        bool stopThen;
        int answer;
        const char* last;
        bool box;
    } cases[] = {
        {"b.pak fails while a.pak unpacks", [](Scenario&) {}, false, false, 4, "下载更新包失败 错误 : 40", false},
        {"a.pak is damaged while b.pak downloads",
         [](Scenario& s) { WriteTextFile(s.tree.Path("1.0.0.2/a.pak"), "PK garbage"); }, true, false, 5,
         "open package a.pak error!", false},
        {"a.pak's member is damaged while b.pak downloads",
         [](Scenario& s) {
             s.tree.EncipheredList("1.0.0.2", "updatelist.data",
                                   "a.pak\tRoot\\a.dat\t14\t" + Md5Of(kContentX) + "\nb.pak\tRoot\\Data\\x.dat\t14\tm\n");
         },
         true, false, 5, "Undo package Root\\a.dat error!", true},
        {"stop while a.pak unpacks and b.pak downloads", [](Scenario&) {}, false, true, 5, "更新已停止.", false},
        {"signed: stop while a.pak unpacks and b.pak downloads", [](Scenario& s) { s.Sign(); }, false, true, 5,
         "更新已停止.", false},
        {"signed: a.pak changed after signing, found while b.pak downloads",
         [](Scenario& s) {
             s.Sign();
             s.tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", "evil"}});
         },
         true, false, 5, "a.pak 与文件清单不符, 已拒绝更新.", false},
    };
    for (const auto& c : cases) {
        Scenario s;
        c.spoil(s);
        GatedTransfer gated(s, c.waitForHalt, c.stopThen, c.answer);
        s.use = &gated;
        EXPECT_EQ(s.Run(), update_outcome::kFailed) << c.name;
        EXPECT_TRUE(gated.gateMet) << c.name << ": the two sides did not overlap";
        EXPECT_EQ(s.window.Last(), c.last) << c.name;
        EXPECT_EQ(s.window.boxes.size(), c.box ? 1u : 0u) << c.name;
        EXPECT_FALSE(s.HandOffWritten()) << c.name;
        EXPECT_TRUE(s.starter.starts.empty()) << c.name;
        EXPECT_EQ(ReadTextFile(s.launcher.File("old.dat")), "old") << c.name;
        EXPECT_FALSE(fs_port::PathExists(s.L("a.dat"))) << c.name;
        EXPECT_FALSE(fs_port::PathExists(s.L("Data"))) << c.name;
        if (s.keys && !c.stopThen) {
            EXPECT_FALSE(fs_port::PathExists(s.L("_temp\\a.pak"))) << c.name;
        }
    }
}

// A package that fails its check on one host is fetched from the next one the
// transfer offers; with none left, the step fails as it would on one host.
TEST(GameUpdater, PackageThatFailsItsCheckIsFetchedFromTheNextHost) {
    const auto cut = [](ServerTree& tree) {
        const std::string path = tree.Path("1.0.0.2/a.pak");
        WriteTextFile(path, ReadTextFile(path).substr(0, 40));
    };
    const auto alterB = [](ServerTree& tree) { tree.Package("1.0.0.2", "b.pak", {{"Root\\Data\\x.dat", "tampered\n"}}); };
    const auto alterA = [](ServerTree& tree) { tree.Package("1.0.0.2", "a.pak", {{"Root\\a.dat", "evil"}}); };
    const auto none = [](ServerTree&) {};
    const std::string a = "http://127.0.0.1/1.0.0.2/a.pak";
    const std::string b = "http://127.0.0.1/1.0.0.2/b.pak";
    const struct {
        const char* name;
        bool sign;
        std::function<void(ServerTree&)> spoilFirst, spoilSecond;
        const char* last;
        std::vector<std::string> left;
        bool cutB = false;  // b.pak's download is cut short by a.pak's failed check
        bool keptDamagedA = false;  // an earlier run left a whole a.pak, damaged on the disk since
    } cases[] = {
        {"a kept a.pak damaged on the disk is fetched again from its host", false, none, none, "正在安装更新...",
         {}, false, true},
        {"signed: a kept a.pak damaged on the disk is fetched again from its host", true, none, none,
         "正在安装更新...", {}, false, true},
        {"a.pak cut off on host 1", false, cut, none, "正在安装更新...", {a}},
        {"signed: a.pak changed on host 1, found while b.pak downloads", true, alterA, none, "正在安装更新...", {a},
         true},
        {"b.pak's member altered on host 1", false, alterB, none, "正在安装更新...", {b}},
        {"signed: a.pak changed on host 1", true, alterA, none, "正在安装更新...", {a}},
        {"a.pak cut off on both hosts", false, cut, cut, "open package a.pak error!", {a, a}},
        {"signed: a.pak changed on both hosts", true, alterA, alterA, "a.pak 与文件清单不符, 已拒绝更新.", {a, a}},
    };
    for (const auto& c : cases) {
        Scenario s;
        if (c.sign) s.Sign();
        TempDir second;
        test_update::CopyFolder(s.server.Path(), second.Path());
        ServerTree secondTree(second.Path());
        c.spoilFirst(s.tree);
        c.spoilSecond(secondTree);
        test_update::TwoHostTransfer hosts(s.server.Path(), second.Path());
        for (FolderTransfer& host : hosts.hosts) host.lastReportAfter = kProgressReportInterval * 3 / 2;
        hosts.hosts[0].cutOnce = c.cutB ? "b.pak" : "";
        s.use = &hosts;
        if (c.keptDamagedA) {
            CKeptDownloads kept;
            kept.Start(s.launcher.File("_temp/"), "1.0.0.2", "http://127.0.0.1/1.0.0.2/");
            std::string bytes = ReadTextFile(s.server.Path() + "/1.0.0.2/a.pak");
            const std::string sha256 = c.sign ? Sha256Hex(bytes) : "";
            bytes[bytes.size() / 3] ^= 0x5a;
            WriteTextFile(s.launcher.File("_temp/a.pak"), bytes);
            kept.Record({"a.pak", "a.pak", static_cast<int64_t>(bytes.size()), sha256, "", true});
        }
        const bool good = c.left.size() == 1 || c.keptDamagedA;
        EXPECT_EQ(s.Run(), good ? update_outcome::kHandedOver : update_outcome::kFailed) << c.name;
        EXPECT_EQ(s.window.Last(), c.last) << c.name;
        EXPECT_EQ(hosts.left, c.left) << c.name;
        EXPECT_TRUE(hosts.hosts[0].cutOnce.empty()) << c.name;
        bool filled = false;
        EXPECT_EQ(test_update::RowBeyondTotal(s.window.progress, &filled), "") << c.name;
        EXPECT_EQ(filled, good) << c.name << ": " << testing::PrintToString(s.window.progress);
        EXPECT_EQ(s.HandOffWritten(), good) << c.name;
        EXPECT_EQ(ReadTextFile(s.launcher.File("old.dat")), "old") << c.name;
        if (good) {
            EXPECT_EQ(ReadTextFile(s.launcher.File("_temp/Root/a.dat")), kContentA) << c.name;
            EXPECT_EQ(ReadTextFile(s.launcher.File("_temp/Root/Data/x.dat")), kContentX) << c.name;
            const FolderTransfer& refetched = hosts.hosts[c.keptDamagedA ? 0 : 1];
            EXPECT_EQ(std::count(refetched.urls.begin(), refetched.urls.end(), c.keptDamagedA ? a : c.left.back()), 1)
                << c.name;
        }
    }
}

// Tells of half of a.pak, then of nothing for a while, as a stalled link does.
class StallingTransfer : public FolderTransfer {
public:
    using FolderTransfer::FolderTransfer;
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        if (watch.progress && url.find("a.pak") != std::string::npos) {
            watch.progress(0, 2048);
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            watch.progress(1024, 2048);
            std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        }
        return FolderTransfer::FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
    }
};

TEST(GameUpdater, StalledTransferStillShowsItsFigures) {
    Scenario s;
    StallingTransfer transfer(s.server.Path());
    CGameUpdater updater(s.launcher.Path(), &transfer, &s.starter);
    updater.m_bInstall = 1;
    EXPECT_EQ(updater.RunUpdate(&s.window), update_outcome::kHandedOver);
    int stalled = 0;
    for (const auto& shown : s.window.progress) stalled += shown.second.rfind("正在下载 : a.pak  1.0 / ", 0) == 0;
    EXPECT_GE(stalled, 2) << testing::PrintToString(s.window.progress);
    EXPECT_EQ(s.window.progressEnds, 1);
}

TEST(GameUpdater, CutOffInstallationIsHandedBackToTheInstaller) {
    const struct {
        const char* name;
        bool journal;
        int startFails;
        bool resumed;
    } cases[] = {
        {"journal of a cut-off run", true, 0, true},
        {"no journal", false, 0, false},
        {"the installer will not start", true, 5, false},
    };
    for (const auto& c : cases) {
        Scenario s;
        if (c.journal) WriteTextFile(fs_port::NativePath(s.L("udo.journal")), "open");
        s.starter.failWith = c.startFails;
        CGameUpdater updater(s.launcher.Path(), &s.transfer, &s.starter);
        EXPECT_EQ(updater.ResumeInterruptedInstall(), c.resumed) << c.name;
        const std::vector<std::string> expected =
            c.journal ? std::vector<std::string>{s.L("VantorelPath.exe") + "|\"1\"\t\"" + s.L("udo.temp") + "\""}
                      : std::vector<std::string>{};
        EXPECT_EQ(s.starter.starts, expected) << c.name;
        EXPECT_EQ(s.journal.Has("[Error] 安装程序启动失败 ! 错误代码 :5"), c.startFails != 0) << c.name;
    }
}

TEST(GameUpdater, MandatoryVersionThatDidNotInstallIsNotFetchedAgainWithoutEnd) {
    const struct {
        const char* name;
        const char* list;
        int secondOutcome;
    } cases[] = {
        {"mandatory: the second run stops and says so", "1.0.0.1\t0\t0\n1.0.0.2\t1\t0\n",
         update_outcome::kFailed},
        {"optional: the player's new click tries again", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n",
         update_outcome::kHandedOver},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.tree.VersionList(c.list);
        CGameUpdater updater(s.launcher.Path(), &s.transfer, &s.starter);
        updater.m_bInstall = 1;
        ASSERT_EQ(updater.RunUpdate(&s.window), update_outcome::kHandedOver) << c.name;
        // The installer rolled back: version.data still says 1.0.0.1.
        (void)fs_port::RemoveFile(s.L("udo.temp"));
        EXPECT_EQ(updater.RunUpdate(&s.window), c.secondOutcome) << c.name;
        const bool stopped = c.secondOutcome == update_outcome::kFailed;
        EXPECT_EQ(s.starter.starts.size(), stopped ? 1u : 2u) << c.name;
        EXPECT_EQ(s.window.Last() == "版本 1.0.0.2 安装未成功!", stopped) << c.name;
        EXPECT_EQ(s.window.boxes.size(), stopped ? 1u : 0u) << c.name;
        EXPECT_EQ(s.journal.Has("[Error] 版本 1.0.0.2 安装未成功!"), stopped) << c.name;
    }
}

}  // namespace
