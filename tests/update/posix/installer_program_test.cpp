// Runs the native VantorelPath program on real trees, with a stand-in
// launcher script that records how it was started.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <sstream>

#include "update/install/installer.h"
#include "update/install_scenario.h"

extern char** environ;

namespace {

using namespace install_test;

const std::string kProgram = std::string(VANTOREL_BINARY_DIR) + "/bin/VantorelPath";

// The old version, the unpacked new one, the program and the stand-in launcher.
HandOffPlan LayProgramTree(const std::string& folder, std::vector<Change> newFiles = NewFiles()) {
    const HandOffPlan plan = Lay(folder, newFiles, DeletedPaths());
    const std::string program = folder + "/VantorelPath";
    if (::link(kProgram.c_str(), program.c_str()) != 0) {
        EXPECT_EQ(RunShell("cp '" + kProgram + "' '" + program + "'"), 0);
    }
    const std::string launcher = folder + "/VantorelLauncher";
    WriteTextFile(launcher, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/launcher_calls.txt\"\n");
    ::chmod(launcher.c_str(), 0755);
    return plan;
}

// The tree without the program, the stand-in and its record.
Tree InstalledTree(const std::string& folder) {
    Tree tree = Snapshot(folder);
    tree.erase("VantorelPath");
    tree.erase("VantorelLauncher");
    tree.erase("launcher_calls.txt");
    return tree;
}

// Starts the program with the given arguments and crash step; its pid, or -1.
pid_t StartProgram(const std::string& folder, const std::vector<std::string>& arguments,
                   long crashAt = -1) {
    const std::string program = folder + "/VantorelPath";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).rfind("VANTOREL_INSTALLER_CRASH_AT=", 0) != 0) env.emplace_back(*e);
    }
    if (crashAt >= 0) env.push_back("VANTOREL_INSTALLER_CRASH_AT=" + std::to_string(crashAt));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

// Runs the program to its end; the wait status.
int RunProgram(const std::string& folder, const std::vector<std::string>& arguments,
               long crashAt = -1) {
    const pid_t pid = StartProgram(folder, arguments, crashAt);
    if (pid < 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::vector<std::string> StandardArguments(const std::string& folder) {
    return {"1", folder + "\\udo.temp"};
}

// The launcher runs detached; give it a moment to write its record.
std::string LauncherCalls(const std::string& folder) {
    const std::string path = folder + "/launcher_calls.txt";
    for (int i = 0; i < 200 && ReadTextFile(path).empty(); ++i) ::usleep(10000);
    return ReadTextFile(path);
}

// "2026-12-07 19:24:36.123 [Info] text": digits where the pattern has 9.
bool IsLogLine(const std::string& line) {
    const std::string pattern = "9999-99-99 99:99:99.999 [";
    if (line.size() < pattern.size() + 8) return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool ok = pattern[i] == '9' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                          : line[i] == pattern[i];
        if (!ok) return false;
    }
    const std::string rest = line.substr(pattern.size());
    for (const char* kind : {"Info] ", "Notice] ", "Error] "}) {
        if (rest.rfind(kind, 0) == 0 && rest.size() > std::strlen(kind)) return true;
    }
    return false;
}

std::string InstallerLogText(const std::string& folder) { return ReadTextFile(folder + "/Log/installer.log"); }

TEST(InstallerProgram, InstallsLogsAndStartsTheLauncherWithUpdate) {
    TempDir dir;
    LayProgramTree(dir.Path());
    // The parameters as the launcher hands them: one text, tab inside.
    const int status = RunProgram(dir.Path(), {"\"1\"\t\"" + dir.Path() + "\\udo.temp\""});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(InstalledTree(dir.Path()), NewTree());
    EXPECT_EQ(LauncherCalls(dir.Path()), "/update\n");

    std::istringstream log(InstallerLogText(dir.Path()));
    std::string text;
    int lines = 0;
    while (std::getline(log, text)) {
        EXPECT_TRUE(IsLogLine(text)) << text;
        EXPECT_EQ(text.find("[Error]"), std::string::npos) << text;
        EXPECT_EQ(text.find('\\'), std::string::npos) << "a path not in the native form: " << text;
        ++lines;
    }
    EXPECT_GT(lines, 5);
}

TEST(InstallerProgram, KilledAtAnyStepFinishesOnTheNextStart) {
    for (long step = 0;; ++step) {
        ASSERT_LT(step, 200);
        TempDir dir;
        LayProgramTree(dir.Path());
        const int status = RunProgram(dir.Path(), StandardArguments(dir.Path()), step);
        if (WIFEXITED(status)) {  // fewer steps than that: the run went through
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(InstalledTree(dir.Path()), NewTree());
            EXPECT_GT(step, 20);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << step;
        EXPECT_FALSE(fs_port::PathExists(dir.Path() + "/launcher_calls.txt")) << "step " << step;

        const int again = RunProgram(dir.Path(), StandardArguments(dir.Path()));
        ASSERT_TRUE(WIFEXITED(again)) << "step " << step;
        EXPECT_EQ(WEXITSTATUS(again), 0) << "step " << step;
        EXPECT_EQ(InstalledTree(dir.Path()), NewTree()) << "step " << step;
        EXPECT_EQ(LauncherCalls(dir.Path()), "/update\n") << "step " << step;
        EXPECT_FALSE(fs_port::PathExists(dir.Path() + "/udo.journal")) << "step " << step;
    }
}

TEST(InstallerProgram, PutsEverythingBackAfterAFailedStepAndStillStartsTheLauncher) {
    struct Case {
        const char* name;
        std::vector<Change> newFiles;
        const char* logged;
    };
    std::vector<Change> blocked = NewFiles();
    blocked.push_back({"keep.txt\\inside-a-file.dat", "cannot be placed"});  // fails late
    std::vector<Change> unsafe = NewFiles();
    unsafe.push_back({"sub\\..\\..\\escape.dat", "never installed"});
    const Case cases[] = {
        {"a step fails", blocked, "installation failed: cannot move"},
        {"an unsafe line", unsafe, "hand-off file refused"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const HandOffPlan plan = LayProgramTree(dir.Path(), c.newFiles);
        const int status = RunProgram(dir.Path(), StandardArguments(dir.Path()));
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(status), 1) << c.name;
        EXPECT_EQ(InstalledTree(dir.Path()), OldTree()) << c.name;
        EXPECT_EQ(LauncherCalls(dir.Path()), "/update\n") << c.name;
        EXPECT_NE(InstallerLogText(dir.Path()).find(std::string("[Error] ") + c.logged), std::string::npos)
            << c.name << "\n" << InstallerLogText(dir.Path());
        EXPECT_TRUE(fs_port::PathExists(dir.Path() + "/udo.temp")) << c.name;
        EXPECT_FALSE(fs_port::PathExists(dir.Path() + "/udo.journal")) << c.name;
        for (const HandOffMove& move : plan.moves) {
            EXPECT_TRUE(fs_port::IsRegularFile(move.from)) << c.name << ": " << move.from;
        }
    }
}

TEST(InstallerProgram, SecondInstallerWaitsUntilTheFirstLeavesTheFolder) {
    TempDir dir;
    LayProgramTree(dir.Path());
    // This test holds the folder as a working installer would.
    const int held = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const pid_t pid = StartProgram(dir.Path(), StandardArguments(dir.Path()));
    ASSERT_GT(pid, 0);
    ::usleep(500 * 1000);
    EXPECT_EQ(InstalledTree(dir.Path()), OldTree()) << "the second installer went ahead";
    EXPECT_FALSE(fs_port::PathExists(dir.Path() + "/udo.journal"));
    ::close(held);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(InstalledTree(dir.Path()), NewTree());
    EXPECT_EQ(LauncherCalls(dir.Path()), "/update\n");
}

}  // namespace
