#include "ui/win32/bind_weibo_dlg.h"

#include <utility>

#include "ui/win32/ui_ids.h"

namespace {

constexpr int kFrameWidth = 688;
constexpr int kFrameHeight = 370;

}  // namespace

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
    m_nSkinID = ui_ids::kSkinBitmap;
    (void)CBaseDialog::OnInitDialog();
    ::SetWindowTextW(m_hWnd, LoadResourceString(ui_ids::kAppTitleString).c_str());

    SetUpSkinButton(m_btnMinimise, ui_ids::kMinimiseIcons, ui_ids::kHandCursor);
    SetUpSkinButton(m_btnClose, ui_ids::kCloseIcons, ui_ids::kHandCursor);
    MoveControl(ui_ids::kWeiboMinimise, 699, 25);
    MoveControl(ui_ids::kWeiboClose, 740, 25);

    MoveControl(ui_ids::kWeiboFrame, 33, 91);
    // The frame lies under the browser and must never paint over it.
    const HWND frame = m_stcFrame.GetSafeHwnd();
    ::SetWindowLongW(frame, GWL_STYLE, ::GetWindowLongW(frame, GWL_STYLE) | WS_CLIPSIBLINGS);
    LoadFramePieces(m_stcFrame, ui_ids::kFrameFirstIcon, kFrameWidth, kFrameHeight);

    (void)m_stcImage1.SetPiece(0, ui_ids::kTileIcon1, 0, 0);
    (void)m_stcImage2.SetPiece(0, ui_ids::kTileIcon2, 0, 0);
    MoveControl(ui_ids::kWeiboTile1, 23, 591);
    MoveControl(ui_ids::kWeiboTile2, 170, 591);

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
