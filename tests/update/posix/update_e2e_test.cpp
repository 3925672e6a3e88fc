// The engine and the real installer program stepping an installation from
// 1.0.0.1 to 1.0.0.3 against nginx and an FTP server, and the faults that
// must end with nothing lost.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "app/util/launcher_util.h"
#include "maintenance/verify_version.h"
#include "net/tls_port.h"
#include "package/patch_kit.h"
#include "platform/text_encoding.h"
#include "trust/built_in_keys.h"
#include "trust/file_sha256.h"
#include "update/engine/game_updater.h"
#include "update/engine/headless_update.h"
#include "update/fetch/kept_downloads.h"
#include "update/support/updater_fixture.h"

#define VANTOREL_PEERS_DIR VANTOREL_SOURCE_DIR "/tests/peers"
#include "net/posix/peer_server.h"
#include "update/posix/game_tree.h"

namespace {

using test_net::PeerServer;
using test_update::ServerTree;

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// The plain version.data text of a game tree: the number, then each file's
// name (back-slashes) and digest, in name order, no line feed at the end.
std::string VersionText(int32_t version, const Tree& files) {
    std::map<std::string, std::string> digests;
    for (const auto& file : files) {
        TempDir dir;
        WriteTextFile(dir.File("f"), file.second);
        EXPECT_TRUE(ComputeFileMd5(dir.File("f"), &digests[Backslashed(file.first)]));
    }
    std::string text = std::to_string(version);
    for (const auto& entry : digests) text += "\n" + entry.first + "\n" + entry.second;
    return text;
}

// GBK on disk, as the launcher and the release tool write it.
std::string Enciphered(const std::string& plain) {
    std::string gbk;
    EXPECT_TRUE(Utf8ToGbk(plain, &gbk));
    TempDir dir;
    CFastFile file(ModeWrite);
    EXPECT_TRUE(file.Open(dir.File("v").c_str(), "w+"));
    EXPECT_TRUE(file.Write(gbk.c_str(), &LauncherFileKey(), true));
    file.Close();
    return ReadTextFile(dir.File("v"));
}

// The game files of version 1.0.0.n, without version.data.
Tree GameFiles(int n) {
    Tree tree = {{"Vantorel.exe", "game " + std::to_string(n)}, {"keep.txt", "keep"}};
    if (n == 1) tree["Data/old.dat"] = "old";
    tree["Data/a.dat"] = n == 1 ? "a1" : "a2";
    if (n >= 2) tree["Data/big.dat"] = test_net::PatternBytes(3 << 20, 7);
    if (n >= 3) {
        tree["Data/sub/c.dat"] = "c3";
        tree["数据/文件.dat"] = "zh";
    }
    return tree;
}

// A game folder of version 1.0.0.n as the developers hand it over, with a
// version.data of its own (the release writes a new one). Made once per
// version: the enciphered version.data differs at every write.
const Tree& Version(int n) {
    static std::map<int, Tree> made;
    if (!made.count(n)) {
        Tree tree = GameFiles(n);
        tree["version.data"] = Enciphered(VersionText(1000 + n, tree));
        made[n] = tree;
    }
    return made[n];
}

// Every file below root, except the programs and work files of the update.
void CollectTree(const std::string& root, const std::string& rel, Tree* out) {
    std::vector<fs_port::DirEntry> entries;
    ASSERT_TRUE(fs_port::ListDirectory(root + (rel.empty() ? "" : "/" + rel), &entries));
    for (const auto& entry : entries) {
        const std::string child = rel.empty() ? entry.name : rel + "/" + entry.name;
        if (rel.empty() && (entry.name == "VantorelPath.exe" || entry.name == "VantorelLauncher" ||
                            entry.name == "Log" || entry.name == "_temp" || entry.name == "udo.temp" ||
                            entry.name == "udo.journal" || entry.name == "_backup" ||
                            entry.name == "trust.state")) {
            continue;
        }
        if (entry.isDirectory) {
            CollectTree(root, child, out);
        } else {
            (*out)[child] = ReadTextFile(root + "/" + child);
        }
    }
}

Tree InstalledTree(const std::string& root) {
    Tree tree;
    CollectTree(root, "", &tree);
    return tree;
}

// What differs between the installation below root and version 1.0.0.n
// as released: the game files byte for byte, and version.data by its
// deciphered text (its enciphered bytes differ at every write).
std::string DifferenceFromRelease(const std::string& root, int n) {
    Tree installed = InstalledTree(root);
    installed.erase("version.data");
    installed.erase("verify.cache");  // the launcher's own, written by its checks
    std::string out = Difference(installed, GameFiles(n));
    std::string gbk, content;
    bool opened = false;
    if (!ReadVersionFile(root, LauncherFileKey(), &gbk, &opened) || !GbkToUtf8(gbk, &content)) {
        out += "unreadable version.data\n";
    } else if (content != VersionText(1000 + n, GameFiles(n))) {
        out += "version.data says:\n" + content + "\n";
    }
    return out;
}

struct Installation {
    TempDir launcher;
    TempDir site;
    TempDir games;  // the game folders the versions are released from
    ServerTree server{site.Path()};
    std::vector<std::string> mirrors;  // hosts after the server of Update

    Installation() {
        WriteTree(launcher.Path(), Version(1));
        for (int n = 1; n <= 3; ++n) WriteTree(games.File(std::to_string(n)), Version(n));
        // The installed version must be listed, or the launcher goes straight to the newest.
        server.VersionList("1.0.0.1\t0\t0\n");
        EXPECT_EQ(Release(1, 2), 0);
        EXPECT_EQ(Release(2, 3), 0);
        EXPECT_EQ(ReadTextFile(server.Path("versionlist.data")), "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n");
        const std::string installer = launcher.File("VantorelPath.exe");
        WriteTextFile(installer, ReadTextFile(VANTOREL_BINARY_DIR "/bin/VantorelPath"));
        ::chmod(installer.c_str(), 0755);
        // The installer starts the launcher with "/update" when it is done.
        WriteTextFile(launcher.File("VantorelLauncher"), "#!/bin/sh\nexit 0\n");
        ::chmod(launcher.File("VantorelLauncher").c_str(), 0755);
    }

    // Releases version 1.0.0.to made from the game folder of 1.0.0.from with the real tool.
    int Release(int from, int to) const {
        return Patchkit("release --from '" + games.File(std::to_string(from)) + "' --to '" +
                        games.File(std::to_string(to)) + "' --version 1.0.0." + std::to_string(to) +
                        " --server-root '" + site.Path() + "'");
    }

    int Update(const std::string& serverUrl, bool ftp, std::string* printed,
               IUpdateTransfer* transfer = nullptr, const test_update::ReleaseSigner* keysOf = nullptr,
               bool once = false) {
        TempDir outDir;
        std::FILE* out = std::fopen(outDir.File("out").c_str(), "w");
        HeadlessUpdateOptions options;
        options.server = serverUrl;
        options.folder = launcher.Path();
        options.ftp = ftp;
        options.once = once;
        options.mirrors = mirrors;
        if (keysOf) {
            options.checkReleases = true;
            options.trustKeys = keysOf->Keys();
        }
        const int rc = repair ? RunHeadlessRepair(options, out, transfer) : RunHeadlessUpdate(options, out, transfer);
        std::fclose(out);
        *printed = ReadTextFile(outDir.File("out"));
        return rc;
    }
    bool repair = false;  // Update runs a repair instead
};

// The printed status lines that mark where a run is, in their order.
std::vector<std::string> Milestones(const std::string& printed) {
    const std::set<std::string> marks = {"正在请求更新...", "正在安装更新...", "已经是最新版本."};
    std::vector<std::string> out;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        if (marks.count(line) != 0 || line.rfind("正在更新至 : ", 0) == 0) out.push_back(line);
    }
    return out;
}

std::string LastLine(const std::string& printed) {
    std::string text = printed;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// The serial and the expiry of the signed trees of these tests.
constexpr uint64_t kSerial = 1000;
int64_t InAnHour() { return static_cast<int64_t>(std::time(nullptr)) + 3600; }

void SignTree(const Installation& inst, const test_update::ReleaseSigner& signer, uint64_t serial = kSerial) {
    for (const char* version : {"1.0.0.2", "1.0.0.3"}) signer.SignVersion(inst.site.Path(), version, serial);
    signer.SignList(inst.site.Path(), serial, InAnHour());
}

TEST(UpdateEndToEnd, StepsToTheNewestOverHttpAndFtp) {
    // An unsigned tree of the old layout still updates an engine without keys.
    const struct {
        bool ftp;
        bool keys;
    } cases[] = {{false, false}, {false, true}, {true, true}};
    for (const auto& c : cases) {
        const bool ftp = c.ftp;
        Installation inst;
        test_update::ReleaseSigner signer;
        if (c.keys) SignTree(inst, signer);
        PeerServer peer(ftp ? "ftp" : "nginx", inst.site.Path());
        ASSERT_NE(peer.Port(), 0);
        const std::string server = (ftp ? "ftp://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(peer.Port());
        std::string printed;
        EXPECT_EQ(inst.Update(server, ftp, &printed, nullptr, c.keys ? &signer : nullptr), 0) << printed;
        const std::vector<std::string> steps = {"正在请求更新...", "正在更新至 : 1.0.0.2", "正在安装更新...",
                                                "正在请求更新...", "正在更新至 : 1.0.0.3", "正在安装更新...",
                                                "正在请求更新...", "已经是最新版本."};
        EXPECT_EQ(Milestones(printed), steps) << printed;
        // The count of what the steps cost ends the output.
        EXPECT_EQ(LastLine(printed).rfind("downloaded ", 0), 0u) << printed;
        EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "") << (ftp ? "ftp" : "http");
        EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0) << (ftp ? "ftp" : "http");
        EXPECT_FALSE(fs_port::PathExists(inst.launcher.File("udo.temp")));
    }
}

// Leaves half of each package in place before the client starts, as a cut
// connection does; the client must resume it with a range.
class HalfDoneTransfer : public IUpdateTransfer {
public:
    explicit HalfDoneTransfer(std::string site) : m_site(std::move(site)) {}
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        const size_t slash = url.rfind('/');
        if (url.find(".pak") != std::string::npos) {
            const size_t version = url.rfind('/', slash - 1);
            const std::string whole = ReadTextFile(m_site + url.substr(version, std::string::npos));
            WriteTextFile(fs_port::NativePath(localPath), whole.substr(0, whole.size() / 2));
            ++resumed;
        }
        return NetworkTransfer().FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
    }
    int FetchToMemory(int32_t mode, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>* stop) override {
        return NetworkTransfer().FetchToMemory(mode, url, maxBytes, contentOut, stop);
    }
    int resumed = 0;

private:
    std::string m_site;
};

TEST(UpdateEndToEnd, ResumesAPackageCutInTheMiddle) {
    Installation inst;
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    HalfDoneTransfer transfer(inst.site.Path());
    std::string printed;
    EXPECT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed, &transfer), 0)
        << printed;
    EXPECT_GT(transfer.resumed, 0);
    EXPECT_NE(peer.ReadStateFile("access.log").find(" 206 "), std::string::npos);
    EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "");
    EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0);
    // A byte changed under the same size and time: the check that trusts
    // the cache cannot see it, the full check does.
    const std::string a = inst.launcher.File("Data/a.dat");
    const auto time = std::filesystem::last_write_time(a);
    std::string changed = ReadTextFile(a);
    changed.back() ^= 1;
    WriteTextFile(a, changed);
    std::filesystem::last_write_time(a, time);
    EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0);
    EXPECT_EQ(Patchkit("verify --full '" + inst.launcher.Path() + "'"), 1);
    // The check sees a file that no longer matches what was released.
    WriteTextFile(inst.launcher.File("Data/a.dat"), "a9");
    EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 1);
}

// The first version's folder, released late: the index of the later ones
// then finds every file a source.
void ReleaseFirstVersionAndIndex(const Installation& inst) {
    TempDir empty;
    ASSERT_EQ(Patchkit("release --from '" + empty.Path() + "' --to '" + inst.games.File("1") +
                       "' --version 1.0.0.1 --server-root '" + inst.site.Path() + "'"),
              0);
    ASSERT_EQ(Patchkit("index --server-root '" + inst.site.Path() + "'"), 0);
}

// The clients without their spans: every span is answered "no ranges".
class WholeFilesTransfer : public IUpdateTransfer {
public:
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        return NetworkTransfer().FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
    }
    int FetchToMemory(int32_t mode, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>* stop) override {
        return NetworkTransfer().FetchToMemory(mode, url, maxBytes, contentOut, stop);
    }
};

// The clients, but the second span fails once, as a lost link does.
class SecondSpanFailsTransfer : public WholeFilesTransfer {
public:
    int FetchSpanToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t first,
                        int64_t length, const std::atomic<bool>* stop, bool* rangesIgnoredOut,
                        const FetchWatch& watch) override {
        if (++spans == 2) return 5;
        return NetworkTransfer().FetchSpanToFile(mode, url, localPath, first, length, stop, rangesIgnoredOut, watch);
    }
    int spans = 0;
};

// Two versions behind with an index on the server: one step to the newest,
// one installer run, each changed file alone from the folder that holds it
// (or from its whole package when the server gives no ranges).
TEST(UpdateEndToEnd, CatchesUpToTheNewestInOneStep) {
    const struct {
        const char* name;
        bool ftp;
        bool keys;
        bool noRanges = false;
        bool cutOnce = false;  // a first run fails after a member; the next uses it as kept
    } cases[] = {{"http, unsigned", false, false},
                 {"http, signed", false, true},
                 {"ftp, signed", true, true},
                 {"signed, a server without ranges", false, true, true},
                 {"unsigned, cut after a member", false, false, false, true}};
    for (const auto& c : cases) {
        Installation inst;
        ReleaseFirstVersionAndIndex(inst);
        test_update::ReleaseSigner signer;
        if (c.keys) SignTree(inst, signer);
        PeerServer peer(c.ftp ? "ftp" : "nginx", inst.site.Path());
        ASSERT_NE(peer.Port(), 0);
        const std::string server = (c.ftp ? "ftp://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(peer.Port());
        std::string printed;
        SecondSpanFailsTransfer cut;
        if (c.cutOnce) {
            EXPECT_EQ(inst.Update(server, c.ftp, &printed, &cut), 1) << c.name << printed;
            ASSERT_EQ(cut.spans, 2) << c.name << printed;
        }
        WholeFilesTransfer wholeFiles;
        EXPECT_EQ(inst.Update(server, c.ftp, &printed, c.noRanges ? &wholeFiles : nullptr, c.keys ? &signer : nullptr),
                  0)
            << c.name << printed;
        if (c.cutOnce) {
            const long long reused = std::atoll(printed.c_str() + printed.rfind("reused ") + 7);
            EXPECT_GT(reused, 0) << c.name << printed;
        }
        const std::vector<std::string> steps = {"正在请求更新...", "正在更新至 : 1.0.0.3", "正在安装更新...",
                                                "正在请求更新...", "已经是最新版本."};
        EXPECT_EQ(Milestones(printed), steps) << c.name << "\n" << printed;
        EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "") << c.name;
        EXPECT_FALSE(fs_port::PathExists(inst.launcher.File("Data/old.dat"))) << c.name;
        EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0) << c.name;
    }
}

// The catch-up passes over every version between: a mandatory one after an
// optional next version makes the one step mandatory, unasked.
TEST(UpdateEndToEnd, AMandatoryVersionBetweenMakesTheCatchUpMandatory) {
    Installation inst;
    ReleaseFirstVersionAndIndex(inst);
    inst.server.VersionList("1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n1.0.0.3\t1\t0\n");
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    HeadlessUpdateOptions options;
    options.server = "http://127.0.0.1:" + std::to_string(peer.Port());
    test_update::RecordingWindow window;
    window.installed = 1001;
    std::string problem;
    ASSERT_TRUE(HeadlessSettings(options, &window.settings, &problem)) << problem;
    test_update::RecordingStarter starter;
    CGameUpdater updater(inst.launcher.Path(), nullptr, &starter);
    EXPECT_EQ(updater.RunUpdate(&window), update_outcome::kHandedOver);
    EXPECT_EQ(updater.m_target.nVersion, 1003);
    EXPECT_EQ(window.startButton, std::vector<bool>{false});
    EXPECT_TRUE(window.Shown("正在更新至 : 1.0.0.3"));
}

// A repair fetches the damaged files' members alone, from whichever version
// folder holds them, and leaves the rest as it is. An update without a
// readable version.data takes the installed version from the files and
// brings them to the newest the same way.
TEST(UpdateEndToEnd, RepairFetchesTheDamagedFilesAloneFromTheFoldersThatHoldThem) {
    enum class VersionData { Kept, Deleted, Garbled };
    const struct {
        const char* name;
        bool keys;
        bool withoutIndex;
        bool repair;
        int installedFirst;  // the version installed before the damage
        VersionData versionData;
        int rc;
        const char* printed;
    } cases[] = {
        {"a changed and a missing file, unsigned", false, false, true, 3, VersionData::Kept, 0,
         "repaired 2 of 2 files"},
        {"a changed and a missing file, signed", true, false, true, 3, VersionData::Kept, 0, "repaired 2 of 2 files"},
        {"a server without the index repairs nothing", false, true, true, 3, VersionData::Kept, 1,
         "服务器没有版本 1.0.0.3 的文件索引, 无法修复"},
        {"two versions behind: the catch-up takes them along", true, false, true, 1, VersionData::Kept, 0,
         "repaired 2 of 2 files"},
        {"version.data lost at the newest, signed", true, false, false, 3, VersionData::Deleted, 0,
         "根据游戏文件确定当前版本为 1.0.0.3"},
        {"version.data garbled two versions behind", false, false, false, 1, VersionData::Garbled, 0,
         "根据游戏文件确定当前版本为 1.0.0.1"},
    };
    for (const auto& c : cases) {
        Installation inst;
        ReleaseFirstVersionAndIndex(inst);
        test_update::ReleaseSigner signer;
        if (c.keys) SignTree(inst, signer);
        PeerServer peer("nginx", inst.site.Path());
        ASSERT_NE(peer.Port(), 0);
        const std::string server = "http://127.0.0.1:" + std::to_string(peer.Port());
        std::string printed;
        if (c.installedFirst == 3) {
            ASSERT_EQ(inst.Update(server, false, &printed, nullptr, c.keys ? &signer : nullptr), 0) << printed;
        }
        // a.dat comes from 1.0.0.2's package, the game program from 1.0.0.3's.
        WriteTextFile(inst.launcher.File("Data/a.dat"), "a9");
        fs_port::RemoveFile(inst.launcher.File("Vantorel.exe"));
        if (c.versionData == VersionData::Deleted) fs_port::RemoveFile(inst.launcher.File("version.data"));
        if (c.versionData == VersionData::Garbled) WriteTextFile(inst.launcher.File("version.data"), "\x01\x02");
        if (c.withoutIndex) fs_port::RemoveFile(inst.server.Path("1.0.0.3/state.data"));
        inst.repair = c.repair;
        EXPECT_EQ(inst.Update(server, false, &printed, nullptr, c.keys ? &signer : nullptr), c.rc) << c.name << printed;
        EXPECT_NE(printed.find(c.printed), std::string::npos) << c.name << "\n" << printed;
        if (c.rc != 0) continue;
        EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "") << c.name;
        EXPECT_FALSE(fs_port::PathExists(inst.launcher.File("Data/old.dat"))) << c.name;
        if (c.installedFirst != 3) continue;
        // Small members, not the packages of megabytes that hold them.
        const long long downloaded = std::atoll(printed.c_str() + printed.rfind("downloaded ") + 11);
        EXPECT_LT(downloaded, 64 * 1024) << c.name << "\n" << printed;
    }
}

// Fetches through the clients, then tells of each package's bytes once more
// over a second and a half, as a slow link would.
class SlowReportingTransfer : public HalfDoneTransfer {
public:
    using HalfDoneTransfer::HalfDoneTransfer;
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        const ProgressFn counted = [&](int64_t soFar, int64_t total) {
            ++clientReports;
            watch.progress(soFar, total);
        };
        FetchWatch passed(watch.progress ? counted : ProgressFn());
        passed.wrote = watch.wrote;
        const int rc = NetworkTransfer().FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, passed);
        const int64_t size = fs_port::FileSize(localPath);
        for (int i = 0; rc == 0 && watch.progress && url.find(".pak") != std::string::npos && i <= 15; ++i) {
            watch.progress(size * i / 15, size);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return rc;
    }
    int clientReports = 0;
};

TEST(UpdateEndToEnd, PipedOutputShowsProgressAtMostOnceASecond) {
    Installation inst;
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    SlowReportingTransfer transfer(inst.site.Path());
    std::string printed;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed, &transfer,
                          nullptr, true), 0) << printed;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::istringstream lines(printed);
    int progressLines = 0;
    bool downloading = false;  // between a package's waiting text and the end of the downloads
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Wait for downloading -> ", 0) == 0) downloading = true;
        if (line == "下载完成") downloading = false;
        if (line.rfind("正在下载 : ", 0) != 0) continue;
        ++progressLines;
        EXPECT_TRUE(downloading) << line;
        EXPECT_NE(line.find(" / "), std::string::npos) << line;
        EXPECT_NE(line.find("  剩余 "), std::string::npos) << line;
    }
    EXPECT_GT(transfer.clientReports, 0);
    EXPECT_GE(progressLines, 2) << printed;
    EXPECT_LE(progressLines, seconds + 1) << printed;
}

TEST(UpdateEndToEnd, FaultsLoseNothing) {
    const struct {
        const char* name;
        std::function<void(Installation&)> spoil;
        const char* lastLine;
    } cases[] = {
        {"corrupt package",
         [](Installation& i) {
             std::string bytes = ReadTextFile(i.server.Path("1.0.0.2/data1.pak"));
             bytes[bytes.size() / 3] ^= 0x5A;
             WriteTextFile(i.server.Path("1.0.0.2/data1.pak"), bytes);
         },
         "Undo package Vantorel\\Data\\big.dat error!"},
        {"package answered 404", [](Installation& i) { fs_port::RemoveFile(i.server.Path("1.0.0.2/data1.pak")); },
         "下载更新包失败 错误 : 50"},
        {"list names ..\\ paths",
         [](Installation& i) {
             i.server.EncipheredList("1.0.0.2", "updatelist.data", "base.pak\tRoot\\..\\..\\evil.dll\t1\tm\n");
         },
         "更新列表含有不安全的路径 : Root\\..\\..\\evil.dll"},
        {"file locked during the install",
         [](Installation& i) {
             // A place that cannot be replaced: the install fails late and is rolled back.
             WriteTextFile(i.launcher.File("Data/sub"), "a file where a folder must go");
             i.server.VersionList("1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n");
             EXPECT_EQ(i.Release(1, 3), 0);
         },
         "installer did not install"},
    };
    for (const auto& c : cases) {
        Installation inst;
        PeerServer peer("nginx", inst.site.Path());
        ASSERT_NE(peer.Port(), 0);
        c.spoil(inst);
        const Tree before = InstalledTree(inst.launcher.Path());
        std::string printed;
        EXPECT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed), 1) << c.name;
        if (c.lastLine) {
            EXPECT_NE(printed.find(c.lastLine), std::string::npos) << c.name << "\n" << printed;
        }
        Tree after = InstalledTree(inst.launcher.Path());
        after.erase("verify.cache");  // what the update handed over, for the launcher's next check
        EXPECT_EQ(Difference(after, before), "") << c.name << "\n" << printed;
    }
}

std::string FlipByte(const std::string& path) {
    std::string bytes = ReadTextFile(path);
    bytes[bytes.size() / 2] ^= 0x01;
    WriteTextFile(path, bytes);
    return path;
}

void Copy(const std::string& from, const std::string& to) { WriteTextFile(to, ReadTextFile(from)); }

// What the work folder holds beyond the kept downloads' state and the files
// it names, and any file it counts as complete that is not as signed.
std::string UntrustedLeftovers(const std::string& work) {
    CKeptDownloads state;
    std::set<std::string> named{kKeptDownloadsFileName};
    std::string out;
    if (state.Open(work)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(work)) {
            if (!entry.is_regular_file()) continue;
            std::string rel = entry.path().lexically_relative(work).string();
            std::replace(rel.begin(), rel.end(), '/', '\\');
            KeptFile file;
            if (rel == kKeptDownloadsFileName) continue;
            if (!state.Find(entry.path().filename().string(), &file) || file.localPath != rel) {
                out += "unnamed " + rel + "\n";
            } else if (file.complete && Sha256Hex(ReadTextFile(entry.path().string())) != file.sha256) {
                out += "complete but not as signed: " + rel + "\n";
            }
        }
    } else if (fs_port::PathExists(work) && !std::filesystem::is_empty(work)) {
        out += "files without a state\n";
    }
    return out;
}

// One row per threat to a signed release: each is refused with its own text,
// the installation stays as it was byte for byte (the installer program
// too), and nothing that failed its check counts as downloaded.
TEST(UpdateEndToEnd, SignedReleaseRefusesEveryAttack) {
    using Spoil = std::function<void(Installation&, const test_update::ReleaseSigner&, const std::string& url)>;
    const struct {
        const char* name;
        Spoil spoil;
        const char* shown;
    } cases[] = {
        {"unsigned list", [](Installation& i, auto&, auto&) { fs_port::RemoveFile(i.server.Path("versionlist.data.minisig")); },
         "服务器的版本列表没有运营商的签名, 已拒绝更新."},
        {"list signed by another key",
         [](Installation& i, auto&, auto&) { test_update::ReleaseSigner().SignList(i.site.Path(), kSerial + 1, InAnHour()); },
         "服务器的版本列表不是运营商签名的, 已拒绝更新."},
        {"flipped byte in the list", [](Installation& i, auto&, auto&) { FlipByte(i.server.Path("versionlist.data")); },
         "服务器的版本列表与签名不符, 已拒绝更新."},
        {"flipped byte in the manifest",
         [](Installation& i, auto&, auto&) { FlipByte(i.server.Path("1.0.0.2/release.manifest")); },
         "版本 1.0.0.2 的文件清单与签名不符, 已拒绝更新."},
        {"flipped byte in a package", [](Installation& i, auto&, auto&) { FlipByte(i.server.Path("1.0.0.2/data1.pak")); },
         "data1.pak 与文件清单不符, 已拒绝更新."},
        {"rollback to an older list after a newer one",
         [](Installation& i, auto& signer, auto& url) {
             TempDir old;
             Copy(i.server.Path("versionlist.data.minisig"), old.File("sig"));
             signer.SignList(i.site.Path(), kSerial + 1, InAnHour());
             std::string printed;
             EXPECT_EQ(i.Update(url, false, &printed, nullptr, &signer, true), 0) << printed;
             Copy(old.File("sig"), i.server.Path("versionlist.data.minisig"));
         },
         "服务器的版本列表比已接受过的旧, 已拒绝更新."},
        {"list past its expiry",
         [](Installation& i, auto& signer, auto&) { signer.SignList(i.site.Path(), kSerial, std::time(nullptr) - 60); },
         "服务器的版本列表已过期, 已拒绝更新."},
        {"manifest of 1.0.0.3 served for 1.0.0.2",
         [](Installation& i, auto&, auto&) {
             for (const char* name : {"release.manifest", "release.manifest.minisig"}) {
                 Copy(i.server.Path(std::string("1.0.0.3/") + name), i.server.Path(std::string("1.0.0.2/") + name));
             }
         },
         "文件清单不属于版本 1.0.0.2, 已拒绝更新."},
        {"package longer than the manifest says",
         [](Installation& i, auto&, auto&) {
             WriteTextFile(i.server.Path("1.0.0.2/data1.pak"),
                           ReadTextFile(i.server.Path("1.0.0.2/data1.pak")) + std::string(1 << 20, 'x'));
         },
         "下载更新包失败 错误 : 50"},
        {"installer program swapped in a package",
         [](Installation& i, auto&, auto&) {
             i.server.Package("1.0.0.2", "data1.pak", {{"Vantorel\\VantorelPath.exe", "#!/bin/sh\necho owned\n"}});
         },
         "data1.pak 与文件清单不符, 已拒绝更新."},
    };
    for (const auto& c : cases) {
        Installation inst;
        test_update::ReleaseSigner signer;
        SignTree(inst, signer);
        PeerServer peer("nginx", inst.site.Path());
        ASSERT_NE(peer.Port(), 0);
        const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port());
        c.spoil(inst, signer, url);
        const Tree before = InstalledTree(inst.launcher.Path());
        const std::string installer = ReadTextFile(inst.launcher.File("VantorelPath.exe"));
        std::string printed;
        const test_update::JournalLines journal;
        EXPECT_EQ(inst.Update(url, false, &printed, nullptr, &signer), 1) << c.name;
        EXPECT_EQ(LastLine(printed), c.shown) << c.name << "\n" << printed;
        EXPECT_EQ(Difference(InstalledTree(inst.launcher.Path()), before), "") << c.name;
        EXPECT_EQ(ReadTextFile(inst.launcher.File("VantorelPath.exe")), installer) << c.name;
        EXPECT_EQ(UntrustedLeftovers(inst.launcher.File("_temp/")), "") << c.name;
        const auto entries = journal.Entries();
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const std::string& entry) {
            return entry.rfind(std::string("[Error] ") + c.shown, 0) == 0;
        })) << c.name;
    }
}

// A file of zeros that takes no room until written, with a few bytes past
// the 4 GiB mark that a wrong offset would put elsewhere.
constexpr int64_t kHugeBytes = int64_t{5} << 30;
constexpr int64_t kMarkAt = (int64_t{9} << 30) / 2;

void MakeHugeFile(const std::string& path, const std::string& mark) {
    (void)CreateFolderChain(path);
    WriteTextFile(path, "");
    std::filesystem::resize_file(path, kHugeBytes);
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::fseeko(file, kMarkAt, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(mark.data(), 1, mark.size(), file), mark.size());
    std::fclose(file);
}

std::string BytesAt(const std::string& path, int64_t offset, size_t count) {
    std::string out(count, '\0');
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "";
    const bool read = ::fseeko(file, offset, SEEK_SET) == 0 && std::fread(&out[0], 1, count, file) == count;
    std::fclose(file);
    return read ? out : "";
}

// A step that replaces a small file with 5 GiB of zeros and a few bytes past
// 4 GiB: the release packs it as a ZIP64 member, the installer puts it in
// place, and the full check of the installation matches the released digest.
TEST(UpdateEndToEnd, StepsAFileOverFourGiB) {
    Installation inst;
    const std::string huge = "Data/huge.dat";
    WriteTree(inst.games.File("4"), Version(3));
    MakeHugeFile(inst.games.File("4/" + huge), "version 4");
    for (const std::string& old : {inst.games.File("3/" + huge), inst.launcher.File(huge)}) WriteTextFile(old, "small");
    WriteTree(inst.launcher.Path(), Version(3));
    inst.server.VersionList("1.0.0.3\t0\t0\n");
    ASSERT_EQ(inst.Release(3, 4), 0);
    RemoveTree(inst.games.Path());
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    std::string printed;
    EXPECT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed), 0) << printed;
    EXPECT_EQ(Milestones(printed), (std::vector<std::string>{"正在请求更新...", "正在更新至 : 1.0.0.4",
                                                             "正在安装更新...", "正在请求更新...",
                                                             "已经是最新版本."}))
        << printed;
    EXPECT_EQ(fs_port::FileSize(inst.launcher.File(huge)), kHugeBytes);
    EXPECT_EQ(BytesAt(inst.launcher.File(huge), kMarkAt - 1, 10), std::string("\0version 4", 10));
    // Every byte is read: a size cut to 32 bits would leave a different digest.
    EXPECT_EQ(Patchkit("verify --full '" + inst.launcher.Path() + "'"), 0);
}

// Replaces one delta of a delta package on the server with a damaged copy.
void DamageDelta(const ServerTree& server, const std::string& package, const std::string& member) {
    CBundle bundle;
    ASSERT_TRUE(bundle.Open(server.Path(package).c_str(), nullptr));
    TempDir dir;
    std::map<std::string, std::string> members;
    for (const BundleMember& entry : bundle.Members()) {
        ASSERT_TRUE(bundle.Extract(entry.name.c_str(), dir.File("m").c_str()));
        members[entry.name] = ReadTextFile(dir.File("m"));
    }
    std::string& damaged = members.at(member);
    damaged[damaged.size() / 2] ^= 0x01;
    server.Package(package.substr(0, package.find('/')), package.substr(package.find('/') + 1), members);
}

// Four level files change a little; the release makes deltas of them, the
// step downloads those, and the one whose delta is damaged comes from its
// full package in the same run. Their zeros make them fill two packages, the
// last one alone.
TEST(UpdateEndToEnd, MostFilesComeByDeltaAndOneFallsBack) {
    Installation inst;
    WriteTree(inst.games.File("4"), Version(3));
    for (int i = 0; i < 4; ++i) {
        const std::string name = "Data/level" + std::to_string(i) + ".dat";
        const std::string old = test_net::PatternBytes(1 << 20, 20 + i) + std::string(16 << 20, '\0');
        std::string changed = old.substr(0, 300000) + "inserted block" + old.substr(310000);
        changed.replace(700000, 3000, std::string(3000, 'n'));
        WriteTextFile(inst.games.File("3/" + name), old);
        WriteTextFile(inst.launcher.File(name), old);
        WriteTextFile(inst.games.File("4/" + name), changed);
    }
    WriteTree(inst.launcher.Path(), Version(3));
    ASSERT_TRUE(fs_port::RemoveFile(inst.launcher.File("Data/old.dat")));  // as 1.0.0.2 deleted it
    inst.server.VersionList("1.0.0.3\t0\t0\n");
    ASSERT_EQ(inst.Release(3, 4), 0);
    DamageDelta(inst.server, "1.0.0.4/delta1.pak", "Vantorel/Data/level3.dat");
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    std::string printed;
    const test_update::JournalLines journal;
    EXPECT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed, nullptr, nullptr, true),
              0)
        << printed;
    Tree installed = InstalledTree(inst.launcher.Path()), released = InstalledTree(inst.games.File("4"));
    for (const char* own : {"version.data", "verify.cache"}) installed.erase(own), released.erase(own);
    EXPECT_EQ(Difference(installed, released), "");
    EXPECT_EQ(Patchkit("verify --full '" + inst.launcher.Path() + "'"), 0);
    long long downloaded = 0, full = 0;
    ASSERT_EQ(std::sscanf(LastLine(printed).c_str(), "downloaded %lld bytes (full update %lld bytes)", &downloaded,
                          &full),
              2)
        << printed;
    // Four small deltas and the package of one level file, of four.
    EXPECT_LT(downloaded, full / 2) << printed;
    EXPECT_GT(full, 4 << 20) << printed;
    EXPECT_TRUE(journal.HasInOrder({"[Info] 增量更新 : 4 个文件, 1 个补丁包"})) << printed;
    const auto entries = journal.Entries();
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [](const std::string& e) { return e.find("增量更新失败, 改用完整更新包") != std::string::npos; }),
              1);
}

TEST(UpdateEndToEnd, MissingDeleteListKeepsOldFiles) {
    Installation inst;
    fs_port::RemoveFile(inst.server.Path("1.0.0.2/dellist.data"));
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    std::string printed;
    EXPECT_EQ(inst.Update("http://127.0.0.1:" + std::to_string(peer.Port()), false, &printed), 0) << printed;
    // Everything of 1.0.0.3 is in place, and the file 1.0.0.2 would have deleted stays.
    EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "extra Data/old.dat\n");
    EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0);
}

}  // namespace

namespace {

// A port on which nothing listens.
int ClosedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(s);
    return bound ? ntohs(address.sin_port) : 0;
}

// The first host is down (over https: up, with an expired certificate); the
// mirror serves the whole step and the log names it for every file. The
// first host is tried once, then left with its reason.
TEST(UpdateEndToEnd, AMirrorServesWhenTheFirstHostIsDown) {
    TempDir certs;
    ASSERT_TRUE(test_net::MakeTestCertificates(certs.Path()));
    SetTestTrustFile(certs.File("ca.pem"));
    for (const std::string scheme : {"http", "ftp", "https"}) {
        const bool ftp = scheme == "ftp", https = scheme == "https";
        Installation inst;
        PeerServer peer(ftp ? "ftp" : "nginx", inst.site.Path(), "", https ? certs.Path() : "");
        ASSERT_NE(peer.Port(), 0);
        const std::string dead = https ? "localhost:" + peer.ReadStateFile("tls-port-expired")
                                       : "127.0.0.1:" + std::to_string(ClosedPort());
        const std::string mirror = https ? "localhost:" + peer.ReadStateFile("tls-port-good")
                                         : "127.0.0.1:" + std::to_string(peer.Port());
        inst.mirrors = {(https ? "https://" : "") + mirror};
        test_update::JournalLines journal;
        std::string printed;
        EXPECT_EQ(inst.Update(scheme + "://" + dead, ftp, &printed, nullptr, nullptr, true), 0) << printed;
        EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 2), "");
        const auto entries = journal.Entries();
        const auto count = [&](const std::string& start) {
            return std::count_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return e.compare(0, start.size(), start) == 0; });
        };
        const std::string why = https ? "无法建立安全连接 : " + dead + " : the certificate has expired" : "";
        EXPECT_EQ(count("[Notice] 不再使用更新服务器 " + dead + " : " + why), 1) << scheme;
        EXPECT_GE(count("[Info] 下载自 " + mirror + " : "), 4) << scheme << ": version list, lists and packages";
        EXPECT_EQ(count("[Info] 下载自 " + dead), 0) << scheme;
    }
    SetTestTrustFile("");
}

TEST(UpdateEndToEnd, UpdateVerbTakesOneStepWithOnce) {
    Installation inst;
    // The verb checks releases against the keys built in.
    ASSERT_EQ(Patchkit("sign --server-root '" + inst.site.Path() + "' --secret-key '" VANTOREL_TRUST_SECRET_KEY "'"), 0);
    PeerServer peer("nginx", inst.site.Path());
    ASSERT_NE(peer.Port(), 0);
    TempDir outDir;
    std::FILE* out = std::fopen(outDir.File("out").c_str(), "w");
    std::FILE* err = std::fopen(outDir.File("err").c_str(), "w");
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/";
    TempDir configs;
    const std::string lines = "a=1\nb=2\nc=3\nd=4\ne=5\nf=6\nUpdateIP=";
    WriteTextFile(configs.File("good.ini"), lines + "127.0.0.1:" + std::to_string(peer.Port()) +
                                                "\nUpdatePort=\nMaxDownloadKiBps=100000\n");
    WriteTextFile(configs.File("wrong.ini"), lines + "127.0.0.1:1\nUpdatePort=\nMirrors=bad host\n");
    const struct {
        std::vector<std::string> args;
        int rc;
    } cases[] = {
        // A folder relative to the current one, as an operator types it.
        {{"--server", url, "--folder", std::filesystem::relative(inst.launcher.Path()).string() + "/", "--once"}, 0},
        // The settings as the launcher reads them, then overridden by options.
        {{"--config", configs.File("good.ini"), "--folder", inst.launcher.Path(), "--once"}, 0},
        {{"--config", configs.File("wrong.ini"), "--server", url, "--folder", inst.launcher.Path()}, 0},
        {{"--config", configs.File("none.ini"), "--folder", inst.launcher.Path()}, 1},
        {{"--server", url, "--folder", inst.launcher.Path(), "--limit", "fast"}, 1},
        {{"--server", url, "--folder", inst.launcher.Path(), "--mirror", "two words"}, 1},
        {{"--folder", inst.launcher.Path(), "--mirror"}, 2},
        {{"--server", url}, 2},
        {{"--server", url, "--folder", inst.launcher.Path(), "--bogus"}, 2},
        {{"--server", "http://", "--folder", inst.launcher.Path()}, 1},
        {{"--server", url + "missing", "--folder", inst.launcher.Path()}, 1},
        // A folder that holds no installation is named as the operator wrote it.
        {{"--server", url, "--folder", configs.Path()}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(RunUpdateVerb(c.args, out, err), c.rc) << c.args.size() << c.args[1];
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(DifferenceFromRelease(inst.launcher.Path(), 3), "");
    EXPECT_EQ(Patchkit("verify '" + inst.launcher.Path() + "'"), 0);
    EXPECT_NE(ReadTextFile(outDir.File("out")).find("正在安装更新..."), std::string::npos);
    EXPECT_NE(ReadTextFile(outDir.File("out")).find("no readable version.data in " + configs.Path() + "\n"),
              std::string::npos);
    EXPECT_NE(ReadTextFile(outDir.File("err")).find("see " + inst.launcher.File("Log/launcher.log")), std::string::npos);
    // The log beside the installation says why the last run failed.
    const std::string log = ReadTextFile(inst.launcher.File("Log/launcher.log"));
    EXPECT_NE(log.find("[Info] 开始安装更新..."), std::string::npos) << log;
    // It says at start which key it checks releases against.
    std::vector<MinisignPublicKey> keys;
    ASSERT_TRUE(BuiltInTrustKeys(&keys) && keys.size() == 1);
    EXPECT_NE(log.find("[Info] 运营商公钥 : " + MinisignKeyIdText(keys[0].keyId)), std::string::npos) << log;
    EXPECT_NE(log.find("missing/versionlist.data (attempt 2 of 2): status line \"HTTP/1.1 404 Not Found\""),
              std::string::npos)
        << log;
}

}  // namespace
