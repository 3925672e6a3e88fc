#include "app/win32/launcher_dlg.h"

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "maintenance/log_package.h"
#include "platform/win32/wide.h"
#include "resource.h"

namespace {

constexpr char kSettingsToolName[] = "GameConfig.exe";

}  // namespace

INT_PTR CLauncherDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            return OnSkinnedPaint(m_hAppIcon);
        case WM_NCHITTEST:
            return OnNcHitTestTop(lParam);
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam));
        case kUpdateEndMessage:
            m_pCycle->OnUpdateEnd(wParam, lParam);
            return SetResult(0);
        case kPostStatusText:
        case kPostVersionLine:
        case kPostEnableButton:
        case kPostProgress:
        case kPostEndProgress:
        case kPostUpdateRole:
            return OnPosted(message, wParam, lParam);
        case WM_SYSCOMMAND:
            // A close command sent straight to the window (Alt+F4) asks too.
            if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
            OnCloseButton();
            return TRUE;
        case WM_CLOSE:
            EndDialog(0);
            return TRUE;
        case WM_DESTROY:
            DrainPostedTexts();
            ::RemovePropW(m_hWnd, ToWide(kLauncherPropertyName).c_str());
            return FALSE;
        default:
            return CBaseDialog::DialogProc(message, wParam, lParam);
    }
}

INT_PTR CLauncherDlg::OnCommand(int id) {
    switch (id) {
        case IDC_BTN_START:
            OnStartGame();
            return TRUE;
        case IDC_BTN_SETTINGS:
            OnGameSettings();
            return TRUE;
        case IDC_BTN_SYSINFO:
            OnSystemInfo();
            return TRUE;
        case IDC_BTN_UPDATE:
            OnUpdateButton();
            return TRUE;
        case IDC_BTN_SUPPORT:
            OnSupport();
            return TRUE;
        case IDC_BTN_MINIMISE:
            OnMinimize();
            return TRUE;
        case IDC_BTN_CLOSE:
            OnCloseButton();
            return TRUE;
        case IDCANCEL:
            EndDialog(0);  // the framework's own cancel handling
            return TRUE;
        default:
            // 1000, 1002 and 1003 open their links themselves.
            return FALSE;
    }
}

void CLauncherDlg::OnStartGame() {
    // The launcher closes whether or not the game started.
    (void)RunLauncherProgram(kGameExeName);
    EndDialog(0);
}

void CLauncherDlg::OnGameSettings() { (void)RunLauncherProgram(kSettingsToolName); }

void CLauncherDlg::OnSystemInfo() {
    const HWND info = m_dlgSysInfo.GetSafeHwnd();
    if (info == nullptr) return;
    RECT mine{}, theirs{};
    ::GetWindowRect(m_hWnd, &mine);
    ::GetWindowRect(info, &theirs);
    const int width = theirs.right - theirs.left;
    const int height = theirs.bottom - theirs.top;
    const int x = mine.left + ((mine.right - mine.left) - width) / 2;
    const int y = mine.top + ((mine.bottom - mine.top) - height) / 2;
    ::SetWindowPos(info, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (::IsWindowVisible(info)) {
        ::SetFocus(info);
    } else {
        ::ShowWindow(info, SW_SHOWNORMAL);
    }
}

void CLauncherDlg::OnSupport() {
    // The button has opened the support page already.
    BuildLogPackage(m_strLauncherFolder);
}

bool CLauncherDlg::AskQuit() {
    std::wstring question = LoadResourceString(IDS_QUIT_QUESTION);
    return ::MessageBoxW(m_hWnd, question.c_str(), m_strTitle.c_str(), MB_OKCANCEL | MB_ICONINFORMATION) ==
           IDOK;
}

void CLauncherDlg::OnCloseButton() {
    if (AskQuit()) EndDialog(0);
}

bool CLauncherDlg::PreTranslateMessage(MSG* msg) {
    // The main window asks before a system close; the rest is filtered as in
    // every skinned window.
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == SC_CLOSE) {
        OnCloseButton();
        return true;
    }
    return FilterSecondaryWindowMessage(*msg);
}

INT_PTR CLauncherDlg::OnNcHitTestTop(LPARAM lParam) {
    const LRESULT hit = ::DefWindowProcW(m_hWnd, WM_NCHITTEST, 0, lParam);
    if (hit != HTCLIENT) return SetResult(hit);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return SetResult(HTCAPTION);
}
