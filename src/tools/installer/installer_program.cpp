#include "installer_program.h"

#include <cstdlib>

#include "installer_log.h"
#include "platform/file_system.h"
#include "update/install/hand_off.h"
#include "update/install/installer.h"

namespace {

// Passes every change to the real operations, and ends the process right
// before the chosen one when the test hook asks for it.
class CrashHookOps : public InstallerFileOps {
public:
    CrashHookOps(InstallerFileOps* inner, long crashAt, std::function<void()> killSelf)
        : m_inner(inner), m_crashAt(crashAt), m_killSelf(std::move(killSelf)) {}

    StepResult MovePath(const std::string& from, const std::string& to) override {
        Count();
        return m_inner->MovePath(from, to);
    }
    StepResult MakeFolder(const std::string& path) override {
        Count();
        return m_inner->MakeFolder(path);
    }
    StepResult RemoveFile(const std::string& path) override {
        Count();
        return m_inner->RemoveFile(path);
    }
    StepResult RemoveEmptyFolder(const std::string& path) override {
        Count();
        return m_inner->RemoveEmptyFolder(path);
    }
    StepResult RemoveTree(const std::string& path) override {
        Count();
        return m_inner->RemoveTree(path);
    }
    StepResult WriteDurably(const std::string& path, const std::string& text, bool append) override {
        Count();
        return m_inner->WriteDurably(path, text, append);
    }

private:
    void Count() {
        if (m_crashAt >= 0 && m_count++ == m_crashAt) m_killSelf();
    }

    InstallerFileOps* m_inner;
    long m_crashAt;
    long m_count = 0;
    std::function<void()> m_killSelf;
};

long CrashStepFromEnvironment() {
    const char* value = std::getenv(kCrashAtVariable);
    if (!value || !*value) return -1;
    char* end = nullptr;
    const long step = std::strtol(value, &end, 10);
    return (*end == '\0' && step >= 0) ? step : -1;
}

int ExitCodeOf(InstallOutcome outcome) {
    switch (outcome) {
        case InstallOutcome::Installed:
        case InstallOutcome::NothingToInstall:
            return kExitInstalled;
        case InstallOutcome::RollbackIncomplete:
            return kExitRollbackIncomplete;
        default:
            return kExitNotInstalled;
    }
}

}  // namespace

int RunInstallerProgram(const InstallerPlatform& platform) {
    InstallerLog log(platform.ownFolder + "\\Log\\installer.log");
    std::string handOff = HandOffPathFromArguments(platform.arguments);
    if (handOff.empty()) handOff = platform.ownFolder + "\\" + kHandOffFileName;
    log.Add(EntryKind::Info, "installer started with " + fs_port::NativePath(handOff));
    // Two installers in one folder would undo each other's steps as if they
    // were a killed run's. The one working there starts the launcher itself.
    if (platform.takeFolderLock && !platform.takeFolderLock()) {
        log.Add(EntryKind::Error, "another installer is still working in " + fs_port::NativePath(platform.ownFolder) +
                                      "; nothing touched");
        return kExitFolderBusy;
    }

    SystemFileOps system;
    CrashHookOps ops(&system, CrashStepFromEnvironment(), platform.killSelf);
    const InstallLog sink = [&log](EntryKind kind, const std::string& text) { log.Add(kind, text); };
    const InstallOutcome outcome = RunInstaller(platform.ownFolder, handOff, &ops, sink);
    const bool good =
        outcome == InstallOutcome::Installed || outcome == InstallOutcome::NothingToInstall;
    log.Add(good ? EntryKind::Info : EntryKind::Error,
            std::string("installer result: ") + InstallOutcomeName(outcome));

    // The launcher is told in every case: after a rollback it runs the old
    // version and can try again.
    const std::string launcher = platform.ownFolder + "\\" + platform.launcherName;
    std::string error;
    if (!platform.startLauncher(launcher, &error)) {
        log.Add(EntryKind::Error, "cannot start " + fs_port::NativePath(launcher) + " /update: " + error);
        return kExitLauncherNotStarted;
    }
    log.Add(EntryKind::Info, "started " + fs_port::NativePath(launcher) + " /update");
    return ExitCodeOf(outcome);
}
