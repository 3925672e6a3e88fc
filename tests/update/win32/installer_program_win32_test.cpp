// Runs VantorelPath.exe on real trees, with a stand-in launcher program.
#include <gtest/gtest.h>

#include <windows.h>

#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "package/fast_file.h"
#include "package/patch_kit.h"
#include "platform/win32/wide.h"
#include "tools/installer/win32/folder_lock_win32.h"
#include "update/install_scenario.h"

namespace {

using namespace install_test;

const std::string kBin = std::string(VANTOREL_BINARY_DIR) + "\\bin\\";

// A started program that is waited for (or released) when the object goes.
class Process {
public:
    explicit Process(const std::string& commandLine) {
        std::wstring line = ToWide(commandLine);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &m_info)) {
            CloseHandle(m_info.hThread);
        }
    }
    ~Process() {
        if (m_info.hProcess) {
            WaitForSingleObject(m_info.hProcess, 10000);
            CloseHandle(m_info.hProcess);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return m_info.hProcess != nullptr; }
    // The exit code, or -1 when it did not end within the time.
    long Wait(DWORD milliseconds = 60000) {
        if (WaitForSingleObject(m_info.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    PROCESS_INFORMATION m_info{};
};

void CopyProgram(const std::string& name, const std::string& to) {
    ASSERT_TRUE(CopyFileW(ToWide(kBin + name).c_str(), ToWide(to).c_str(), FALSE)) << name;
}

// Polls a file until it holds text (the launcher runs detached).
bool WaitForText(const std::string& path, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
        if (ReadTextFile(path).find(text) != std::string::npos) return true;
        Sleep(50);
    }
    return false;
}

Tree InstalledTree(const std::string& folder) {
    Tree tree = Snapshot(folder);
    tree.erase("VantorelPath.exe");
    tree.erase("launcher_calls.txt");
    tree.erase("release");
    return tree;
}

long RunInstaller(const std::string& folder, long crashAt = -1) {
    const std::wstring variable = L"VANTOREL_INSTALLER_CRASH_AT";
    SetEnvironmentVariableW(variable.c_str(),
                            crashAt >= 0 ? std::to_wstring(crashAt).c_str() : nullptr);
    // The parameters exactly as the launcher hands them over.
    Process installer("\"" + folder + "\\VantorelPath.exe\" \"1\"\t\"" + folder + "\\udo.temp\"");
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    return installer.Started() ? installer.Wait() : -2;
}

// The standard scenario with real programs: the installer, and the stand-in
// as the old and the new launcher (told apart by a tail after the image).
void LayWindowsTree(const std::string& folder, const std::vector<Change>& newFiles = NewFiles()) {
    Lay(folder, newFiles, DeletedPaths());
    CopyProgram("VantorelPath.exe", folder + "\\VantorelPath.exe");
    const std::string standIn = ReadTextFile(kBin + "launcher_stand_in.exe");
    ASSERT_FALSE(standIn.empty());
    WriteTextFile(folder + "\\VantorelLauncher.exe", standIn + "version 1");
    WriteTextFile(folder + "\\_temp\\Root\\VantorelLauncher.exe", standIn + "version 2");
}

// A file of 4.5 GiB of zeros that takes no room until written: its size is
// set past the end, as a sparse file. Its digest, and that of the 512 MiB a
// size cut to 32 bits would leave, are fixed values.
constexpr int64_t kHugeBytes = (int64_t{9} << 30) / 2;
constexpr char kHugeZerosMd5[] = "99a8ff54e931fa884f05bd98d6f5a8be";
constexpr char kCutZerosMd5[] = "aa559b4e3523a6c931f08f4df52d58f2";

bool MakeSparseFile(const std::string& path, int64_t bytes) {
    const HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = bytes;
    const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return sized;
}

// Writes version.data for the given names and digests, as a release does.
void WriteVersionData(const std::string& folder, const std::string& content) {
    CFastFile file(ModeWrite);
    ASSERT_TRUE(file.Open((folder + "\\version.data").c_str(), "w+"));
    ASSERT_TRUE(file.WriteBytes(content.data(), content.size(), &LauncherFileKey(), true));
    file.Close();
}

Tree NewWindowsTree() {
    Tree tree = NewTree();
    tree["VantorelLauncher.exe"] = ReadTextFile(kBin + "launcher_stand_in.exe") + "version 2";
    return tree;
}

TEST(InstallerProgramWin32, ReplacesTheRunningLauncherAndStartsTheNewOneWithUpdate) {
    TempDir dir;
    const std::string folder = dir.Path();
    LayWindowsTree(folder);
    Process running("\"" + folder + "\\VantorelLauncher.exe\" wait");
    ASSERT_TRUE(running.Started());
    ASSERT_TRUE(WaitForText(folder + "\\launcher_calls.txt", "wait"));

    EXPECT_EQ(RunInstaller(folder), 0);
    EXPECT_TRUE(WaitForText(folder + "\\launcher_calls.txt", "/update\n"));
    EXPECT_EQ(InstalledTree(folder), NewWindowsTree());
    const std::string log = ReadTextFile(folder + "\\Log\\installer.log");
    EXPECT_NE(log.find("[Info] started "), std::string::npos) << log;
    EXPECT_EQ(log.find("[Error]"), std::string::npos) << log;

    WriteTextFile(folder + "\\release", "");
    EXPECT_EQ(running.Wait(10000), 0);
}

TEST(InstallerProgramWin32, SecondInstallerWaitsWhileAnotherWorksInTheFolder) {
    TempDir dir;
    const std::string folder = dir.Path();
    LayWindowsTree(folder);
    // This test holds the folder as a working installer would.
    const HANDLE held = CreateMutexW(nullptr, TRUE, FolderLockName(folder).c_str());
    ASSERT_NE(held, nullptr);
    Process installer("\"" + folder + "\\VantorelPath.exe\" \"1\"\t\"" + folder + "\\udo.temp\"");
    ASSERT_TRUE(installer.Started());
    EXPECT_EQ(installer.Wait(1500), -1) << "the second installer did not wait";
    EXPECT_FALSE(fs_port::PathExists(folder + "\\fresh.dat")) << "the second installer went ahead";
    ReleaseMutex(held);
    CloseHandle(held);
    EXPECT_EQ(installer.Wait(), 0);
    EXPECT_EQ(InstalledTree(folder), NewWindowsTree());
}

// The launcher verifies the installed files again right after it has started
// the installer program, so a file may be open for reading while it is
// replaced or deleted.
TEST(InstallerProgramWin32, InstallsWhileTheLauncherReadsTheFilesItReplaces) {
    TempDir dir;
    const std::string folder = dir.Path();
    LayWindowsTree(folder);
    std::vector<std::FILE*> readers;
    for (const char* rel : {"Vantorel_Data\\level1.dat", "Vantorel_Data\\old.dat", "obsolete\\x.txt"}) {
        readers.push_back(fs_port::OpenFile(folder + "\\" + rel, "rb"));
        ASSERT_NE(readers.back(), nullptr) << rel;
    }
    EXPECT_EQ(RunInstaller(folder), 0);
    for (std::FILE* reader : readers) std::fclose(reader);
    EXPECT_TRUE(WaitForText(folder + "\\launcher_calls.txt", "/update\n"));
    EXPECT_EQ(InstalledTree(folder), NewWindowsTree());
    const std::string log = ReadTextFile(folder + "\\Log\\installer.log");
    EXPECT_EQ(log.find("[Error]"), std::string::npos) << log;
}

// The installer renames a file over 4 GiB into place (same volume), and the
// launcher's check reads all of it against the digest of the release.
TEST(InstallerProgramWin32, MovesAndVerifiesAFileOverFourGiB) {
    TempDir dir;
    const std::string folder = dir.Path();
    std::vector<Change> newFiles = NewFiles();
    newFiles.push_back({"Vantorel_Data\\huge.dat", ""});
    LayWindowsTree(folder, newFiles);
    ASSERT_TRUE(MakeSparseFile(folder + "\\_temp\\Root\\Vantorel_Data\\huge.dat", kHugeBytes));
    EXPECT_EQ(RunInstaller(folder), 0);
    EXPECT_TRUE(WaitForText(folder + "\\launcher_calls.txt", "/update\n"));
    const std::string huge = folder + "\\Vantorel_Data\\huge.dat";
    EXPECT_EQ(fs_port::FileSize(huge), kHugeBytes);
    EXPECT_FALSE(fs_port::PathExists(folder + "\\_temp\\Root\\Vantorel_Data\\huge.dat"));
    const std::string log = ReadTextFile(folder + "\\Log\\installer.log");
    EXPECT_EQ(log.find("[Error]"), std::string::npos) << log;

    const struct {
        const char* digest;
        std::vector<std::string> mismatches;
    } cases[] = {
        {kHugeZerosMd5, {}},
        {kCutZerosMd5, {"Vantorel_Data\\huge.dat"}},
    };
    for (const auto& c : cases) {
        WriteVersionData(folder, std::string("1002\nVantorel_Data\\huge.dat\n") + c.digest);
        CPatchKit kit;
        const VerifyReport report = VerifyGameVersion(folder, kit, TheJournal());
        EXPECT_TRUE(report.verified) << c.digest;
        EXPECT_EQ(report.checkedFiles, 1u) << c.digest;
        EXPECT_EQ(report.mismatches, c.mismatches) << c.digest;
    }
}

TEST(InstallerProgramWin32, KilledAtAStepFinishesOnTheNextStart) {
    for (long step = 0;; step += 3) {
        ASSERT_LT(step, 200);
        TempDir dir;
        const std::string folder = dir.Path();
        LayWindowsTree(folder);
        const long killed = RunInstaller(folder, step);
        if (killed == 0) {  // fewer steps than that: the run went through
            EXPECT_EQ(InstalledTree(folder), NewWindowsTree());
            EXPECT_GT(step, 20);
            break;
        }
        ASSERT_EQ(killed, 9) << "step " << step;
        EXPECT_FALSE(fs_port::PathExists(folder + "\\launcher_calls.txt")) << "step " << step;
        EXPECT_EQ(RunInstaller(folder), 0) << "step " << step;
        EXPECT_EQ(InstalledTree(folder), NewWindowsTree()) << "step " << step;
        EXPECT_TRUE(WaitForText(folder + "\\launcher_calls.txt", "/update\n")) << "step " << step;
        EXPECT_FALSE(fs_port::PathExists(folder + "\\udo.journal")) << "step " << step;
    }
}

}  // namespace
