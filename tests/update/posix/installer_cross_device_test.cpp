// The work folder on another file system than the installation (here a link
// into /dev/shm): renames fail with EXDEV, so files are copied and removed,
// forwards and when putting back.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "update/install/installer.h"
#include "update/install_scenario.h"

namespace {

using namespace install_test;

class FailOneMove : public SystemFileOps {
public:
    explicit FailOneMove(std::string from) : SystemFileOps(false), m_from(std::move(from)) {}
    StepResult MovePath(const std::string& from, const std::string& to) override {
        return from == m_from ? StepResult::Failed : SystemFileOps::MovePath(from, to);
    }

private:
    std::string m_from;
};

TEST(InstallerCrossDevice, CopiesAcrossFileSystemsAndPutsBackTheSameWay) {
    char pattern[] = "/dev/shm/vtest_work_XXXXXX";
    if (!::mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
    const std::string work = pattern;
    for (bool fail : {true, false}) {
        TempDir dir;
        struct stat a {}, b {};
        ::stat(dir.Path().c_str(), &a);
        ::stat(work.c_str(), &b);
        if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system";
        ASSERT_EQ(::symlink(work.c_str(), (dir.Path() + "/_temp").c_str()), 0);
        const HandOffPlan plan = LayStandard(dir.Path());
        FailOneMove ops(fail ? plan.moves.back().from : std::string());
        std::vector<std::pair<EntryKind, std::string>> lines;
        const InstallOutcome outcome = RunInstaller(
            dir.Path(), dir.Path() + "/udo.temp", &ops,
            [&lines](EntryKind kind, const std::string& text) { lines.emplace_back(kind, text); });
        if (fail) {
            EXPECT_EQ(outcome, InstallOutcome::RolledBack);
            EXPECT_EQ(Snapshot(dir.Path()), OldTree());
            for (size_t i = 0; i < plan.moves.size(); ++i) {
                EXPECT_EQ(ReadTextFile(fs_port::NativePath(plan.moves[i].from)), NewFiles()[i].content);
            }
        } else {
            EXPECT_EQ(outcome, InstallOutcome::Installed);
            EXPECT_EQ(Snapshot(dir.Path()), NewTree());
            for (const HandOffMove& move : plan.moves) {
                EXPECT_FALSE(fs_port::PathExists(move.from)) << move.from;
            }
        }
        RemoveTree(work + "/Root");
    }
    RemoveTree(work);
}

TEST(InstallerCrossDevice, AMoveKilledDuringItsCopyNeverLeavesPartOfTheFileAtItsPlace) {
    char pattern[] = "/dev/shm/vtest_kill_XXXXXX";
    if (!::mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
    const std::string work = pattern;
    const std::string content(24u << 20, 'v');
    // Kills at several moments of the copy: each must find the place empty
    // (the file still whole at its source) or holding the whole file.
    for (const int delayUs : {0, 2000, 5000, 10000, 20000, 40000}) {
        TempDir dir;
        struct stat a {}, b {};
        ::stat(dir.Path().c_str(), &a);
        ::stat(work.c_str(), &b);
        if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system";
        const std::string from = work + "/big.bin";
        const std::string to = dir.Path() + "/big.bin";
        WriteTextFile(from, content);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SystemFileOps ops(true);
            ::_exit(ops.MovePath(from, to) == StepResult::Done ? 0 : 1);
        }
        ::usleep(static_cast<useconds_t>(delayUs));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        if (fs_port::PathExists(to)) {
            EXPECT_EQ(fs_port::FileSize(to), static_cast<int64_t>(content.size())) << delayUs;
        } else {
            EXPECT_EQ(fs_port::FileSize(from), static_cast<int64_t>(content.size())) << delayUs;
        }
        (void)fs_port::RemoveFile(from);
    }
    RemoveTree(work);
}

}  // namespace
