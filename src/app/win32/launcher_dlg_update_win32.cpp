#include "app/win32/launcher_dlg.h"

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "package/patch_kit.h"
#include "platform/progress_pacer.h"
#include "platform/win32/wide.h"
#include "resource.h"
#include "update/fetch/kept_downloads.h"

namespace {

// The window as the engine sees it during a run: all goes on to the port.
// The engine turns the start button off itself only when its check found a
// mandatory version that it now installs unasked: that starts a step.
class StepWatchingWindow final : public IUpdaterWindow {
public:
    explicit StepWatchingWindow(std::shared_ptr<IUpdaterWindow> window) : m_window(std::move(window)) {}
    // On the worker, before and after each run.
    void WatchRun(std::function<void()> mandatoryStep) { m_mandatoryStep = std::move(mandatoryStep); }

    void SetStatusText(const std::string& text) override { m_window->SetStatusText(text); }
    void ShowVersionLine(int32_t version) override { m_window->ShowVersionLine(version); }
    void EnableStartButton(bool enable) override {
        m_window->EnableStartButton(enable);
        if (!enable && m_mandatoryStep) m_mandatoryStep();
    }
    void ShowMessageBox(const std::string& text) override { m_window->ShowMessageBox(text); }
    void ShowProgress(double fraction, const std::string& text) override { m_window->ShowProgress(fraction, text); }
    void EndProgress() override { m_window->EndProgress(); }
    int32_t InstalledVersion() const override { return m_window->InstalledVersion(); }
    LauncherSettings Settings() const override { return m_window->Settings(); }

private:
    const std::shared_ptr<IUpdaterWindow> m_window;
    std::function<void()> m_mandatoryStep;
};

// The update cycle's engine: the updater, reporting to the window's port.
// Both are shared with a worker that may outlive the window.
class GameUpdaterEngine final : public UpdateEngine {
public:
    GameUpdaterEngine(std::shared_ptr<CGameUpdater> updater, std::shared_ptr<IUpdaterWindow> window)
        : m_updater(std::move(updater)), m_window(std::move(window)) {}
    int RunUpdate(const std::function<void()>& mandatoryStep) override {
        m_window.WatchRun(mandatoryStep);
        const int outcome = m_updater->RunUpdate(&m_window);
        m_window.WatchRun(nullptr);
        return outcome;
    }
    int RunRepair(const std::vector<std::string>& damaged) override { return m_updater->RunRepair(&m_window, damaged); }
    int64_t RepairDownloadBytes(const std::vector<std::string>& damaged) override {
        return m_updater->RepairDownloadBytes(&m_window, damaged);
    }
    void SetInstall(bool install) override { m_updater->m_bInstall = install ? 1 : 0; }
    bool Install() const override { return m_updater->m_bInstall != 0; }
    int32_t LatestVersion() const override { return m_updater->m_nLatestVersion; }
    int32_t OfferedVersion() const override { return m_updater->OfferedVersion(); }
    KeptDownloadsSummary KeptDownloads() const override {
        return SummarizeKeptDownloads(m_updater->LauncherFolder());
    }
    void RequestStop() override { m_updater->RequestStop(); }
    void ClearStop() override { m_updater->ClearStop(); }
    const std::atomic<bool>& StopFlag() const override { return m_updater->StopFlag(); }
    bool ResumeInterruptedInstall() override { return m_updater->ResumeInterruptedInstall(); }

private:
    const std::shared_ptr<CGameUpdater> m_updater;
    // Kept as long as the updater, which holds on to the window of its last run.
    StepWatchingWindow m_window;
};

struct UpdateRoleLook {
    int icons[4];      // normal, hover, pressed, disabled
    const char* name;  // the pictures' caption, for tools that read the button
};

const UpdateRoleLook& LookOf(UpdateButtonRole role) {
    static const UpdateRoleLook kUpdate{{IDI_UPDATE_NORMAL, IDI_UPDATE_HOVER, IDI_UPDATE_PRESSED, IDI_UPDATE_DISABLED},
                                        "更新"};
    static const UpdateRoleLook kPause{{IDI_PAUSE_NORMAL, IDI_PAUSE_HOVER, IDI_PAUSE_PRESSED, IDI_PAUSE_DISABLED},
                                       "暂停"};
    static const UpdateRoleLook kContinue{
        {IDI_CONTINUE_NORMAL, IDI_CONTINUE_HOVER, IDI_CONTINUE_PRESSED, IDI_CONTINUE_DISABLED}, "继续"};
    static const UpdateRoleLook kRepair{{IDI_REPAIR_NORMAL, IDI_REPAIR_HOVER, IDI_REPAIR_PRESSED, IDI_REPAIR_DISABLED},
                                        "修复"};
    switch (role) {
        case UpdateButtonRole::Pause:
            return kPause;
        case UpdateButtonRole::Continue:
            return kContinue;
        case UpdateButtonRole::Repair:
            return kRepair;
        case UpdateButtonRole::Update:
            break;
    }
    return kUpdate;
}

}  // namespace

std::shared_ptr<UpdateEngine> MakeGameUpdaterEngine(std::shared_ptr<CGameUpdater> updater,
                                                    std::shared_ptr<IUpdaterWindow> window) {
    return std::make_shared<GameUpdaterEngine>(std::move(updater), std::move(window));
}

LauncherWindowPort::LauncherWindowPort(std::string launcherFolder)
    : m_strLauncherFolder(std::move(launcherFolder)), m_cleanup(TheJournal()) {}

void LauncherWindowPort::Attach(HWND window, std::wstring title, const LauncherSettings& settings) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_hWnd = window;
    m_strTitle = std::move(title);
    m_settings = settings;
}

void LauncherWindowPort::Detach() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_hWnd = nullptr;
}

void LauncherWindowPort::StopTempCleanup() { m_cleanup.RequestStop(); }

void LauncherWindowPort::StartTempCleanup() { m_cleanup.Start(m_strLauncherFolder); }

void LauncherWindowPort::WaitTempCleanup() { m_cleanup.WaitIdle(); }

bool LauncherWindowPort::IsGameRunning() { return IsProcessRunning(kGameExeName); }

std::wstring LauncherWindowPort::Title() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_strTitle;
}

void LauncherWindowPort::ShowGameRunningBox(const std::string& text) {
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        window = m_hWnd;
    }
    // On the window's thread the box belongs to the window; a worker shows
    // its own box and touches no window.
    const bool onWindowThread =
        window != nullptr && ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
    ::MessageBoxW(onWindowThread ? window : nullptr, ToWide(text).c_str(), Title().c_str(),
                  MB_OKCANCEL | (onWindowThread ? 0 : MB_TOPMOST));
}

VerifyOutcome LauncherWindowPort::VerifyInstalledVersion(const std::atomic<bool>& stop, bool showProgress,
                                                         std::vector<std::string>* damagedOut) {
    CPatchKit patchKit;
    VerifyOptions options;
    options.stop = &stop;
    options.useCache = true;
    const bool full = m_bFullVerification.exchange(false);
    options.ignoreCachedDigests = full;
    ProgressPacer pacer(kVerifyProgressInterval);
    if (showProgress) {
        options.progress = [&](size_t done, size_t total) {
            if (pacer.Due(std::chrono::steady_clock::now())) ShowStatus(VerifyProgressText(done, total));
        };
    }
    const VerifyReport report =
        VerifyGameVersion(m_strLauncherFolder, patchKit, TheJournal(), LauncherFileKey(), options);
    if (report.stopped) {
        if (full) m_bFullVerification = true;  // the next check still owes the full read
        return VerifyOutcome::Stopped;
    }
    m_bVersionFileRead = report.verified;
    if (!report.verified) return VerifyOutcome::Failed;
    // Set with damaged files too: a repair fetches the installed version's files.
    m_nInstalledVersion = report.installedVersion;
    if (report.mismatches.empty()) return VerifyOutcome::Verified;
    *damagedOut = report.mismatches;
    return VerifyOutcome::Damaged;
}

void LauncherWindowPort::SetVerifying(bool verifying) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bVerifying = verifying;
    PostButtonStates();
}

int32_t LauncherWindowPort::InstalledVersion() const {
    return m_bVersionFileRead ? m_nInstalledVersion.load() : kInstalledVersionUnknown;
}

void LauncherWindowPort::ShowVersionLine(int32_t latestVersion) {
    const std::string text = "当前版本 : " + VersionNumberToText(m_nInstalledVersion) +
                             "   最新版本 : " + VersionNumberToText(latestVersion);
    PostText(kPostVersionLine, text);
}

void LauncherWindowPort::ShowStatus(const std::string& text) { PostText(kPostStatusText, text); }

void LauncherWindowPort::SetUpdateButtonRole(UpdateButtonRole role) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, kPostUpdateRole, static_cast<WPARAM>(role), 0);
}

void LauncherWindowPort::EnableUpdateButton(bool enable) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bUpdateWanted = enable;
    PostButtonStates();
}

void LauncherWindowPort::EnableStartButton(bool enable) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_bStartWanted = enable;
    PostButtonStates();
}

void LauncherWindowPort::SetStatusText(const std::string& text) { ShowStatus(text); }

void LauncherWindowPort::ShowProgress(double fraction, const std::string& text) {
    const double clamped = fraction > 1.0 ? 1.0 : (fraction > 0.0 ? fraction : 0.0);
    PostText(kPostProgress, text, static_cast<WPARAM>(clamped * kProgressSteps + 0.5));
}

void LauncherWindowPort::EndProgress() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, kPostEndProgress, 0, 0);
}

void LauncherWindowPort::ShowMessageBox(const std::string& text) {
    // The engine waits for the answer on its worker; the box has no owner so
    // that no window of another thread is touched.
    ::MessageBoxW(nullptr, ToWide(text).c_str(), Title().c_str(), MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

LauncherSettings LauncherWindowPort::Settings() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_settings;
}

void LauncherWindowPort::PostText(UINT message, const std::string& text, WPARAM wParam) {
    auto copy = std::make_unique<std::string>(text);
    // Under the lock: once Detach has returned, nothing is posted to a
    // window that may be gone (or whose handle a new window has taken).
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_hWnd != nullptr && ::PostMessageW(m_hWnd, message, wParam, reinterpret_cast<LPARAM>(copy.get()))) {
        (void)copy.release();  // the window's thread deletes it
    }
}

void LauncherWindowPort::PostEnable(int id, bool enable) {
    if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, kPostEnableButton, static_cast<WPARAM>(id), enable ? 1 : 0);
}

void LauncherWindowPort::PostButtonStates() {
    PostEnable(IDC_BTN_UPDATE, m_bUpdateWanted && !m_bVerifying);
    PostEnable(IDC_BTN_START, m_bStartWanted && !m_bVerifying);
}

void CLauncherDlg::StartTempCleanup() { m_pPort->StartTempCleanup(); }

void CLauncherDlg::ShowVersionLine(int32_t latestVersion) { m_pPort->ShowVersionLine(latestVersion); }

void CLauncherDlg::ShowStatus(const std::string& text) { m_pPort->ShowStatus(text); }

void CLauncherDlg::SetLineText(CXStatic& line, const std::string& text) {
    line.SetText(text);
    // The window text too, so that tools reading the control see the line.
    ::SetWindowTextW(line.GetSafeHwnd(), ToWide(text).c_str());
    ::InvalidateRect(line.GetSafeHwnd(), nullptr, TRUE);
}

void CLauncherDlg::DrainPostedTexts() {
    // A removal of the work files that the worker may wait for ends first,
    // then the worker is stopped and the port detached, so that nothing is
    // posted after the drain; a destroyed window never receives the texts
    // still queued for it.
    m_pPort->StopTempCleanup();
    if (m_pCycle) (void)m_pCycle->StopWorker(kWorkerStopWait);
    m_pPort->Detach();
    MSG pending;
    for (UINT message : {kPostStatusText, kPostVersionLine, kPostProgress}) {
        while (::PeekMessageW(&pending, m_hWnd, message, message, PM_REMOVE)) {
            delete reinterpret_cast<std::string*>(pending.lParam);
        }
    }
}

void CLauncherDlg::ShowUpdateButtonRole(UpdateButtonRole role) {
    m_updateRole = role;
    CXButton& button = Button(IDC_BTN_UPDATE);
    const UpdateRoleLook& look = LookOf(role);
    (void)button.SetStateIcons(look.icons[0], look.icons[1], look.icons[2], look.icons[3]);
    // The button is sized to its pictures, which leave the name no room:
    // it is never drawn, only read (screen readers, the window tests).
    ::SetWindowTextW(button.GetSafeHwnd(), ToWide(look.name).c_str());
    ::InvalidateRect(button.GetSafeHwnd(), nullptr, FALSE);
}

// The press does what the button showed when it was pressed: a pause that
// raced the step's end does nothing, rather than start another step.
void CLauncherDlg::OnUpdateButton() {
    if (m_updateRole == UpdateButtonRole::Pause) {
        m_pCycle->OnPauseButton();
    } else if (m_updateRole == UpdateButtonRole::Repair) {
        m_pCycle->OnRepairButton();
    } else {
        m_pCycle->OnUpdateButton();
    }
}

INT_PTR CLauncherDlg::OnPosted(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPostUpdateRole) {
        ShowUpdateButtonRole(static_cast<UpdateButtonRole>(wParam));
        return TRUE;
    }
    if (message == kPostEnableButton) {
        ::EnableWindow(::GetDlgItem(m_hWnd, static_cast<int>(wParam)), lParam != 0);
        return TRUE;
    }
    if (message == kPostEndProgress) {
        ::ShowWindow(m_stcProgress.GetSafeHwnd(), SW_HIDE);
        m_stcProgress.SetProgress(0.0, std::string());
        return TRUE;
    }
    std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
    if (!text) return TRUE;
    if (message == kPostStatusText) SetLineText(m_stcStatus, *text);
    if (message == kPostVersionLine) SetLineText(m_stcVersion, *text);
    if (message == kPostProgress) {
        m_stcProgress.SetProgress(static_cast<double>(wParam) / kProgressSteps, *text);
        ::ShowWindow(m_stcProgress.GetSafeHwnd(), SW_SHOWNA);
    }
    return TRUE;
}
