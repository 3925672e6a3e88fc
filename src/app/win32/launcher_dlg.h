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
#include <string>

#include "app/launcher_settings.h"
#include "app/update_cycle.h"
#include "maintenance/temp_cleanup.h"
#include "sysinfo/win32/system_info_dlg.h"
#include "ui/win32/base_dialog.h"
#include "ui/win32/bind_weibo_dlg.h"
#include "ui/win32/web_browser2.h"
#include "ui/win32/x_button.h"
#include "ui/win32/x_static.h"
#include "update/game_updater.h"

// Messages that workers post to the window; the window's thread applies them.
constexpr UINT kPostStatusText = WM_APP + 1;   // lParam: std::string* to delete
constexpr UINT kPostVersionLine = WM_APP + 2;  // lParam: std::string* to delete
constexpr UINT kPostEnableButton = WM_APP + 3; // wParam: control id, lParam: 0 or 1

constexpr int kLauncherButtonCount = 10;

// The update cycle's engine over the updater, reporting to `window`.
std::unique_ptr<UpdateEngine> MakeGameUpdaterEngine(CGameUpdater& updater, IUpdaterWindow& window);

class CLauncherDlg : public CBaseDialog, private UpdateCycleWindow, private IUpdaterWindow {
public:
    CLauncherDlg();
    ~CLauncherDlg() override;

    // Starts the removal of the update's work files on the cleanup worker.
    void StartTempCleanup() override;
    void WaitTempCleanup() override;

    void ShowVersionLine(int32_t latestVersion) override;
    void ShowStatus(const std::string& text) override;

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

    // The update cycle's window port (any thread; posts to the window).
    bool IsGameRunning() override;
    void ShowGameRunningBox(const std::string& text) override;
    bool VerifyInstalledVersion() override;
    int32_t InstalledVersion() const override;
    void EnableUpdateButton(bool enable) override;
    void EnableStartButton(bool enable) override;
    // The engine's window port.
    void SetStatusText(const std::string& text) override;
    void ShowMessageBox(const std::string& text) override;
    LauncherSettings Settings() const override;

    void PostText(UINT message, const std::string& text);
    void PostEnable(int id, bool enable);
    // The window's thread applies what workers posted.
    INT_PTR OnPosted(UINT message, WPARAM wParam, LPARAM lParam);
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
    std::unique_ptr<CGameUpdater> m_pUpdater;
    std::atomic<int32_t> m_nInstalledVersion{1000};
    CXStatic m_stcVersion;
    CXStatic m_stcStatus;
    CTempCleanup m_cleanup;
    std::unique_ptr<UpdateEngine> m_pEngine;
    std::unique_ptr<CUpdateCycle> m_pCycle;  // declared last: stopped first
};
