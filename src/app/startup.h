// Start-up of the launcher process, from the game check to the main window.
// The steps and their order live here; the Win32 side supplies the windows,
// processes and message boxes through StartupPort.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CJournal;

constexpr const char kGameExeName[] = "Vantorel.exe";
constexpr const char kGameRunningText[] = "游戏正在运行, 请关闭后再运行!";

// A running launcher is a top-level window carrying this property with this value.
constexpr const char kLauncherPropertyName[] = "VantorelLauncher";
constexpr intptr_t kLauncherPropertyValue = 1024;

// The one message of our own between two launchers: WM_USER + 100, sent by a
// launcher started with "/update" to the one already running.
constexpr unsigned kUpdateEndMessage = 0x0400 + 100;
constexpr uintptr_t kUpdateEndWParam = 0;
constexpr intptr_t kUpdateEndLParam = 1;

// Only the first argument after the program name counts, compared exactly.
constexpr const char kUpdateSwitch[] = "/update";
constexpr const char kHandOffLogText[] = "更新完成通知.";
constexpr const char kUpdateRestartLogText[] = "更新完成通知2.";

// For support: the window's first check reads every installed file,
// whatever the verification cache says. Compared like "/update".
constexpr const char kFullVerifySwitch[] = "/verify";

// For support: the window's first check reads every installed file (as
// "/verify") and repairs the damaged ones without a press.
constexpr const char kRepairSwitch[] = "/repair";

// True when the first argument after the program name is exactly "/update".
bool IsUpdateHandOff(const std::vector<std::string>& arguments);
// True when it is exactly "/verify".
bool IsFullVerification(const std::vector<std::string>& arguments);
// True when it is exactly "/repair".
bool IsRepairStart(const std::vector<std::string>& arguments);
// "<current folder>\Log", without doubling a trailing back-slash.
std::string LogFolderPath(const std::string& currentFolder);
std::string LogFilePath(const std::string& logFolder);

// A window of another launcher process; 0 is none.
using LauncherWindowId = uintptr_t;

class StartupPort {
public:
    virtual ~StartupPort() = default;
    virtual bool IsGameRunning() = 0;
    // Returns when the user has closed the message.
    virtual void ShowGameRunningMessage(const std::string& text) = 0;
    virtual std::string CurrentFolder() = 0;
    // The arguments after the program name; none when the command line cannot be split.
    virtual std::vector<std::string> Arguments() = 0;
    virtual LauncherWindowId FindRunningLauncher() = 0;
    // Sends the update-end message and waits until the other launcher has handled it.
    virtual void SendUpdateEnd(LauncherWindowId window) = 0;
    // Shows the window in its normal state and brings it to the foreground.
    virtual void BringToFront(LauncherWindowId window) = 0;
    virtual void InitCommonControls() = 0;
    // Runs the main window modally; updateRestart when started after an update.
    virtual void RunMainWindow(bool updateRestart) = 0;
};

enum class StartupOutcome { GameRunning, HandedOver, MainWindowClosed };

// Runs the start-up steps. The process ends afterwards with exit code 0 in
// every outcome.
StartupOutcome RunStartup(StartupPort& port, CJournal& journal);
