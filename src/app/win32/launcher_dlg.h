// The launcher's main window: the skinned dialog of template 102 with its ten
// image buttons, the news browser in its frame, the version and status lines,
// and the update cycle behind them.
//
// Split over three files: launcher_dlg_win32.cpp (construction,
// initialisation, skin and layout), launcher_dlg_commands_win32.cpp (commands,
// pre-filter, hit test) and launcher_dlg_update_win32.cpp (the window's side
// of the update cycle: what workers post and how the window applies it).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/launcher_settings.h"
#include "app/update_cycle.h"
#include "maintenance/temp_cleanup.h"
#include "sysinfo/win32/system_info_dlg.h"
#include "ui/win32/base_dialog.h"
#include "ui/win32/bind_weibo_dlg.h"
#include "ui/win32/progress_strip.h"
#include "ui/win32/web_browser2.h"
#include "ui/win32/x_button.h"
#include "ui/win32/x_static.h"
#include "update/engine/game_updater.h"

// Messages that workers post to the window; the window's thread applies them.
constexpr UINT kPostStatusText = WM_APP + 1;   // lParam: std::string* to delete
constexpr UINT kPostVersionLine = WM_APP + 2;  // lParam: std::string* to delete
constexpr UINT kPostEnableButton = WM_APP + 3; // wParam: control id, lParam: 0 or 1
constexpr UINT kPostProgress = WM_APP + 4;     // wParam: fraction in kProgressSteps, lParam: std::string* to delete
constexpr UINT kPostEndProgress = WM_APP + 5;
constexpr UINT kPostUpdateRole = WM_APP + 6;   // wParam: UpdateButtonRole

// The fraction of a posted progress travels as a whole number of these.
constexpr WPARAM kProgressSteps = 10000;

constexpr int kLauncherButtonCount = 10;

// The update cycle's engine over the updater, reporting to `window`.
std::shared_ptr<UpdateEngine> MakeGameUpdaterEngine(std::shared_ptr<CGameUpdater> updater,
                                                    std::shared_ptr<IUpdaterWindow> window);

// The window as the update cycle and the engine see it, safe to call from
// any thread: it posts to the window's thread. The cycle and the engine
// share it, so a worker that outlives the window still finds it; after
// Detach nothing reaches the window any more.
class LauncherWindowPort final : public UpdateCycleWindow, public IUpdaterWindow {
public:
    explicit LauncherWindowPort(std::string launcherFolder);

    void Attach(HWND window, std::wstring title, const LauncherSettings& settings);
    void Detach();
    // Ends a running removal of the work files early (the window closes).
    void StopTempCleanup();
    // The next verification reads every file, whatever the cache says.
    void RequestFullVerification() { m_bFullVerification = true; }

    bool IsGameRunning() override;
    void ShowGameRunningBox(const std::string& text) override;
    VerifyOutcome VerifyInstalledVersion(const std::atomic<bool>& stop, bool showProgress,
                                         std::vector<std::string>* damagedOut) override;
    void SetVerifying(bool verifying) override;
    int32_t InstalledVersion() const override;
    void ShowVersionLine(int32_t latestVersion) override;
    void SetUpdateButtonRole(UpdateButtonRole role) override;
    void ShowStatus(const std::string& text) override;
    void EnableUpdateButton(bool enable) override;
    void EnableStartButton(bool enable) override;
    void StartTempCleanup() override;
    void WaitTempCleanup() override;
    void SetStatusText(const std::string& text) override;
    void ShowProgress(double fraction, const std::string& text) override;
    void EndProgress() override;
    void ShowMessageBox(const std::string& text) override;
    LauncherSettings Settings() const override;

private:
    void PostText(UINT message, const std::string& text, WPARAM wParam = 0);
    void PostEnable(int id, bool enable);
    // Under m_lock: the buttons as asked for, off while verifying.
    void PostButtonStates();
    [[nodiscard]] std::wstring Title() const;

    const std::string m_strLauncherFolder;
    mutable std::mutex m_lock;  // guards the six below
    HWND m_hWnd = nullptr;
    std::wstring m_strTitle;
    LauncherSettings m_settings;
    bool m_bVerifying = false;
    bool m_bUpdateWanted = false;  // as the window's initialisation sets them
    bool m_bStartWanted = true;
    std::atomic<bool> m_bFullVerification{false};
    std::atomic<int32_t> m_nInstalledVersion{1000};
    // Cleared by a check that found version.data missing or unreadable: the
    // engine then takes the installed version from the files.
    std::atomic<bool> m_bVersionFileRead{true};
    CTempCleanup m_cleanup;
};

class CLauncherDlg : public CBaseDialog {
public:
    CLauncherDlg();
    ~CLauncherDlg() override;

    // Starts the removal of the update's work files on the cleanup worker.
    void StartTempCleanup();
    // The first check reads every file, whatever the verification cache says.
    void RequestFullVerification() { m_pPort->RequestFullVerification(); }
    // The first check reads every file and repairs the damaged ones unasked.
    void RequestRepair() {
        m_pPort->RequestFullVerification();
        m_pCycle->RepairAtOnce();
    }
    void ShowVersionLine(int32_t latestVersion);
    void ShowStatus(const std::string& text);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslateMessage(MSG* msg) override;

private:
    // Initialisation and layout.
    bool LoadSettings();
    void SetupSkin();
    void PlaceControls();
    [[nodiscard]] CXButton& Button(int id);

    // Commands.
    INT_PTR OnCommand(int id);
    void OnStartGame();
    void OnGameSettings();
    void OnSystemInfo();
    void OnSupport();
    void OnCloseButton();
    [[nodiscard]] bool AskQuit();
    INT_PTR OnNcHitTestTop(LPARAM lParam);

    // The window's thread applies what workers posted.
    INT_PTR OnPosted(UINT message, WPARAM wParam, LPARAM lParam);
    // The update button's pictures and name for what a press does now.
    void ShowUpdateButtonRole(UpdateButtonRole role);
    void OnUpdateButton();
    // Stops the worker and frees the texts still queued for the window.
    void DrainPostedTexts();
    void SetLineText(CXStatic& line, const std::string& text);

    HICON m_hAppIcon = nullptr;
    std::wstring m_strTitle;
    CXButton m_aButtons[kLauncherButtonCount];
    CXStatic m_stcImage1;
    CXStatic m_stcImage2;
    LauncherSettings m_settings;
    CWebBrowser2 m_browser;
    CXStatic m_stcFrame;
    CBindWeiBoDlg m_dlgWeiBo;
    CSystemInfoDlg m_dlgSysInfo;
    std::string m_strLauncherFolder;
    std::shared_ptr<LauncherWindowPort> m_pPort;
    CXStatic m_stcVersion;
    CXStatic m_stcStatus;
    CProgressStrip m_stcProgress;  // shown while a version step moves bytes
    UpdateButtonRole m_updateRole = UpdateButtonRole::Update;  // as the button shows it
    std::unique_ptr<CUpdateCycle> m_pCycle;  // declared last: stopped first
};
