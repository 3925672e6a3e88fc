#include "tools/testdriver/driver_windows.h"

#include <cstdio>

#include "app/startup.h"
#include "platform/win32/wide.h"

namespace {

// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

struct WindowSearch {
    DWORD pid = 0;
    std::vector<HWND> found;
    bool (*accept)(HWND hwnd, const WindowSearch& search) = nullptr;
    std::wstring title;
};

DWORD ProcessOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

bool IsLauncher(HWND hwnd) {
    static const std::wstring property = ToWide(kLauncherPropertyName);
    return reinterpret_cast<intptr_t>(GetPropW(hwnd, property.c_str())) == kLauncherPropertyValue;
}

BOOL CALLBACK CollectProc(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    if (search->accept(hwnd, *search)) search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Collect(WindowSearch search) {
    EnumWindows(CollectProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND First(const std::vector<HWND>& windows) { return windows.empty() ? nullptr : windows.front(); }

bool OfProcess(HWND hwnd, const WindowSearch& search) {
    return search.pid == 0 || ProcessOf(hwnd) == search.pid;
}

}  // namespace

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Back-slashes count double only before a quote.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

bool StartChild(const std::vector<std::string>& args, const std::string& cwd, ChildProcess* childOut) {
    std::wstring commandLine;
    for (const std::string& arg : args) {
        if (!commandLine.empty()) commandLine.push_back(L' ');
        commandLine += QuoteArgument(ToWide(arg));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const std::wstring folder = ToWide(cwd);
    if (!CreateProcessW(ToWide(args[0]).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, cwd.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    childOut->process = info.hProcess;
    childOut->pid = info.dwProcessId;
    return true;
}

DWORD WaitChild(ChildProcess* child) {
    WaitForSingleObject(child->process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child->process, &code);
    CloseHandle(child->process);
    child->process = nullptr;
    return code;
}

HWND FindLauncherWindow(DWORD pid) {
    WindowSearch search;
    search.pid = pid;
    search.accept = [](HWND hwnd, const WindowSearch& s) { return OfProcess(hwnd, s) && IsLauncher(hwnd); };
    return First(Collect(search));
}

int CountLauncherWindows() {
    WindowSearch search;
    search.accept = [](HWND hwnd, const WindowSearch&) { return IsLauncher(hwnd); };
    return static_cast<int>(Collect(search).size());
}

HWND FindWindowTitled(const std::wstring& title) {
    WindowSearch search;
    search.title = title;
    search.accept = [](HWND hwnd, const WindowSearch& s) { return ToWide(WindowText(hwnd)) == s.title; };
    return First(Collect(search));
}

HWND FindMessageBox(DWORD pid) {
    WindowSearch search;
    search.pid = pid;
    search.accept = [](HWND hwnd, const WindowSearch& s) {
        return OfProcess(hwnd, s) && IsWindowVisible(hwnd) && WindowClass(hwnd) == "#32770" &&
               !IsLauncher(hwnd) && GetDlgItem(hwnd, kMessageBoxTextId) != nullptr;
    };
    return First(Collect(search));
}

std::string MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, kMessageBoxTextId)); }

int ButtonId(const std::string& name) {
    if (name == "ok") return IDOK;
    if (name == "cancel") return IDCANCEL;
    if (name == "yes") return IDYES;
    if (name == "no") return IDNO;
    return 0;
}

bool PressButton(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    if (!button) return false;
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

std::vector<HWND> VisibleWindowsOf(DWORD pid) {
    WindowSearch search;
    search.pid = pid;
    search.accept = [](HWND hwnd, const WindowSearch& s) { return OfProcess(hwnd, s) && IsWindowVisible(hwnd); };
    return Collect(search);
}

// WM_GETTEXT rather than GetWindowText: the latter does not read the text of
// another process's controls.
std::string WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length)) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, 5000, &copied)) {
        return {};
    }
    text.resize(static_cast<size_t>(copied));
    return FromWide(text);
}

std::string WindowClass(HWND hwnd) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(hwnd, name, 256);
    return FromWide(std::wstring(name, static_cast<size_t>(length > 0 ? length : 0)));
}

ControlState ReadControl(HWND dialog, int id) {
    ControlState state;
    HWND control = IsWindow(dialog) ? GetDlgItem(dialog, id) : nullptr;
    if (!control) return state;
    state.exists = true;
    state.enabled = IsWindowEnabled(control) != FALSE;
    state.text = WindowText(control);
    return state;
}

bool ClickControl(HWND dialog, int id) {
    HWND control = IsWindow(dialog) ? GetDlgItem(dialog, id) : nullptr;
    // A player cannot click what is greyed out or not shown.
    if (!control || !IsWindowEnabled(control) || !IsWindowVisible(control)) return false;
    return PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
}

bool TextMatches(const std::string& text, const std::string& wanted, bool contains) {
    return contains ? text.find(wanted) != std::string::npos : text == wanted;
}

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
