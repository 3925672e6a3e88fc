#include "app/startup.h"

#include "journal/journal.h"
#include "platform/file_system.h"

bool IsUpdateHandOff(const std::vector<std::string>& arguments) {
    return !arguments.empty() && arguments.front() == kUpdateSwitch;
}

bool IsFullVerification(const std::vector<std::string>& arguments) {
    return !arguments.empty() && arguments.front() == kFullVerifySwitch;
}

bool IsRepairStart(const std::vector<std::string>& arguments) {
    return !arguments.empty() && arguments.front() == kRepairSwitch;
}

std::string LogFolderPath(const std::string& currentFolder) {
    if (!currentFolder.empty() && currentFolder.back() == '\\') return currentFolder + "Log";
    return currentFolder + "\\Log";
}

std::string LogFilePath(const std::string& logFolder) { return logFolder + "\\launcher.log"; }

namespace {

// The log lies under the current folder, not the launcher's. A folder that
// cannot be created is not reported: the journal decides what happens then.
void SetUpLog(StartupPort& port, CJournal& journal) {
    journal.SetThreshold(Threshold::All);
    const std::string folder = LogFolderPath(port.CurrentFolder());
    // Only a folder made now gets normal attributes; an existing one is left alone.
    if (fs_port::MakeDirectory(folder)) fs_port::SetNormalAttributes(folder);
    journal.AttachFile(LogFilePath(folder).c_str());
}

}  // namespace

StartupOutcome RunStartup(StartupPort& port, CJournal& journal) {
    // Before anything is logged or created.
    if (port.IsGameRunning()) {
        port.ShowGameRunningMessage(kGameRunningText);
        return StartupOutcome::GameRunning;
    }
    SetUpLog(port, journal);

    const LauncherWindowId running = port.FindRunningLauncher();
    const bool handOff = IsUpdateHandOff(port.Arguments());
    if (running != 0) {
        if (handOff) {
            journal.AddEntry(EntryKind::Info, kHandOffLogText);
            port.SendUpdateEnd(running);
        }
        port.BringToFront(running);
        return StartupOutcome::HandedOver;
    }
    if (handOff) journal.AddEntry(EntryKind::Info, kUpdateRestartLogText);
    port.InitCommonControls();
    port.RunMainWindow(handOff);
    return StartupOutcome::MainWindowClosed;
}
