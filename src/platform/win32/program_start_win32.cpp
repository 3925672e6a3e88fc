#include <windows.h>

#include <shellapi.h>

#include "app/util/launcher_util.h"
#include "platform/win32/wide.h"
#include "update/engine/update_lists.h"
#include "update/install/program_start.h"

bool StartProgramDetached(const std::string& path, const std::string& parameters, int* codeOut) {
    const std::wstring widePath = ToWide(path);
    const std::wstring wideParameters = ToWide(parameters);
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", widePath.c_str(), wideParameters.c_str(), nullptr, SW_SHOW));
    if (result > 32) return true;
    *codeOut = result == 0 ? -1 : static_cast<int>(result);
    return false;
}

bool RunProgramAndWait(const std::string& path, const std::string& parameters, int* exitOut) {
    const std::wstring widePath = ToWide(path);
    const std::wstring wideParameters = ToWide(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = widePath.c_str();
    info.lpParameters = wideParameters.c_str();
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info) || info.hProcess == nullptr) return false;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    *exitOut = static_cast<int>(code);
    return true;
}

void StopLeftoverInstallerProgram() { KillProcessByName(kInstallerFileName); }
