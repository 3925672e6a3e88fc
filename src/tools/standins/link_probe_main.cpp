// Started by the button tests as a button's link: appends the show command it
// was started with to the file named by VANTOREL_LINK_PROBE_MARKER, then ends.
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t marker[1024];
    const DWORD n = ::GetEnvironmentVariableW(L"VANTOREL_LINK_PROBE_MARKER", marker, 1024);
    if (n == 0 || n >= 1024) {
        return 1;
    }
    STARTUPINFOW info{};
    info.cb = sizeof(info);
    ::GetStartupInfoW(&info);
    FILE* file = _wfopen(marker, L"ab");
    if (file == nullptr) {
        return 1;
    }
    if ((info.dwFlags & STARTF_USESHOWWINDOW) != 0) {
        std::fprintf(file, "%u\n", static_cast<unsigned>(info.wShowWindow));
    } else {
        std::fprintf(file, "none\n");
    }
    std::fclose(file);
    return 0;
}
