// Stand-in program for the process tests.
//   standin                      records that it ran and ends (exit code 0)
//   standin --sleep MS           sleeps, then ends with exit code 5
//   standin --window TITLE [MS]  shows a top-level window with that title; ends
//                                with 42 when the window is closed, with 3 after
//                                MS milliseconds (default 60000) otherwise
// With VANTOREL_STANDIN_MARKER set in the environment it first appends a line
// with its own path (UTF-8) to that file, so a test can see that it was started.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kMaxSleepMs = 120000;
constexpr DWORD kDefaultWindowMs = 60000;
constexpr int kExitClosed = 42;
constexpr int kExitTimedOut = 3;
constexpr int kExitSlept = 5;
constexpr UINT_PTR kTimerId = 1;

void RecordStart() {
    wchar_t marker[1024];
    const DWORD n = GetEnvironmentVariableW(L"VANTOREL_STANDIN_MARKER", marker, 1024);
    if (n == 0 || n >= 1024) return;
    wchar_t self[1024];
    const DWORD length = GetModuleFileNameW(nullptr, self, 1024);
    if (length == 0 || length >= 1024) return;
    char utf8[4096];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, self, static_cast<int>(length), utf8,
                                          sizeof(utf8) - 1, nullptr, nullptr);
    if (bytes <= 0) return;
    utf8[bytes] = '\n';
    FILE* file = _wfopen(marker, L"ab");
    if (!file) return;
    std::fwrite(utf8, 1, static_cast<size_t>(bytes) + 1, file);
    std::fclose(file);
}

DWORD ParseMs(const wchar_t* text, DWORD fallback) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    if (end == text || value > kMaxSleepMs) return fallback;
    return static_cast<DWORD>(value);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        PostQuitMessage(kExitClosed);
        return 0;
    case WM_TIMER:
        DestroyWindow(window);
        PostQuitMessage(kExitTimedOut);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int ShowTitledWindow(const wchar_t* title, DWORD lifetimeMs) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VantorelStandIn";
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, kTimerId, lifetimeMs, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int main() {
    RecordStart();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;
    int result = 0;
    if (argc >= 3 && std::wcscmp(argv[1], L"--sleep") == 0) {
        Sleep(ParseMs(argv[2], kMaxSleepMs));
        result = kExitSlept;
    } else if (argc >= 3 && std::wcscmp(argv[1], L"--window") == 0) {
        result = ShowTitledWindow(argv[2], argc >= 4 ? ParseMs(argv[3], kDefaultWindowMs)
                                                     : kDefaultWindowMs);
    }
    LocalFree(argv);
    return result;
}
