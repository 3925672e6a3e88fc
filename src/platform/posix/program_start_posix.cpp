#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "platform/file_system.h"
#include "update/install/program_start.h"

extern char** environ;

namespace {

bool Spawn(const std::string& path, const std::string& parameters, pid_t* pidOut, int* codeOut) {
    std::string native = fs_port::NativePath(path);
    std::string tail = parameters;
    char* argv[] = {native.data(), tail.data(), nullptr};
    const int rc = ::posix_spawn(pidOut, native.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) *codeOut = rc;
    return rc == 0;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool StartProgramDetached(const std::string& path, const std::string& parameters, int* codeOut) {
    pid_t pid = 0;
    if (!Spawn(path, parameters, &pid, codeOut)) return false;
    // Reaped in the background so that no zombie stays behind.
    std::thread([pid] { (void)WaitFor(pid); }).detach();
    return true;
}

bool RunProgramAndWait(const std::string& path, const std::string& parameters, int* exitOut) {
    pid_t pid = 0;
    int code = 0;
    if (!Spawn(path, parameters, &pid, &code)) return false;
    *exitOut = WaitFor(pid);
    return true;
}

void StopLeftoverInstallerProgram() {}
