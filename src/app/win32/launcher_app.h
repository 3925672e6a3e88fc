// The application object: runs start-up on the process's main thread with
// the Win32 windows, processes and message boxes behind StartupPort.
#pragma once

#include <string>
#include <vector>

#include "app/startup.h"

class CLauncherApp final : public StartupPort {
public:
    // Runs start-up to its end; returns the process's exit code.
    int Run();

    bool IsGameRunning() override;
    void ShowGameRunningMessage(const std::string& text) override;
    std::string CurrentFolder() override;
    std::vector<std::string> Arguments() override;
    LauncherWindowId FindRunningLauncher() override;
    void SendUpdateEnd(LauncherWindowId window) override;
    void BringToFront(LauncherWindowId window) override;
    void InitCommonControls() override;
    void RunMainWindow(bool updateRestart) override;
};

// The caption of the launcher's message boxes: the title string resource, or
// the program's name when the resource is missing.
std::wstring LauncherAppTitle();
