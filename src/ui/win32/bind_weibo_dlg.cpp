#include "ui/win32/bind_weibo_dlg.h"

#include <utility>

#include "ui/win32/ui_ids.h"

CBindWeiBoDlg::CBindWeiBoDlg(std::string host, std::string pageOverride)
    : CBaseDialog(ui_ids::kBindWeiboTemplate),
      m_hAppIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ui_ids::kAppIcon))),
      m_strHost(std::move(host)),
      m_strPageOverride(std::move(pageOverride)) {}

CBindWeiBoDlg::~CBindWeiBoDlg() {
    DestroyWindow();
}

std::string CBindWeiBoDlg::PageAddress() const {
    return m_strPageOverride.empty() ? "http://" + m_strHost + kBindWeiboPath : m_strPageOverride;
}

void CBindWeiBoDlg::DoDataExchange() {
    (void)m_browser.SubclassDlgItem(ui_ids::kWeiboBrowser, m_hWnd);
    (void)m_btnMinimise.SubclassDlgItem(ui_ids::kWeiboMinimise, m_hWnd);
    (void)m_btnClose.SubclassDlgItem(ui_ids::kWeiboClose, m_hWnd);
    (void)m_stcFrame.SubclassDlgItem(ui_ids::kWeiboFrame, m_hWnd);
    (void)m_stcImage1.SubclassDlgItem(ui_ids::kWeiboTile1, m_hWnd);
    (void)m_stcImage2.SubclassDlgItem(ui_ids::kWeiboTile2, m_hWnd);
}

BOOL CBindWeiBoDlg::OnInitDialog() {
    StartSecondaryWindow({m_btnMinimise, {699, 25}, m_btnClose, {740, 25}, m_stcFrame, {33, 91}, m_stcImage1,
                          m_stcImage2});
    // The frame lies under the browser and must never paint over it.
    const HWND frame = m_stcFrame.GetSafeHwnd();
    ::SetWindowLongW(frame, GWL_STYLE, ::GetWindowLongW(frame, GWL_STYLE) | WS_CLIPSIBLINGS);

    m_browser.put_Left(37);
    m_browser.put_Top(95);
    m_browser.put_Width(720);
    m_browser.put_Height(402);
    m_browser.Navigate(PageAddress());
    m_browser.BringToTopAndUpdate();
    return TRUE;
}

INT_PTR CBindWeiBoDlg::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (HandleSecondaryWindowMessage(message, wParam, lParam, m_hAppIcon, &result)) {
        return result;
    }
    if (message == WM_COMMAND) {
        return OnCommand(LOWORD(wParam));
    }
    return CBaseDialog::DialogProc(message, wParam, lParam);
}

INT_PTR CBindWeiBoDlg::OnCommand(int id) {
    switch (id) {
        case ui_ids::kWeiboMinimise:
            OnMinimize();
            return TRUE;
        case ui_ids::kWeiboClose:
            OnClose();
            return TRUE;
        case IDCANCEL:
            return TRUE;  // Escape does not close the window
        default:
            return FALSE;
    }
}

bool CBindWeiBoDlg::PreTranslateMessage(MSG* msg) {
    return FilterSecondaryWindowMessage(*msg);
}
