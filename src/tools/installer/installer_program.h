// The installer program around the installer: arguments, log, the test hook,
// and the start of the launcher with "/update" whatever the outcome.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct InstallerPlatform {
    std::string ownFolder;               // the program's folder, no trailing separator
    std::vector<std::string> arguments;  // after the program name, UTF-8
    std::string launcherName;            // "VantorelLauncher.exe" (natively without ".exe")
    // Starts the launcher with "/update" and does not wait for it.
    std::function<bool(const std::string& launcherPath, std::string* errorOut)> startLauncher;
    // Ends the process at once, as a kill would.
    std::function<void()> killSelf;
    // Makes this process the only installer working in ownFolder until it
    // ends, waiting up to kFolderLockWaitMs for one that is still working
    // there. False when that one keeps the folder.
    std::function<bool()> takeFolderLock;
};

// How long a second installer waits for the first one in the same folder.
constexpr unsigned kFolderLockWaitMs = 30000;

// Exit codes of the program.
constexpr int kExitInstalled = 0;          // also: nothing to install
constexpr int kExitNotInstalled = 1;       // refused or rolled back
constexpr int kExitRollbackIncomplete = 2;
constexpr int kExitLauncherNotStarted = 3;
constexpr int kExitFolderBusy = 4;         // another installer kept the folder

// Test hook: with VANTOREL_INSTALLER_CRASH_AT=N in the environment the
// program kills itself right before its N-th change to the disk (counted
// from 0, journal writes included), so that tests can kill it at every step.
constexpr char kCrashAtVariable[] = "VANTOREL_INSTALLER_CRASH_AT";

int RunInstallerProgram(const InstallerPlatform& platform);
