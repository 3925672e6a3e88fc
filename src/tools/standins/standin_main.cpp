// Stand-in for a sibling program of the launcher (the game, its settings
// tool), used by the demo and the tests only. It shows one window titled with
// its name and leaves a marker file "<name>.started" beside itself that holds
// its command line, so a test can see that it was started and with what.
#include <windows.h>

#include <string>

#include "platform/file_system.h"
#include "platform/win32/wide.h"

#ifndef STANDIN_NAME
#error "STANDIN_NAME must name the program this stands in for"
#endif

namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

void WriteMarker() {
    const std::string marker = FromWide(OwnFolder()) + "\\" STANDIN_NAME ".started";
    const std::string commandLine = FromWide(GetCommandLineW());
    if (std::FILE* f = fs_port::OpenFile(marker, "wb")) {
        std::fwrite(commandLine.data(), 1, commandLine.size(), f);
        std::fclose(f);
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WriteMarker();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"VantorelStandIn";
    RegisterClassW(&windowClass);
    HWND hwnd = CreateWindowW(L"VantorelStandIn", ToWide(STANDIN_NAME).c_str(),
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 200, nullptr,
                              nullptr, instance, nullptr);
    if (!hwnd) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
