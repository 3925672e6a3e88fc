#include "app/win32/launcher_app.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "app/util/launcher_util.h"
#include "app/win32/launcher_dlg.h"
#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "resource.h"

namespace {

// A launcher that does not answer within this time is not waited for any
// longer: the notice stays queued for it, and this process goes on to end.
constexpr UINT kUpdateEndSendTimeoutMs = 120000;

HWND ToHwnd(LauncherWindowId window) { return reinterpret_cast<HWND>(window); }

BOOL CALLBACK FindLauncherProc(HWND hwnd, LPARAM param) {
    static const std::wstring property = ToWide(kLauncherPropertyName);
    if (reinterpret_cast<intptr_t>(GetPropW(hwnd, property.c_str())) != kLauncherPropertyValue) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(param) = hwnd;
    return FALSE;
}

}  // namespace

std::wstring LauncherAppTitle() {
    std::wstring title = LoadResourceString(IDS_APP_TITLE);
    return title.empty() ? L"VantorelLauncher" : title;
}

int CLauncherApp::Run() {
    RunStartup(*this, TheJournal());
    return 0;
}

bool CLauncherApp::IsGameRunning() { return IsProcessRunning(kGameExeName); }

void CLauncherApp::ShowGameRunningMessage(const std::string& text) {
    MessageBoxW(nullptr, ToWide(text).c_str(), LauncherAppTitle().c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

std::string CLauncherApp::CurrentFolder() { return fs_port::CurrentDirectory(); }

std::vector<std::string> CLauncherApp::Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(FromWide(argv[i]));
    LocalFree(argv);
    return arguments;
}

LauncherWindowId CLauncherApp::FindRunningLauncher() {
    HWND found = nullptr;
    EnumWindows(FindLauncherProc, reinterpret_cast<LPARAM>(&found));
    return reinterpret_cast<LauncherWindowId>(found);
}

void CLauncherApp::SendUpdateEnd(LauncherWindowId window) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(ToHwnd(window), kUpdateEndMessage, kUpdateEndWParam, kUpdateEndLParam,
                        SMTO_NORMAL, kUpdateEndSendTimeoutMs, &result);
}

void CLauncherApp::BringToFront(LauncherWindowId window) {
    ShowWindow(ToHwnd(window), SW_SHOWNORMAL);
    SetForegroundWindow(ToHwnd(window));
}

void CLauncherApp::InitCommonControls() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
}

void CLauncherApp::RunMainWindow(bool updateRestart) {
    CLauncherDlg dialog;
    // After an update restart the work files go before the window opens.
    if (updateRestart) dialog.StartTempCleanup();
    const std::vector<std::string> arguments = Arguments();
    if (IsFullVerification(arguments)) dialog.RequestFullVerification();
    if (IsRepairStart(arguments)) dialog.RequestRepair();
    dialog.DoModal();
}
