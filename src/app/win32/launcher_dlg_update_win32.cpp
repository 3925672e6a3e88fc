#include "app/win32/launcher_dlg.h"

#include <memory>

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "external/journal.h"
#include "external/patch_kit.h"
#include "maintenance/verify_version.h"
#include "platform/win32/wide.h"
#include "resource.h"

namespace {

// The update cycle's engine: the updater, reporting to the window's port.
class GameUpdaterEngine final : public UpdateEngine {
public:
    GameUpdaterEngine(CGameUpdater& updater, IUpdaterWindow& window)
        : m_updater(updater), m_window(window) {}
    int RunUpdate() override { return m_updater.RunUpdate(&m_window); }
    void SetInstall(bool install) override { m_updater.m_bInstall = install ? 1 : 0; }
    bool Install() const override { return m_updater.m_bInstall != 0; }
    int32_t LatestVersion() const override { return m_updater.m_nLatestVersion; }
    void RequestStop() override { m_updater.RequestStop(); }
    void ClearStop() override { m_updater.ClearStop(); }
    bool ResumeInterruptedInstall() override { return m_updater.ResumeInterruptedInstall(); }

private:
    CGameUpdater& m_updater;
    IUpdaterWindow& m_window;
};

}  // namespace

std::unique_ptr<UpdateEngine> MakeGameUpdaterEngine(CGameUpdater& updater, IUpdaterWindow& window) {
    return std::make_unique<GameUpdaterEngine>(updater, window);
}

void CLauncherDlg::StartTempCleanup() { m_cleanup.Start(m_strLauncherFolder); }

void CLauncherDlg::WaitTempCleanup() { m_cleanup.WaitIdle(); }

bool CLauncherDlg::IsGameRunning() { return IsProcessRunning(kGameExeName); }

void CLauncherDlg::ShowGameRunningBox(const std::string& text) {
    // On the window's thread the box belongs to the window; a worker shows
    // its own box and touches no window.
    const bool onWindowThread = ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId();
    ::MessageBoxW(onWindowThread ? m_hWnd : nullptr, ToWide(text).c_str(), m_strTitle.c_str(),
                  MB_OKCANCEL | (onWindowThread ? 0 : MB_TOPMOST));
}

bool CLauncherDlg::VerifyInstalledVersion() {
    CPatchKit patchKit;  // one per run: the window and a worker may verify at once
    const VerifyReport report = VerifyGameVersion(m_strLauncherFolder, patchKit, TheJournal());
    if (report.verified) m_nInstalledVersion = report.installedVersion;
    return report.verified;
}

int32_t CLauncherDlg::InstalledVersion() const { return m_nInstalledVersion; }

void CLauncherDlg::EnableUpdateButton(bool enable) { PostEnable(IDC_BTN_UPDATE, enable); }

void CLauncherDlg::EnableStartButton(bool enable) { PostEnable(IDC_BTN_START, enable); }

void CLauncherDlg::SetStatusText(const std::string& text) { ShowStatus(text); }

void CLauncherDlg::ShowMessageBox(const std::string& text) {
    // The engine waits for the answer on its worker; the box has no owner so
    // that no window of another thread is touched.
    ::MessageBoxW(nullptr, ToWide(text).c_str(), m_strTitle.c_str(), MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

LauncherSettings CLauncherDlg::Settings() const { return m_settings; }

void CLauncherDlg::PostText(UINT message, const std::string& text) {
    auto copy = std::make_unique<std::string>(text);
    if (m_hWnd != nullptr &&
        ::PostMessageW(m_hWnd, message, 0, reinterpret_cast<LPARAM>(copy.get()))) {
        (void)copy.release();  // the window's thread deletes it
    }
}

void CLauncherDlg::PostEnable(int id, bool enable) {
    if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, kPostEnableButton, static_cast<WPARAM>(id), enable ? 1 : 0);
}

void CLauncherDlg::SetLineText(CXStatic& line, const std::string& text) {
    line.SetText(text);
    // The window text too, so that tools reading the control see the line.
    ::SetWindowTextW(line.GetSafeHwnd(), ToWide(text).c_str());
    ::InvalidateRect(line.GetSafeHwnd(), nullptr, TRUE);
}

void CLauncherDlg::DrainPostedTexts() {
    // The worker is stopped first so that nothing is posted after the drain;
    // a destroyed window never receives the texts still queued for it.
    if (m_pCycle) (void)m_pCycle->StopWorker(kWorkerStopWait);
    MSG pending;
    while (::PeekMessageW(&pending, m_hWnd, kPostStatusText, kPostVersionLine, PM_REMOVE)) {
        delete reinterpret_cast<std::string*>(pending.lParam);
    }
}

INT_PTR CLauncherDlg::OnPosted(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPostEnableButton) {
        ::EnableWindow(::GetDlgItem(m_hWnd, static_cast<int>(wParam)), lParam != 0);
        return TRUE;
    }
    std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
    if (!text) return TRUE;
    if (message == kPostStatusText) SetLineText(m_stcStatus, *text);
    if (message == kPostVersionLine) SetLineText(m_stcVersion, *text);
    return TRUE;
}
