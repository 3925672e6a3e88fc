// POSIX side of the process and shell utilities of launcher_util.h. Processes
// are read from /proc; a program is started detached (double fork) so that
// nothing has to wait for it and it never lingers as a zombie.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"

namespace {

// Reads a link's target, however long; empty when it cannot be read.
std::string ReadLink(const std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Reads at most maxBytes of a small /proc file.
std::string ReadProcFile(const std::string& path, size_t maxBytes) {
    std::string content;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return content;
    content.resize(maxBytes);
    content.resize(std::fread(content.data(), 1, maxBytes, file));
    std::fclose(file);
    return content;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Process ids in ascending order: the order of the "snapshot".
std::vector<pid_t> ListProcessIds() {
    std::vector<pid_t> ids;
    DIR* dir = ::opendir("/proc");
    if (!dir) return ids;
    while (const struct dirent* ent = ::readdir(dir)) {
        const std::string name = ent->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        ids.push_back(static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10)));
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Reads "pid (comm) state ..." from the stat file. comm may itself hold
// spaces and parentheses, so the state follows the last ')'.
bool ReadStat(const std::string& procDir, std::string* commOut, char* stateOut) {
    const std::string stat = ReadProcFile(procDir + "/stat", 512);
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        close + 2 >= stat.size()) {
        return false;
    }
    *commOut = stat.substr(open + 1, close - open - 1);
    *stateOut = stat[close + 2];
    return true;
}

// The executable name of a live process, or empty for one that has ended
// (a zombie is no longer running). The name comes from the executable link;
// comm is cut at 15 characters and serves only when nothing else is readable.
std::string ProcessExeName(pid_t pid) {
    const std::string procDir = "/proc/" + std::to_string(pid);
    std::string comm;
    char state = 0;
    if (!ReadStat(procDir, &comm, &state) || state == 'Z' || state == 'X') return {};
    std::string exe = ReadLink(procDir + "/exe");
    static const std::string kDeleted = " (deleted)";
    if (exe.size() > kDeleted.size() &&
        exe.compare(exe.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        exe.resize(exe.size() - kDeleted.size());
    }
    if (!exe.empty()) return BaseName(exe);
    // Another user's process: argv[0] is still readable.
    const std::string cmdline = ReadProcFile(procDir + "/cmdline", 4096);
    const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    if (!argv0.empty()) return BaseName(argv0);
    return comm;
}

bool FindFirstProcess(const std::string& exeName, pid_t* pidOut) {
    for (pid_t pid : ListProcessIds()) {
        if (ProcessExeName(pid) == exeName) {
            *pidOut = pid;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string GetLauncherFolder() {
    const std::string exe = ReadLink("/proc/self/exe");
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return fs_port::CurrentDirectory();
    if (slash == 0) return "/";
    return exe.substr(0, slash);
}

// Starts the program detached: an intermediate child forks the program and
// ends at once, so the program is adopted by init and reaped there. A pipe
// closed on exec tells whether the program could be started at all.
bool RunProgram(const char* path) {
    if (!path || !*path) return false;
    const std::string native = fs_port::NativePath(path);
    char* const argv[] = {const_cast<char*>(native.c_str()), nullptr};
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::close(pipeFds[0]);
        ::setsid();
        const pid_t program = ::fork();
        if (program == 0) {
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execv(argv[0], argv);
            const int error = errno;
            (void)!::write(pipeFds[1], &error, sizeof(error));
            ::_exit(127);
        }
        ::_exit(program < 0 ? 1 : 0);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &error, sizeof(error));
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool IsProcessRunning(const char* exeName) {
    if (!exeName || !*exeName) return false;
    pid_t pid = 0;
    return FindFirstProcess(exeName, &pid);
}

void KillProcessByName(const char* exeName) {
    if (!exeName || !*exeName) return;
    pid_t pid = 0;
    if (FindFirstProcess(exeName, &pid)) ::kill(pid, SIGKILL);
}

// There are no windows to close natively.
void CloseWindowsTitled(const char*) {}
