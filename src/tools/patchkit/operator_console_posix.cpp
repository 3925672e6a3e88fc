#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"
#include "tools/patchkit/operator_console.h"

namespace {

constexpr size_t kMaxLineBytes = 4096;

// Reads up to a line end; false on end of input before one or an over-long line.
bool ReadLine(int fd, std::string* lineOut) {
    std::string line;
    char c = 0;
    while (true) {
        const ssize_t got = read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || line.size() > kMaxLineBytes) return false;
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lineOut->swap(line);
    return true;
}

}  // namespace

bool ReadEnvironment(const char* name, std::string* valueOut) {
    const char* value = std::getenv(name);
    if (!value) return false;
    *valueOut = value;
    return true;
}

bool AskHiddenLine(const std::string& prompt, std::string* lineOut, std::string* whyOut) {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios saved{};
    if (tty < 0 || tcgetattr(tty, &saved) != 0) {
        if (tty >= 0) close(tty);
        *whyOut = "no terminal to ask for the password";
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    // Echo goes off before the prompt shows: switching it off discards what
    // was typed ahead, which must never be the password typed after the prompt.
    const bool hidden = tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
    if (hidden) (void)!write(tty, prompt.data(), prompt.size());
    const bool read = hidden && ReadLine(tty, lineOut);
    (void)tcsetattr(tty, TCSAFLUSH, &saved);
    close(tty);
    if (!read)
        *whyOut = hidden ? "the password could not be read" : "cannot hide the typed password";
    return read;
}

bool RestrictToOwner(const std::string& path) {
    return chmod(fs_port::NativePath(path).c_str(), S_IRUSR | S_IWUSR) == 0;
}
