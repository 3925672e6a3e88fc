// "patchkit update" against nginx, cut off hard while a slow package comes
// and run again to the end: the installation comes out as released, and over
// all the runs the server sends the package about once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "trust/minisign.h"
#include "update/engine/headless_update.h"
#include "update/support/updater_fixture.h"

#define VANTOREL_PEERS_DIR VANTOREL_SOURCE_DIR "/tests/peers"
#include "net/posix/peer_server.h"
#include "update/posix/game_tree.h"

namespace {

namespace fs = std::filesystem;
using test_net::PeerServer;

constexpr char kPatchkit[] = VANTOREL_BINARY_DIR "/bin/patchkit";
constexpr int64_t kBigBytes = 4 << 20;
// Two seconds for the package, sent 64 KiB at a time: a cut lands between
// two bursts or inside one, and the server can have sent at most that much
// that the killed program never wrote. Without a burst size nginx hands the
// socket up to a second's worth at once (at most its 2 MiB sendfile chunk),
// which a kill loses with the socket's buffers: up to 1.7 MiB a cut at this
// rate, no bound on the client.
constexpr char kSlowPackage[] = "/1.0.0.2/data1.pak@2m/64k";

// The files below root but the update's own (its programs, work folder, log
// and what the launcher's checks keep).
Tree GameTree(const std::string& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = fs::relative(entry.path(), root).string();
        const std::string top = path.substr(0, path.find('/'));
        if (!entry.is_regular_file() || top == "VantorelPath.exe" || top == "Log" || top == "_temp" ||
            top == "trust.state" || top == "verify.cache") {
            continue;
        }
        tree[path] = ReadTextFile(entry.path().string());
    }
    return tree;
}

// A game at 1.0.0.1 and the server's step to 1.0.0.2, released by the real
// tool: one file of incompressible bytes added, which fills data1.pak.
struct CutStep {
    TempDir games;  // the folders the versions are released from
    TempDir site;
    TempDir game;  // the installation
    TempDir work;  // the public key, unpacked packages
    const test_update::ReleaseSigner* signer;

    explicit CutStep(const test_update::ReleaseSigner* signerOrNull) : signer(signerOrNull) {
        const Tree v1 = {{"Vantorel.exe", "game 1"}, {"Data/a.dat", "a"}};
        Tree v2 = v1;
        v2["Data/big.bin"] = test_net::PatternBytes(kBigBytes, 11);
        fs::create_directories(games.File("empty"));
        WriteTree(games.File("1"), v1);
        WriteTree(games.File("2"), v2);
        EXPECT_EQ(Release("empty", "1", "1.0.0.1"), 0);
        EXPECT_EQ(Release("1", "2", "1.0.0.2"), 0);
        // The installed 1.0.0.1 with the version.data its release carries.
        WriteTree(game.Path(), v1);
        EXPECT_EQ(Patchkit("extract '" + site.File("1.0.0.1/data1.pak") + "' '" + work.File("v1") + "'"), 0);
        fs::copy_file(work.File("v1/Vantorel/version.data"), game.File("version.data"));
        fs::copy_file(VANTOREL_BINARY_DIR "/bin/VantorelPath", game.File("VantorelPath.exe"));
        ::chmod(game.File("VantorelPath.exe").c_str(), 0755);
        if (signer) {
            signer->SignVersion(site.Path(), "1.0.0.2", 1000);
            signer->SignList(site.Path(), 1000, static_cast<int64_t>(std::time(nullptr)) + 3600);
            WriteTextFile(work.File("release.pub"), FormatMinisignPublicKey(signer->Keys()[0]));
        }
    }
    int Release(const std::string& from, const std::string& to, const std::string& version) const {
        return Patchkit("release --from '" + games.File(from) + "' --to '" + games.File(to) + "' --version " +
                        version + " --server-root '" + site.Path() + "'");
    }
    std::string Package() const { return site.File("1.0.0.2/data1.pak"); }
    std::string Kept() const { return game.File("_temp/data1.pak"); }
    int64_t KeptBytes() const { return std::max<int64_t>(fs_port::FileSize(Kept()), 0); }
    // The released game folder, with the version.data its release carries.
    Tree Released() const {
        Tree tree = GameTree(games.File("2"));
        EXPECT_EQ(Patchkit("extract '" + Package() + "' '" + work.File("v2") + "'"), 0);
        tree["version.data"] = ReadTextFile(work.File("v2/Vantorel/version.data"));
        return tree;
    }
};

// One run of the update with its output in a file. Signed, it is the
// program itself. Unsigned, it is the same engine in a fork of this test:
// the program of this tree has the demo key built in and refuses an unsigned
// tree; a build without keys runs what the fork runs.
class UpdateRun {
public:
    UpdateRun(const CutStep& step, const std::string& url) : m_kept(step.Kept()) {
        const std::string out = m_out.File("out");
        if (!step.signer) {
            m_pid = ::fork();
            if (m_pid == 0) {
                HeadlessUpdateOptions options;
                options.server = url;
                options.folder = step.game.Path();
                std::FILE* file = std::fopen(out.c_str(), "w");
                const int rc = RunHeadlessUpdate(options, file, nullptr);
                std::fclose(file);
                ::_exit(rc);
            }
            return;
        }
        std::vector<std::string> args = {kPatchkit, "update", "--server", url, "--folder", step.game.Path(),
                                         "--trust-key", step.work.File("release.pub")};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&m_pid, kPatchkit, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~UpdateRun() {
        if (m_pid > 0 && !m_ended) ::kill(m_pid, SIGKILL);
        (void)Finish();
    }
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // Polls until the kept package holds at least bytes; false when the run
    // ended first or took longer than any run should.
    bool WaitForKept(int64_t bytes) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end && !Ended()) {
            if (fs_port::FileSize(m_kept) >= bytes) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }
    void Signal(int number) const { (void)::kill(m_pid, number); }
    // The wait status.
    int Finish() {
        while (m_pid > 0 && !m_ended && ::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_ended = true;
        return m_status;
    }
    std::string Printed() const { return ReadTextFile(m_out.File("out")); }

private:
    bool Ended() {
        m_ended = m_ended || m_pid <= 0 || ::waitpid(m_pid, &m_status, WNOHANG) == m_pid;
        return m_ended;
    }

    TempDir m_out;
    std::string m_kept;
    pid_t m_pid = -1;
    int m_status = -1;
    bool m_ended = false;
};

// R of the last line, "downloaded N bytes (full update M bytes), reused R bytes".
long long ReusedOf(const std::string& printed) {
    const size_t at = printed.rfind(", reused ");
    return at == std::string::npos ? -1 : std::atoll(printed.c_str() + at + 9);
}

// nginx's answers for the package: their lines, and the body bytes sent in them.
struct PackageAnswers {
    explicit PackageAnswers(const std::string& log) {
        const std::string request = "\"GET /1.0.0.2/data1.pak HTTP/1.1\" ";
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find(request);
            if (at == std::string::npos) continue;
            int status = 0;
            long long body = 0;
            if (std::sscanf(line.c_str() + at + request.size(), "%d %lld", &status, &body) == 2) bytes += body;
            text += line + "\n";
            ++count;
        }
    }
    int count = 0;
    int64_t bytes = 0;
    std::string text;
};

int32_t InstalledVersion(const std::string& folder) {
    int32_t version = 0;
    return ReadInstalledVersionNumber(folder, &version) ? version : -1;
}

TEST(PatchkitUpdateCut, ACutStepEndsAsReleasedAndTheServerSendsThePackageAboutOnce) {
    const struct {
        const char* name;
        bool signedTree;
        int signal;
        std::vector<int> cuts;  // percent of the package on the disk; 100: whole, the step not yet over
    } rows[] = {
        {"signed, killed at 25, 50, 75 % and whole", true, SIGKILL, {25, 50, 75, 100}},
        {"unsigned, killed at 25, 50, 75 % and whole", false, SIGKILL, {25, 50, 75, 100}},
        {"signed, stopped by Ctrl-C at half", true, SIGINT, {50}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test_update::ReleaseSigner signer;
        const CutStep step(row.signedTree ? &signer : nullptr);
        PeerServer peer("nginx", step.site.Path(), kSlowPackage);
        ASSERT_NE(peer.Port(), 0);
        const std::string url = "http://127.0.0.1:" + std::to_string(peer.Port());
        const int64_t size = fs_port::FileSize(step.Package());
        ASSERT_GT(size, kBigBytes);
        int fetches = 0;  // runs that began without the whole package: one request each
        for (const int cut : row.cuts) {
            fetches += step.KeptBytes() < size;
            UpdateRun run(step, url);
            ASSERT_TRUE(run.WaitForKept(size * cut / 100)) << cut << " %\n" << run.Printed();
            run.Signal(row.signal);
            const int status = run.Finish();
            if (row.signal == SIGINT) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kHeadlessStopped) << status << run.Printed();
            } else {
                EXPECT_TRUE(WIFSIGNALED(status)) << cut << " %: the run ended before the cut\n" << run.Printed();
            }
            ASSERT_EQ(InstalledVersion(step.game.Path()), 1001) << cut << " %: the cut came after the install";
        }
        const int64_t kept = step.KeptBytes();
        fetches += kept < size;
        UpdateRun last(step, url);
        const int status = last.Finish();
        const std::string printed = last.Printed();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << printed;
        EXPECT_GT(kept, 0);
        EXPECT_EQ(ReusedOf(printed), kept) << printed;
        EXPECT_EQ(Difference(GameTree(step.game.Path()), step.Released()), "");
        EXPECT_EQ(Patchkit("verify '" + step.game.Path() + "'"), 0);
        // nginx logs an answer once it has noticed its end: wait for all.
        EXPECT_TRUE(WaitUntil([&] { return PackageAnswers(peer.ReadStateFile("access.log")).count >= fetches; }, 5000));
        const PackageAnswers answers(peer.ReadStateFile("access.log"));
        EXPECT_GE(answers.bytes, size) << answers.text;
        EXPECT_LE(answers.bytes, size + static_cast<int64_t>(row.cuts.size() * kHttpReceiveBufferBytes))
            << answers.text;
    }
}

}  // namespace
