#include "sysinfo/win32/system_info_dlg.h"

#include <cstring>
#include <utility>

#include "platform/win32/wide.h"
#include "platform/win32/win_handles.h"
#include "sysinfo/report_text.h"
#include "ui/win32/ui_ids.h"

namespace {

// Tabs are expanded: the report joins two facts per line with a tab, which
// would otherwise be drawn as a glyph of its own.
constexpr UINT kReportFormat = DT_WORDBREAK | DT_EDITCONTROL | DT_EXPANDTABS;
constexpr wchar_t kCopiedText[] = L"复制成功!";

SystemFacts CollectFacts() {
    CSysInfo collector;
    collector.Collect();
    SystemFacts facts;
    collector.GetReport(&facts);
    return facts;
}

// Hands `bytes` to the clipboard in `format`; the clipboard owns the block
// only when it accepted it.
bool SetClipboardBlock(UINT format, const void* bytes, size_t size) {
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size));
    if (!block) {
        return false;
    }
    {
        GlobalLockGuard lock(block.Get());
        if (lock.Data() == nullptr) {
            return false;
        }
        std::memcpy(lock.Data(), bytes, size);
    }
    if (::SetClipboardData(format, block.Get()) == nullptr) {
        return false;
    }
    (void)block.Release();
    return true;
}

}  // namespace

CSystemInfoDlg::CSystemInfoDlg() : CSystemInfoDlg(&CollectFacts) {}

CSystemInfoDlg::CSystemInfoDlg(FactsSource source)
    : CBaseDialog(ui_ids::kSystemInfoTemplate),
      m_hAppIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ui_ids::kAppIcon))),
      m_source(std::move(source)) {}

CSystemInfoDlg::~CSystemInfoDlg() {
    DestroyWindow();
}

void CSystemInfoDlg::DoDataExchange() {
    (void)m_stcPanel.SubclassDlgItem(ui_ids::kSysInfoPanel, m_hWnd);
    (void)m_stcReport.SubclassDlgItem(ui_ids::kSysInfoReport, m_hWnd);
    (void)m_btnMinimise.SubclassDlgItem(ui_ids::kSysInfoMinimise, m_hWnd);
    (void)m_btnClose.SubclassDlgItem(ui_ids::kSysInfoClose, m_hWnd);
    (void)m_btnCopy.SubclassDlgItem(ui_ids::kSysInfoCopy, m_hWnd);
    (void)m_btnDismiss.SubclassDlgItem(ui_ids::kSysInfoDismiss, m_hWnd);
    (void)m_stcImage1.SubclassDlgItem(ui_ids::kSysInfoTile1, m_hWnd);
    (void)m_stcImage2.SubclassDlgItem(ui_ids::kSysInfoTile2, m_hWnd);
    (void)m_stcTitle.SubclassDlgItem(ui_ids::kSysInfoTitle, m_hWnd);
}

BOOL CSystemInfoDlg::OnInitDialog() {
    StartSecondaryWindow({m_btnMinimise, {679, 35}, m_btnClose, {720, 35}, m_stcPanel, {47, 81}, m_stcImage1,
                          m_stcImage2});
    ::ShowWindow(m_stcImage1.GetSafeHwnd(), SW_HIDE);
    ::ShowWindow(m_stcImage2.GetSafeHwnd(), SW_HIDE);

    SetUpSkinButton(m_btnCopy, ui_ids::kCopyIcons, ui_ids::kHandCursor);
    SetUpSkinButton(m_btnDismiss, ui_ids::kDismissIcons, ui_ids::kHandCursor);
    MoveControl(ui_ids::kSysInfoCopy, 328, 540);
    MoveControl(ui_ids::kSysInfoDismiss, 554, 540);
    (void)m_stcTitle.SetPiece(0, ui_ids::kSystemInfoTitleIcon, 0, 0);
    MoveControl(ui_ids::kSysInfoTitle, 23, 40);

    BuildReport();
    m_stcReport.m_nFormat = kReportFormat;
    m_stcReport.SetText(m_strReport);

    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = client.left + 65;
    const int y = client.top + 105;
    ::MoveWindow(m_stcReport.GetSafeHwnd(), x, y, (client.right - 71) - x, 600 - y, TRUE);
    // Overlapping labels do not clip each other and sibling windows paint from
    // the top of the order down: the report goes right under the panel so that
    // its text is drawn after the panel's face, on top of it.
    ::SetWindowPos(m_stcReport.GetSafeHwnd(), m_stcPanel.GetSafeHwnd(), 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

void CSystemInfoDlg::BuildReport() {
    m_facts = m_source ? m_source() : SystemFacts{};
    m_strReport += ::BuildReport(m_facts);
}

bool CSystemInfoDlg::PutReportOnClipboard() const {
    ::EmptyClipboard();
    // Unicode keeps every character on a system of any language; the ANSI
    // copy is for programs that read only plain text.
    const std::wstring wide = ToWide(m_strReport);
    const int wideChars = static_cast<int>(wide.size()) + 1;
    bool stored = SetClipboardBlock(CF_UNICODETEXT, wide.c_str(), static_cast<size_t>(wideChars) * sizeof(wchar_t));
    const int ansiBytes = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), wideChars, nullptr, 0, nullptr, nullptr);
    if (ansiBytes <= 0) {
        return false;
    }
    std::string ansi(static_cast<size_t>(ansiBytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), wideChars, ansi.data(), ansiBytes, nullptr, nullptr);
    stored = SetClipboardBlock(CF_TEXT, ansi.data(), ansi.size()) && stored;
    return stored;
}

void CSystemInfoDlg::OnCopyReport() {
    if (!::OpenClipboard(m_hWnd)) {
        return;  // someone else holds the clipboard: nothing copied, nothing said
    }
    const bool stored = PutReportOnClipboard();
    ::CloseClipboard();
    if (!stored) {
        return;  // never claim a copy that did not happen
    }
    ::MessageBoxW(m_hWnd, kCopiedText, LoadResourceString(ui_ids::kAppTitleString).c_str(), MB_ICONINFORMATION);
}

INT_PTR CSystemInfoDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (HandleSecondaryWindowMessage(message, wParam, lParam, m_hAppIcon, &result)) {
        return result;
    }
    if (message == WM_COMMAND) {
        return OnCommand(LOWORD(wParam));
    }
    return CBaseDialog::DialogProc(message, wParam, lParam);
}

INT_PTR CSystemInfoDlg::OnCommand(int id) {
    switch (id) {
        case ui_ids::kSysInfoMinimise:
            OnMinimize();
            return TRUE;
        case ui_ids::kSysInfoClose:
        case ui_ids::kSysInfoDismiss:
            OnClose();
            return TRUE;
        case ui_ids::kSysInfoCopy:
            OnCopyReport();
            return TRUE;
        case IDCANCEL:
            return TRUE;  // Escape does not close the window
        default:
            return FALSE;
    }
}

bool CSystemInfoDlg::PreTranslateMessage(MSG* msg) {
    return FilterSecondaryWindowMessage(*msg);
}
