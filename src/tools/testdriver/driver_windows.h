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

// One line on stdout, flushed at once: the scripts read it while the driver still runs.
void Print(const std::string& line);

std::vector<HWND> VisibleWindowsOf(DWORD pid);

// What a player sees of one control of a dialog: whether it exists, whether
// it takes clicks, and its window text.
struct ControlState {
    bool exists = false;
    bool enabled = false;
    std::string text;

    bool operator==(const ControlState& other) const {
        return exists == other.exists && enabled == other.enabled && text == other.text;
    }
    bool operator!=(const ControlState& other) const { return !(*this == other); }
};
ControlState ReadControl(HWND dialog, int id);
// Clicks an enabled, visible control the way the mouse does: BM_CLICK makes
// the button press and release itself, so it notifies its dialog as on a
// real click (and an owner-drawn button runs its own click handling too).
// Posted, because the click may open a modal box that waits for an answer.
bool ClickControl(HWND dialog, int id);
// True when text equals wanted, or contains it when contains is set.
bool TextMatches(const std::string& text, const std::string& wanted, bool contains);
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
