#include "app/win32/launcher_dlg.h"

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/win32/wide.h"
#include "resource.h"
#include "trust/built_in_keys.h"
#include "update/fetch/release_trust.h"

namespace {

struct ButtonPlace {
    int id;
    int icons[4];  // normal, hover, pressed, disabled
    int x;
    int y;
    bool hidden;
};

// The buttons in the order of m_aButtons, with their looks and places.
constexpr ButtonPlace kButtonPlaces[kLauncherButtonCount] = {
    {IDC_BTN_SETTINGS, {324, 325, 326, 327}, 140, 38, false},
    {IDC_BTN_WEIBO, {308, 309, 310, 311}, 140, 38, true},
    {IDC_BTN_SYSINFO, {328, 329, 330, 331}, 267, 38, false},
    {IDC_BTN_SUPPORT, {304, 305, 306, 307}, 398, 38, false},
    {IDC_BTN_HOME, {300, 301, 302, 303}, 528, 38, false},
    {IDC_BTN_MINIMISE, {348, 349, 350, 351}, 679, 35, false},
    {IDC_BTN_CLOSE, {352, 353, 354, 355}, 720, 35, false},
    {IDC_BTN_SHOP, {312, 313, 314, 315}, 47, 521, false},
    {IDC_BTN_UPDATE, {332, 333, 334, 335}, 272, 521, false},
    {IDC_BTN_START, {320, 321, 322, 323}, 624, 507, false},
};

constexpr int kFramePieceWidth = 678;
constexpr int kFramePieceHeight = 370;
constexpr COLORREF kLineTextColour = RGB(255, 255, 255);
constexpr COLORREF kLineFillColour = RGB(18, 7, 5);
// The progress bar spans the free strip of the skin between the shop and
// update buttons and the text panel, from the shop button's left edge to
// the panel's right one.
constexpr RECT kProgressBarPlace = {47, 572, 624, 588};

const std::wstring& LauncherPropertyName() {
    static const std::wstring name = ToWide(kLauncherPropertyName);
    return name;
}

}  // namespace

CLauncherDlg::CLauncherDlg()
    : CBaseDialog(IDD_LAUNCHER),
      m_hAppIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP))),
      m_strLauncherFolder(GetLauncherFolder()),
      m_pPort(std::make_shared<LauncherWindowPort>(m_strLauncherFolder)) {
    m_bLayered = FALSE;
    auto updater = std::make_shared<CGameUpdater>(m_strLauncherFolder);
    std::vector<MinisignPublicKey> keys;
    const bool checkReleases = BuiltInTrustKeys(&keys);
    LogTrustKeys(keys, checkReleases);
    if (checkReleases) updater->UseTrustKeys(std::move(keys));
    m_pCycle = std::make_unique<CUpdateCycle>(m_pPort, MakeGameUpdaterEngine(updater, m_pPort), TheJournal());
}

CLauncherDlg::~CLauncherDlg() {
    // The worker is asked to stop and waited for a bounded time; one that
    // does not stop keeps the port and the updater, and reaches no window.
    m_pPort->StopTempCleanup();
    m_pCycle.reset();
    m_pPort->Detach();
    DestroyWindow();
}

void CLauncherDlg::DoDataExchange() {
    (void)m_browser.SubclassDlgItem(IDC_BROWSER, m_hWnd);
    (void)m_stcImage1.SubclassDlgItem(IDC_IMAGE1, m_hWnd);
    (void)m_stcImage2.SubclassDlgItem(IDC_IMAGE2, m_hWnd);
    (void)m_stcVersion.SubclassDlgItem(IDC_VERSION_LINE, m_hWnd);
    (void)m_stcStatus.SubclassDlgItem(IDC_STATUS_LINE, m_hWnd);
    (void)m_stcProgress.SubclassDlgItem(IDC_PROGRESS_BAR, m_hWnd);
    (void)m_stcFrame.SubclassDlgItem(IDC_BROWSER_FRAME, m_hWnd);
    for (int i = 0; i < kLauncherButtonCount; ++i) {
        (void)m_aButtons[i].SubclassDlgItem(kButtonPlaces[i].id, m_hWnd);
    }
}

CXButton& CLauncherDlg::Button(int id) {
    for (int i = 0; i < kLauncherButtonCount; ++i) {
        if (kButtonPlaces[i].id == id) return m_aButtons[i];
    }
    return m_aButtons[0];
}

BOOL CLauncherDlg::OnInitDialog() {
    m_nSkinID = IDB_SKIN;
    (void)CBaseDialog::OnInitDialog();
    m_strTitle = LoadResourceString(IDS_APP_TITLE);
    ::SetWindowTextW(m_hWnd, m_strTitle.c_str());
    // A second launcher finds this one by the property.
    ::SetPropW(m_hWnd, LauncherPropertyName().c_str(),
               reinterpret_cast<HANDLE>(kLauncherPropertyValue));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
    LoadSettings();
    m_pPort->Attach(m_hWnd, m_strTitle, m_settings);
    SetupSkin();
    PlaceControls();
    TheJournal().AddEntry(EntryKind::Info, "初始化Launcher完成");
    ShowVersionLine(m_pPort->InstalledVersion());
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_BTN_UPDATE), FALSE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_BTN_START), TRUE);
    m_pCycle->BeginUpdateCheck();
    return TRUE;
}

bool CLauncherDlg::LoadSettings() {
    LoadLauncherSettings(m_strLauncherFolder, &m_settings);
    // The system information window exists from here on, hidden, without a parent.
    if (!m_dlgSysInfo.Create()) {
        TheJournal().AddEntry(EntryKind::Error, "系统信息窗口创建失败");
    }
    return true;
}

void CLauncherDlg::SetupSkin() {
    for (int i = 0; i < kLauncherButtonCount; ++i) {
        SetUpSkinButton(m_aButtons[i], kButtonPlaces[i].icons, IDCUR_HAND);
    }
    ShowUpdateButtonRole(UpdateButtonRole::Update);
    Button(IDC_BTN_HOME).SetLink(m_settings.HomePage);
    Button(IDC_BTN_SUPPORT).SetLink(m_settings.Support);
    Button(IDC_BTN_WEIBO).SetLink(m_settings.WeiBo);
    Button(IDC_BTN_SHOP).SetLink(m_settings.Shop);
    (void)m_stcImage1.SetPiece(0, IDI_TILE_HEALTH, 0, 0);
    (void)m_stcImage2.SetPiece(0, IDI_TILE_MODERATE, 0, 0);
    MoveControl(IDC_BROWSER_FRAME, 51, 81);
    LoadFramePieces(m_stcFrame, IDI_FRAME_TOP_LEFT, kFramePieceWidth, kFramePieceHeight);
    m_browser.Navigate(m_settings.ShowPage);
    ::ShowWindow(m_browser.GetSafeHwnd(), SW_SHOW);
    m_browser.BringToTopAndUpdate();
}

void CLauncherDlg::PlaceControls() {
    for (const ButtonPlace& place : kButtonPlaces) {
        MoveControl(place.id, place.x, place.y);
        if (place.hidden) ::ShowWindow(::GetDlgItem(m_hWnd, place.id), SW_HIDE);
    }
    MoveControl(IDC_IMAGE1, 23, 591);
    MoveControl(IDC_IMAGE2, 170, 591);
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_IMAGE1), SW_HIDE);
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_IMAGE2), SW_HIDE);
    MoveControl(IDC_VERSION_LINE, 340, 628);
    MoveControl(IDC_STATUS_LINE, 340, 604);
    ::SetWindowPos(m_stcProgress.GetSafeHwnd(), nullptr, kProgressBarPlace.left, kProgressBarPlace.top,
                   kProgressBarPlace.right - kProgressBarPlace.left, kProgressBarPlace.bottom - kProgressBarPlace.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // Shown by the first progress of a version step.
    ::ShowWindow(m_stcProgress.GetSafeHwnd(), SW_HIDE);
    for (CXStatic* line : {&m_stcVersion, &m_stcStatus}) {
        line->m_crText = kLineTextColour;
        line->m_nFormat = DT_BOTTOM;
        line->m_bFill = true;
        line->m_crFill = kLineFillColour;
    }
    m_browser.put_Left(54);
    m_browser.put_Top(85);
    m_browser.put_Width(712);
    m_browser.put_Height(402);
}
