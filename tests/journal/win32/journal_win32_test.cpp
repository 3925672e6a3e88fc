#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "platform/win32/wide.h"
#include "support/test_support.h"

namespace {

constexpr int kProcesses = 3;
constexpr int kEntries = 500;
constexpr char kLogVariable[] = "VANTOREL_JOURNAL_CHILD_LOG";
constexpr char kIdVariable[] = "VANTOREL_JOURNAL_CHILD_ID";
constexpr char kStartVariable[] = "VANTOREL_JOURNAL_CHILD_START";

// The narrow getenv would give the path in the ANSI code page.
bool GetVariable(const char* name, std::string* valueOut) {
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(ToWide(name).c_str(), buffer, 1024);
    if (n == 0 || n >= 1024) return false;
    *valueOut = FromWide(std::wstring_view(buffer, n));
    return true;
}

std::string Body() { return std::string(6000, 'b'); }

std::string OwnExecutable() {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    return FromWide(std::wstring_view(buffer, n));
}

HANDLE StartChild(const std::string& logPath, int id, const std::string& startEvent) {
    SetEnvironmentVariableW(ToWide(kLogVariable).c_str(), ToWide(logPath).c_str());
    SetEnvironmentVariableW(ToWide(kIdVariable).c_str(), std::to_wstring(id).c_str());
    SetEnvironmentVariableW(ToWide(kStartVariable).c_str(), ToWide(startEvent).c_str());
    std::wstring command = L"\"" + ToWide(OwnExecutable()) +
                           L"\" --gtest_filter=JournalWin32.ChildWritesEntries";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &pi);
    SetEnvironmentVariableW(ToWide(kLogVariable).c_str(), nullptr);
    SetEnvironmentVariableW(ToWide(kIdVariable).c_str(), nullptr);
    SetEnvironmentVariableW(ToWide(kStartVariable).c_str(), nullptr);
    if (!ok) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

}  // namespace

// Run only as a child of the test below.
TEST(JournalWin32, ChildWritesEntries) {
    std::string log, id, start;
    if (!GetVariable(kLogVariable, &log) || !GetVariable(kIdVariable, &id) ||
        !GetVariable(kStartVariable, &start)) {
        GTEST_SKIP() << "runs as a child process only";
    }
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(log.c_str()), 0);
    // All children begin writing at once, so their appends really overlap.
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, ToWide(start).c_str());
    ASSERT_NE(go, nullptr);
    EXPECT_EQ(WaitForSingleObject(go, 60000), WAIT_OBJECT_0);
    CloseHandle(go);
    const std::string body = Body();
    for (int n = 0; n < kEntries; ++n) {
        ASSERT_EQ(journal.AddEntryF(EntryKind::Info, "P%s N%d %s", id.c_str(), n, body.c_str()), 0);
    }
}

// The launcher started with "/update" logs into the same file as the one that
// already runs: appends of several processes must neither overwrite nor split
// each other's lines.
TEST(JournalWin32, ProcessesAppendingToOneFileKeepTheirLinesWhole) {
    std::string unused;
    if (GetVariable(kLogVariable, &unused)) GTEST_SKIP();
    TempDir dir;
    const std::string path = dir.File("共享.log");
    const std::string startEvent = "VantorelJournalTestStart" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, ToWide(startEvent).c_str());
    ASSERT_NE(go, nullptr);
    std::vector<HANDLE> children;
    for (int p = 0; p < kProcesses; ++p) {
        HANDLE child = StartChild(path, p, startEvent);
        ASSERT_NE(child, nullptr);
        children.push_back(child);
    }
    Sleep(500);  // let the children reach the start line
    SetEvent(go);
    for (HANDLE child : children) {
        ASSERT_EQ(WaitForSingleObject(child, 120000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(child, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(child);
    }
    CloseHandle(go);

    const std::string content = ReadTextFile(path);
    const std::string body = Body();
    std::vector<int> next(kProcesses, 0);
    size_t lines = 0;
    for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos;
         start = end + 1, ++lines) {
        const std::string line = content.substr(start, end - start);
        int p = -1, n = -1, used = 0;
        ASSERT_GT(line.size(), 31u);
        ASSERT_EQ(std::sscanf(line.c_str() + 31, "P%d N%d %n", &p, &n, &used), 2)
            << line.substr(0, 80);
        ASSERT_TRUE(p >= 0 && p < kProcesses);
        EXPECT_EQ(n, next[p]++);
        EXPECT_TRUE(line.compare(31 + static_cast<size_t>(used), std::string::npos, body) == 0);
    }
    EXPECT_EQ(lines, static_cast<size_t>(kProcesses * kEntries));
}
