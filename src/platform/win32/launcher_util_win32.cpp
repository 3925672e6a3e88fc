// Win32 side of the process, shell and window utilities of launcher_util.h.
#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win_handles.h"

namespace {

// Walks the process snapshot from its first entry and returns the id of the
// first process whose executable name equals exeName exactly.
bool FindFirstProcess(const std::wstring& exeName, DWORD* idOut) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (exeName == entry.szExeFile) {
            *idOut = entry.th32ProcessID;
            return true;
        }
    }
    return false;
}

struct CloseRequest {
    std::wstring title;
};

BOOL CALLBACK CloseIfTitled(HWND window, LPARAM param) {
    const auto* request = reinterpret_cast<const CloseRequest*>(param);
    // A window of this process may belong to a thread that waits for the
    // caller (the window's thread joining the cleanup): asking it for its
    // title would never return. Nor is the launcher to close its own windows.
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId()) return TRUE;
    const int length = GetWindowTextLengthW(window);
    if (length != static_cast<int>(request->title.size())) return TRUE;
    std::wstring title(static_cast<size_t>(length) + 1, L'\0');
    title.resize(static_cast<size_t>(GetWindowTextW(window, title.data(), length + 1)));
    if (title == request->title) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;  // every window of that title is asked, never stop early
}

}  // namespace

// The module path is read into a buffer that grows until the whole path fits,
// so installations below long folder names work too.
std::string GetLauncherFolder() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
        if (length == 0) return fs_port::CurrentDirectory();
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const size_t slash = buffer.rfind(L'\\');
    // A module path without a folder part: the executable was found in the
    // current folder.
    if (slash == std::wstring::npos) return fs_port::CurrentDirectory();
    return FromWide(std::wstring_view(buffer).substr(0, slash));
}

bool RunProgram(const char* path) {
    if (!path || !*path) return false;
    const std::wstring file = ToWide(path);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error dialogs; and finish the start before returning, because the
    // launcher may end right after starting the game.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWDEFAULT;
    return ShellExecuteExW(&info) != FALSE;
}

bool IsProcessRunning(const char* exeName) {
    if (!exeName || !*exeName) return false;
    DWORD id = 0;
    return FindFirstProcess(ToWide(exeName), &id);
}

void KillProcessByName(const char* exeName) {
    if (!exeName || !*exeName) return;
    DWORD id = 0;
    if (!FindFirstProcess(ToWide(exeName), &id)) return;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, id));
    if (process.IsValid()) TerminateProcess(process.Get(), 0);
}

void CloseWindowsTitled(const char* title) {
    if (!title || !*title) return;
    CloseRequest request{ToWide(title)};
    EnumWindows(CloseIfTitled, reinterpret_cast<LPARAM>(&request));
}
