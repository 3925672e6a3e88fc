// The launcher's main window in its plain form: a dialog from template 102
// that marks itself as the running launcher, loads the configuration and
// answers the update-end notice of a second launcher.
#pragma once

#include <windows.h>

#include <string>

#include "app/launcher_settings.h"

class CLauncherDlg {
public:
    CLauncherDlg();
    CLauncherDlg(const CLauncherDlg&) = delete;
    CLauncherDlg& operator=(const CLauncherDlg&) = delete;

    // Runs the window modally; returns the result it was ended with.
    INT_PTR DoModal();

    const LauncherSettings& Settings() const { return m_settings; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void OnDestroy();
    bool LoadSettings();
    LRESULT OnUpdateEnd(WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    LauncherSettings m_settings;
    std::string m_strLauncherFolder;
};
