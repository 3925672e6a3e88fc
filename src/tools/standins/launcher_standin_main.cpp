// Stand-in for the launcher in the installer program's tests: appends its
// arguments as one line to "launcher_calls.txt" beside itself; started with
// "wait" it keeps running until a file "release" appears there (at most a
// minute), so that a test can install over a running program.
#include <windows.h>

#include <shellapi.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string line;
    for (int i = 1; args && i < count; ++i) {
        if (i > 1) line += ' ';
        for (const wchar_t* c = args[i]; *c; ++c) line += static_cast<char>(*c);
    }
    line += '\n';
    HANDLE file = CreateFileW((folder + L"\\launcher_calls.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    const bool wait = args && count > 1 && lstrcmpW(args[1], L"wait") == 0;
    const std::wstring release = folder + L"\\release";
    for (int i = 0; wait && i < 600; ++i) {
        if (GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    if (args) LocalFree(args);
    return 0;
}
