// The process functions on real processes: a copy of sleep under a name of
// our own, started by the test and always ended and reaped by it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

// A child process of the test; killed and reaped when it goes out of scope.
class Child {
public:
    Child(const std::string& program, const char* argument) {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(program.c_str(), program.c_str(), argument, static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Child() {
        if (!Reaped()) {
            ::kill(m_pid, SIGKILL);
            Reap();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return m_pid; }
    // Waits for the end of the process; returns its wait status.
    int Reap() {
        while (!Reaped() && ::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
        return m_status;
    }
    // True while the process has not ended (a zombie has ended).
    bool Alive() {
        if (Reaped()) return false;
        const pid_t done = ::waitpid(m_pid, &m_status, WNOHANG);
        if (done == m_pid) m_reaped = true;
        return done == 0;
    }
    bool IsZombie() const {
        const std::string stat = ReadTextFile("/proc/" + std::to_string(m_pid) + "/stat");
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
    }

private:
    bool Reaped() const { return m_pid <= 0 || m_reaped; }

    pid_t m_pid = -1;
    int m_status = 0;
    bool m_reaped = false;
};

// Copies the sleep program under a name longer than the 15 characters that
// the kernel keeps as a process's short name.
std::string CopySleep(const TempDir& dir, const std::string& name) {
    const std::string path = dir.File(name);
    WriteTextFile(path, ReadTextFile("/usr/bin/sleep"));
    EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
    return path;
}

std::string UniqueName(const char* stem) {
    return stem + std::to_string(::getpid());
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void WriteScript(const std::string& path, const std::string& marker) {
    WriteTextFile(path, "#!/bin/sh\necho \"$0\" > '" + marker + "'\n");
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

}  // namespace

TEST(ProcessUtil, FindsARunningProcessByItsExactExecutableName) {
    TempDir dir;
    const std::string name = UniqueName("vtSleeperProbeName");
    Child sleeper(CopySleep(dir, name), "30");
    ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(name.c_str()); }));

    const struct {
        std::string name;
        bool running;
    } cases[] = {
        {name, true},
        {Upper(name), false},                      // letter case counts
        {name.substr(0, 15), false},         // the kernel's cut short name is not the name
        {name.substr(0, name.size() - 1), false},
        {name + ".exe", false},
        {dir.File(name), false},             // a path is not a name
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsProcessRunning(c.name.c_str()), c.running) << c.name;
    }
    EXPECT_FALSE(IsProcessRunning(nullptr));
}

TEST(ProcessUtil, KillEndsOnlyTheFirstProcessOfTheName) {
    TempDir dir;
    const std::string name = UniqueName("vtKillProbe");
    const std::string program = CopySleep(dir, name);
    Child first(program, "30");
    Child second(program, "30");
    ASSERT_LT(first.Pid(), second.Pid());  // the lower id comes first
    ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(name.c_str()); }));

    KillProcessByName(Upper(name).c_str());  // wrong case: nothing ends
    KillProcessByName(nullptr);
    KillProcessByName(name.c_str());
    const int status = first.Reap();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_TRUE(second.Alive());
    EXPECT_TRUE(IsProcessRunning(name.c_str()));

    KillProcessByName(name.c_str());
    EXPECT_TRUE(WIFSIGNALED(second.Reap()));
}

TEST(ProcessUtil, AnEndedProcessNotYetReapedIsNotRunning) {
    TempDir dir;
    // A short name: the kernel's short name of a zombie then equals it.
    const std::string name = UniqueName("vtZmb");
    ASSERT_LE(name.size(), 15u);
    Child sleeper(CopySleep(dir, name), "30");
    ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(name.c_str()); }));
    KillProcessByName(name.c_str());
    ASSERT_TRUE(WaitUntil([&] { return sleeper.IsZombie(); }));
    EXPECT_FALSE(IsProcessRunning(name.c_str()));
}

TEST(ProcessUtil, FindsAProgramWhoseFileWasReplaced) {
    // An update replaces files under running programs; the kernel then shows
    // the executable as "<path> (deleted)".
    TempDir dir;
    const std::string name = UniqueName("vtDeletedProbe");
    const std::string program = CopySleep(dir, name);
    Child sleeper(program, "30");
    ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(name.c_str()); }));
    ASSERT_EQ(::unlink(program.c_str()), 0);
    EXPECT_TRUE(IsProcessRunning(name.c_str()));
}

TEST(ProcessUtil, RunProgramStartsTheProgramDetached) {
    TempDir dir;
    const std::string marker = dir.File("marker.txt");
    ASSERT_TRUE(fs_port::MakeDirectory(dir.File("bin dir")));
    const std::string script = dir.Path() + "\\bin dir\\probe.sh";  // Windows separators
    WriteScript(fs_port::NativePath(script), marker);

    ASSERT_TRUE(RunProgram(script.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return !ReadTextFile(marker).empty(); }));
    EXPECT_EQ(ReadTextFile(marker), fs_port::NativePath(script) + "\n");
    // The program is not our child: nothing is left for us to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessUtil, RunProgramFailsForWhatCannotBeStarted) {
    TempDir dir;
    WriteTextFile(dir.File("plain.txt"), "not a program");
    const std::string missing = dir.File("missing");
    const std::string plain = dir.File("plain.txt");
    const char* const cases[] = {nullptr, "", missing.c_str(), plain.c_str(), dir.Path().c_str()};
    for (const char* path : cases) {
        EXPECT_FALSE(RunProgram(path)) << (path ? path : "(null)");
    }
}

TEST(ProcessUtil, LauncherFolderIsTheFolderOfTheRunningProgram) {
    char expected[PATH_MAX];
    ASSERT_NE(::realpath(VANTOREL_BINARY_DIR "/bin", expected), nullptr);
    EXPECT_EQ(GetLauncherFolder(), expected);
}

TEST(ProcessUtil, RunLauncherProgramStartsAProgramBesideTheLauncher) {
    TempDir dir;
    const std::string marker = dir.File("marker.txt");
    const std::string name = UniqueName("vt_launcher_probe_") + ".sh";
    const std::string script = GetLauncherFolder() + "/" + name;
    WriteScript(script, marker);
    EXPECT_TRUE(RunLauncherProgram(name.c_str()));
    EXPECT_TRUE(WaitUntil([&] { return !ReadTextFile(marker).empty(); }));
    EXPECT_EQ(ReadTextFile(marker), GetLauncherFolder() + "//" + name + "\n");
    ::unlink(script.c_str());

    EXPECT_FALSE(RunLauncherProgram(name.c_str()));  // gone now
    EXPECT_FALSE(RunLauncherProgram(""));            // would name the folder itself
    EXPECT_FALSE(RunLauncherProgram(nullptr));
}
