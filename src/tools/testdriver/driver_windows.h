// Window and process helpers of the test driver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ChildProcess {
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// Starts a program (arguments quoted for CommandLineToArgvW) in cwd, or in the
// driver's own current folder when cwd is empty.
bool StartChild(const std::vector<std::string>& args, const std::string& cwd, ChildProcess* childOut);
// Waits for the child to end; its exit code, and closes its handle.
DWORD WaitChild(ChildProcess* child);
// The command-line form of one argument.
std::wstring QuoteArgument(const std::wstring& argument);

// A launcher window (the property holding its value), of that process when pid is not 0.
HWND FindLauncherWindow(DWORD pid);
int CountLauncherWindows();
HWND FindWindowTitled(const std::wstring& title);
// A visible message box of that process.
HWND FindMessageBox(DWORD pid);
std::string MessageBoxText(HWND box);
// IDOK, IDCANCEL, IDYES or IDNO for "ok", "cancel", "yes", "no"; 0 for anything else.
int ButtonId(const std::string& name);
bool PressButton(HWND box, int id);

std::vector<HWND> VisibleWindowsOf(DWORD pid);
std::string WindowText(HWND hwnd);
std::string WindowClass(HWND hwnd);

// Polls find() every 50 ms until it gives a window or timeoutMs has passed.
template <typename Find>
HWND WaitFor(Find find, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (HWND hwnd = find()) return hwnd;
        if (GetTickCount64() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}
