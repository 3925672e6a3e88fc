// VantorelPath.exe: a GUI-subsystem program without any window of its own.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "folder_lock_win32.h"
#include "installer_program.h"
#include "platform/win32/wide.h"

namespace {

std::string OwnFolder() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = FromWide(buffer);
    return path.substr(0, path.find_last_of("\\/"));
}

std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(FromWide(list[i]));
    LocalFree(list);
    return arguments;
}

// Through the shell, as the launcher asks for administrator rights; the
// launcher keeps the current folder, where it puts its log.
bool StartLauncher(const std::string& launcherPath, std::string* errorOut) {
    const std::wstring file = ToWide(launcherPath);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = L"/update";
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    *errorOut = "error " + std::to_string(GetLastError());
    return false;
}

// The folder's mutex, held until the process ends (the handle is not
// inherited by the launcher it starts).
bool TakeFolderLock(const std::string& folder) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, FolderLockName(folder).c_str());
    if (!mutex) return true;  // no lock to be had: work as without one
    const DWORD waited = WaitForSingleObject(mutex, kFolderLockWaitMs);
    // Abandoned: the holder was killed, and its journal tells this run what to settle.
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InstallerPlatform platform;
    platform.ownFolder = OwnFolder();
    platform.arguments = Arguments();
    platform.launcherName = "VantorelLauncher.exe";
    platform.startLauncher = StartLauncher;
    platform.killSelf = [] { TerminateProcess(GetCurrentProcess(), 9); };
    platform.takeFolderLock = [&platform] { return TakeFolderLock(platform.ownFolder); };
    return RunInstallerProgram(platform);
}
