#include "app/win32/launcher_dlg.h"

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "resource.h"
#include "external/journal.h"
#include "platform/win32/wide.h"

namespace {

const std::wstring& LauncherPropertyName() {
    static const std::wstring name = ToWide(kLauncherPropertyName);
    return name;
}

// Template 102 names the web-browser control by its class identifier as a
// window class. Until the browser is hosted there, a plain empty child stands
// in its place, so that the dialog can be created at all.
void RegisterBrowserPlaceholder() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"" VANTOREL_BROWSER_CLASS;
    RegisterClassW(&windowClass);  // fails harmlessly when it is registered already
}

}  // namespace

CLauncherDlg::CLauncherDlg() : m_strLauncherFolder(GetLauncherFolder()) {}

INT_PTR CLauncherDlg::DoModal() {
    RegisterBrowserPlaceholder();
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LAUNCHER), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CLauncherDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CLauncherDlg*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->HandleMessage(message, wParam, lParam);
    }
    auto* self = reinterpret_cast<CLauncherDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CLauncherDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case kUpdateEndMessage:
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnUpdateEnd(wParam, lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(m_hWnd, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(m_hWnd, 0);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CLauncherDlg::OnInitDialog() {
    // A second launcher finds this one by the property.
    SetPropW(m_hWnd, LauncherPropertyName().c_str(),
             reinterpret_cast<HANDLE>(kLauncherPropertyValue));
    LoadSettings();
    TheJournal().AddEntry(EntryKind::Info, "初始化Launcher完成");
    return TRUE;
}

void CLauncherDlg::OnDestroy() { RemovePropW(m_hWnd, LauncherPropertyName().c_str()); }

bool CLauncherDlg::LoadSettings() {
    LoadLauncherSettings(m_strLauncherFolder, &m_settings);
    return true;
}

LRESULT CLauncherDlg::OnUpdateEnd(WPARAM wParam, LPARAM lParam) {
    if (wParam != kUpdateEndWParam || lParam != kUpdateEndLParam) return 0;
    TheJournal().AddEntry(EntryKind::Notice, "Update end.");
    return 0;
}
