// The native installer program, used by the tests on Linux.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "installer_program.h"
#include "platform/file_system.h"

extern char** environ;

namespace {

std::string OwnFolder() {
    std::vector<char> buffer(4096);
    while (true) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return fs_port::CurrentDirectory();
        if (static_cast<size_t>(n) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<size_t>(n));
            return path.substr(0, path.find_last_of('/'));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool StartLauncher(const std::string& launcherPath, std::string* errorOut) {
    const std::string native = fs_port::NativePath(launcherPath);
    std::string update = "/update";
    char* argv[] = {const_cast<char*>(native.c_str()), update.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, native.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) {
        *errorOut = std::strerror(rc);
        return false;
    }
    return true;
}

// An exclusive lock on the folder itself, held by the open descriptor
// until the process ends (not inherited by the launcher it starts).
bool TakeFolderLock(const std::string& folder) {
    const int fd = ::open(fs_port::NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;  // no lock to be had: work as without one
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFolderLockWaitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    InstallerPlatform platform;
    platform.ownFolder = OwnFolder();
    for (int i = 1; i < argc; ++i) platform.arguments.emplace_back(argv[i]);
    platform.launcherName = "VantorelLauncher";
    platform.startLauncher = StartLauncher;
    platform.killSelf = [] { ::raise(SIGKILL); };
    platform.takeFolderLock = [&platform] { return TakeFolderLock(platform.ownFolder); };
    return RunInstallerProgram(platform);
}
