#include <windows.h>

#include <cstdlib>

#include "platform/win32/wide.h"
#include "platform/win32/win_handles.h"
#include "tools/patchkit/operator_console.h"

namespace {

constexpr size_t kMaxLineChars = 4096;

}  // namespace

bool ReadEnvironment(const char* name, std::string* valueOut) {
    const wchar_t* value = _wgetenv(ToWide(name).c_str());
    if (!value) return false;
    *valueOut = FromWide(value);
    return true;
}

bool AskHiddenLine(const std::string& prompt, std::string* lineOut, std::string* whyOut) {
    UniqueHandle input(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    UniqueHandle output(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    DWORD saved = 0;
    if (!input.IsValid() || !output.IsValid() || !GetConsoleMode(input.Get(), &saved)) {
        *whyOut = "no console to ask for the password";
        return false;
    }
    const std::wstring wide = ToWide(prompt);
    DWORD written = 0;
    SetConsoleMode(input.Get(),
                   (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    WriteConsoleW(output.Get(), wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    std::wstring line;
    bool ended = false;
    wchar_t c = 0;
    DWORD got = 0;
    while (!ended && line.size() <= kMaxLineChars &&
           ReadConsoleW(input.Get(), &c, 1, &got, nullptr) && got == 1) {
        if (c == L'\n')
            ended = true;
        else if (c != L'\r')
            line += c;
    }
    SetConsoleMode(input.Get(), saved);
    WriteConsoleW(output.Get(), L"\r\n", 2, &written, nullptr);
    if (!ended) {
        *whyOut = "the password could not be read";
        return false;
    }
    *lineOut = FromWide(line);
    return true;
}

bool RestrictToOwner(const std::string&) {
    return true;
}
