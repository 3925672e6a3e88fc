// The process, shell and window functions on real processes: the stand-in
// program from the bin folder, copied under names of our own. Every process
// a test starts is ended by the test, so that no handle outlives the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kExitClosed = 42;  // the stand-in's window was closed
constexpr DWORD kExitSlept = 5;    // the stand-in slept to its end

std::string BinFolder() {
    return fs_port::NativePath(std::string("Z:") + VANTOREL_BINARY_DIR + "/bin");
}

std::string CopyStandIn(const std::string& folder, const std::string& name) {
    const std::string target = folder + "\\" + name;
    EXPECT_TRUE(CopyFileW(ToWide(BinFolder() + "\\standin.exe").c_str(),
                          ToWide(target).c_str(), FALSE))
        << target;
    return target;
}

// A process started by the test; ended when it goes out of scope.
class Child {
public:
    Child(const std::string& program, const std::string& arguments) {
        std::wstring commandLine = L"\"" + ToWide(program) + L"\" " + ToWide(arguments);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        m_started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &m_info) != FALSE;
        EXPECT_TRUE(m_started) << program;
    }
    ~Child() {
        if (!m_started) return;
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_info.hProcess, 1);
            WaitForSingleObject(m_info.hProcess, 10000);
        }
        CloseHandle(m_info.hThread);
        CloseHandle(m_info.hProcess);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD Id() const { return m_info.dwProcessId; }
    // Waits up to timeoutMs for the end; STILL_ACTIVE when it still runs.
    DWORD WaitExit(DWORD timeoutMs) const {
        if (!m_started || WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            return STILL_ACTIVE;
        }
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

private:
    bool m_started = false;
    PROCESS_INFORMATION m_info = {};
};

// Process ids with this executable name, in snapshot order.
std::vector<DWORD> SnapshotIds(const std::string& exeName) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (ToWide(exeName) == entry.szExeFile) ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

struct TitleCount {
    std::wstring title;
    int count = 0;
};

BOOL CALLBACK CountTitled(HWND window, LPARAM param) {
    auto* counter = reinterpret_cast<TitleCount*>(param);
    wchar_t title[512];
    GetWindowTextW(window, title, 512);
    if (counter->title == title && IsWindowVisible(window)) ++counter->count;
    return TRUE;
}

int CountWindowsTitled(const std::string& title) {
    TitleCount counter{ToWide(title)};
    EnumWindows(CountTitled, reinterpret_cast<LPARAM>(&counter));
    return counter.count;
}

// Sets the stand-in's marker file for the processes started while it lives.
class MarkerScope {
public:
    explicit MarkerScope(const std::string& path) : m_path(path) {
        SetEnvironmentVariableW(L"VANTOREL_STANDIN_MARKER", ToWide(path).c_str());
    }
    ~MarkerScope() { SetEnvironmentVariableW(L"VANTOREL_STANDIN_MARKER", nullptr); }
    MarkerScope(const MarkerScope&) = delete;
    MarkerScope& operator=(const MarkerScope&) = delete;

    bool WaitForLines(size_t lines) const {
        return WaitUntil([&] {
            const std::string text = ReadTextFile(m_path);
            size_t count = 0;
            for (char c : text) count += c == '\n' ? 1 : 0;
            return count >= lines;
        });
    }
    std::string Text() const { return ReadTextFile(m_path); }

private:
    std::string m_path;
};

std::string Unique(const char* stem) { return stem + std::to_string(GetCurrentProcessId()); }

}  // namespace

TEST(ProcessUtil, FindsARunningProcessByItsExactExecutableName) {
    TempDir dir;
    const std::string name = Unique("vtCaseProbe") + ".exe";
    Child probe(CopyStandIn(dir.Path(), name), "--sleep 60000");
    ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(name.c_str()); }));
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    const struct {
        std::string name;
        bool running;
    } cases[] = {
        {name, true},
        {lower, false},  // letter case counts
        {name.substr(0, name.size() - 4), false},
        {name + " ", false},
        {dir.File(name), false},  // a path is not a name
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsProcessRunning(c.name.c_str()), c.running) << c.name;
    }
    EXPECT_FALSE(IsProcessRunning(nullptr));
}

TEST(ProcessUtil, KillEndsOnlyTheFirstProcessOfTheNameWithExitCodeZero) {
    TempDir dir;
    const std::string name = Unique("vtKillProbe") + ".exe";
    const std::string program = CopyStandIn(dir.Path(), name);
    Child a(program, "--sleep 60000");
    Child b(program, "--sleep 60000");
    ASSERT_TRUE(WaitUntil([&] { return SnapshotIds(name).size() == 2; }));
    const std::vector<DWORD> order = SnapshotIds(name);
    const Child& first = order[0] == a.Id() ? a : b;
    const Child& second = order[0] == a.Id() ? b : a;

    KillProcessByName("VTKILLPROBE.EXE");  // wrong case: nothing ends
    KillProcessByName(nullptr);
    KillProcessByName("");
    EXPECT_EQ(first.WaitExit(300), STILL_ACTIVE);

    KillProcessByName(name.c_str());
    EXPECT_EQ(first.WaitExit(10000), 0u);
    EXPECT_EQ(second.WaitExit(500), STILL_ACTIVE);
    EXPECT_TRUE(WaitUntil([&] { return SnapshotIds(name).size() == 1; }));

    KillProcessByName(name.c_str());
    EXPECT_EQ(second.WaitExit(10000), 0u);
}

TEST(ProcessUtil, ClosesEveryWindowWithExactlyTheTitle) {
    const std::string title = "Vantorel \xE6\xB5\x8B\xE8\xAF\x95 " + Unique("window");
    const std::string program = BinFolder() + "\\standin.exe";
    Child one(program, "--window \"" + title + "\"");
    Child two(program, "--window \"" + title + "\"");
    Child other(program, "--window \"" + title + "x\"");
    Child untitled(program, "--window \"\"");
    ASSERT_TRUE(WaitUntil([&] {
        return CountWindowsTitled(title) == 2 && CountWindowsTitled(title + "x") == 1;
    }));

    CloseWindowsTitled("");  // must not close every untitled window
    CloseWindowsTitled(nullptr);
    CloseWindowsTitled(title.substr(0, title.size() - 1).c_str());
    EXPECT_EQ(untitled.WaitExit(300), STILL_ACTIVE);
    EXPECT_EQ(one.WaitExit(0), STILL_ACTIVE);

    CloseWindowsTitled(title.c_str());
    EXPECT_EQ(one.WaitExit(10000), kExitClosed);
    EXPECT_EQ(two.WaitExit(10000), kExitClosed);
    EXPECT_EQ(other.WaitExit(500), STILL_ACTIVE);
    EXPECT_EQ(untitled.WaitExit(0), STILL_ACTIVE);
}

// The cleanup worker removes "_temp" while the window's thread may wait for
// it (joining it as the window goes): asking that thread's window for its
// title would wait for ever, and the launcher must not close its own window.
TEST(ProcessUtil, NeverAsksOrClosesAWindowOfItsOwnProcess) {
    const std::string title = Unique("vtOwnWindow");
    std::atomic<HWND> own{nullptr};
    std::atomic<bool> closeAsked{false};
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread windowThread([&] {
        HWND window = CreateWindowW(L"STATIC", ToWide(title).c_str(), WS_OVERLAPPED, 0, 0, 10, 10,
                                    nullptr, nullptr, nullptr, nullptr);
        own = window;
        WaitForSingleObject(release, INFINITE);  // busy, as a thread in a join
        MSG message;
        closeAsked = PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
        DestroyWindow(window);
    });
    ASSERT_TRUE(WaitUntil([&] { return own.load() != nullptr; }));
    std::atomic<bool> returned{false};
    std::thread cleanup([&] {
        CloseWindowsTitled(title.c_str());
        returned = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, 2000)) << "waited for a busy window of its own";
    SetEvent(release);
    cleanup.join();
    windowThread.join();
    CloseHandle(release);
    EXPECT_FALSE(closeAsked.load());
}

TEST(ProcessUtil, DeleteFolderTreeClosesWindowsNamedLikeASubfolder) {
    TempDir dir;
    const std::string folderName = Unique("vtShownFolder");
    const std::string root = dir.Path() + "\\tree";
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\" + folderName));
    WriteTextFile(root + "\\" + folderName + "\\file.txt", "x");
    Child viewer(BinFolder() + "\\standin.exe", "--window " + folderName);
    ASSERT_TRUE(WaitUntil([&] { return CountWindowsTitled(folderName) == 1; }));

    DeleteFolderTree(root);
    EXPECT_EQ(viewer.WaitExit(10000), kExitClosed);
    EXPECT_FALSE(fs_port::PathExists(root));
}

TEST(ProcessUtil, RunProgramStartsTheProgramThroughTheShell) {
    TempDir dir;
    MarkerScope marker(dir.File("marker.txt"));
    const std::string folder = dir.Path() + "\\\xE7\xA8\x8B\xE5\xBA\x8F";  // a Chinese folder name
    ASSERT_TRUE(fs_port::MakeDirectory(folder));
    const std::string program = CopyStandIn(folder, "vtRunProbe.exe");

    ASSERT_TRUE(RunProgram(program.c_str()));
    ASSERT_TRUE(marker.WaitForLines(1));
    EXPECT_EQ(marker.Text(), program + "\n");

    const std::string missing = dir.File("missing.exe");
    EXPECT_FALSE(RunProgram(missing.c_str()));
    EXPECT_FALSE(RunProgram(""));
    EXPECT_FALSE(RunProgram(nullptr));
}

TEST(ProcessUtil, RunLauncherProgramStartsAProgramBesideTheLauncher) {
    EXPECT_EQ(GetLauncherFolder(), BinFolder());

    TempDir dir;
    MarkerScope marker(dir.File("marker.txt"));
    ASSERT_TRUE(RunLauncherProgram("standin.exe"));
    ASSERT_TRUE(marker.WaitForLines(1));
    const std::string text = marker.Text();
    const std::string tail = "standin.exe\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    EXPECT_FALSE(RunLauncherProgram("no-such-program.exe"));
    EXPECT_FALSE(RunLauncherProgram(""));
}
