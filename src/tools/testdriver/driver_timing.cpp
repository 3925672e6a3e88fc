#include "tools/testdriver/driver_timing.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/text_format.h"
#include "platform/win32/win_handles.h"
#include "tools/testdriver/driver_windows.h"

namespace {

constexpr DWORD kDefaultPaintTimeoutMs = 120000;
constexpr DWORD kDefaultPollMs = 2;
constexpr DWORD kMaxPollMs = 1000;
// A launcher that does not close within this time after WM_CLOSE is ended.
constexpr DWORD kCloseWaitMs = 30000;

struct PaintOptions {
    std::string cwd;
    DWORD timeoutMs = kDefaultPaintTimeoutMs;
    DWORD pollMs = kDefaultPollMs;
    DWORD lingerMs = 0;  // the window stays open this long after its paint
    std::vector<std::string> command;
};

// What the polling saw, in milliseconds since just before the process start;
// negative while not seen yet.
struct PaintTimes {
    double window = -1;
    double shown = -1;
    double painted = -1;
    unsigned long polls = 0;
    unsigned long pending = 0;
    bool ended = false;  // the process ended before its window was painted
    DWORD exitCode = 0;  // its exit code then
};

class Stopwatch {
public:
    Stopwatch() {
        ::QueryPerformanceFrequency(&m_frequency);
        ::QueryPerformanceCounter(&m_start);
    }
    double Ms() const {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 /
               static_cast<double>(m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency{};
    LARGE_INTEGER m_start{};
};

int Bad(const std::string& why) {
    std::fprintf(stderr, "vtdriver: time-paint: %s\n", why.c_str());
    return 2;
}

// Options come before the program; everything from the program on is its command line.
bool ParseOptions(const std::vector<std::string>& args, PaintOptions* optionsOut, std::string* whyOut) {
    size_t i = 0;
    for (; i + 1 < args.size() && args[i].rfind("--", 0) == 0; i += 2) {
        const std::string& name = args[i];
        const unsigned long value = std::strtoul(args[i + 1].c_str(), nullptr, 0);
        if (name == "--cwd") {
            optionsOut->cwd = args[i + 1];
        } else if (name == "--timeout") {
            optionsOut->timeoutMs = static_cast<DWORD>(value);
        } else if (name == "--linger") {
            optionsOut->lingerMs = static_cast<DWORD>(value);
        } else if (name == "--poll") {
            if (value == 0 || value > kMaxPollMs) {
                *whyOut = "--poll takes 1 to " + std::to_string(kMaxPollMs) + " ms";
                return false;
            }
            optionsOut->pollMs = static_cast<DWORD>(value);
        } else {
            *whyOut = "unknown option " + name;
            return false;
        }
    }
    optionsOut->command.assign(args.begin() + static_cast<long>(i), args.end());
    if (optionsOut->command.empty() || optionsOut->command[0].rfind("--", 0) == 0) {
        *whyOut = "needs a program";
        return false;
    }
    return true;
}

std::string ClockText(const SYSTEMTIME& t) {
    return StringPrintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour,
                        t.wMinute, t.wSecond, t.wMilliseconds);
}

BOOL CALLBACK FindPendingChild(HWND child, LPARAM param) {
    if (::IsWindowVisible(child) && ::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(param) = true;
        return FALSE;
    }
    return TRUE;
}

// True while the window or one of its visible descendants still has a part
// to paint. The children count: a frame painted around an unpainted browser
// area is not yet what the player sees.
bool HasPendingPaint(HWND hwnd) {
    if (::GetUpdateRect(hwnd, nullptr, FALSE)) return true;
    bool pending = false;
    ::EnumChildWindows(hwnd, FindPendingChild, reinterpret_cast<LPARAM>(&pending));
    return pending;
}

// Polls until painted, the process ends or the time runs out; the window, or
// null.
HWND PollUntilPainted(const PaintOptions& options, const ChildProcess& child, const Stopwatch& clock,
                      PaintTimes* timesOut) {
    for (;;) {
        ++timesOut->polls;
        const double now = clock.Ms();
        if (HWND hwnd = FindLauncherWindow(child.pid)) {
            if (timesOut->window < 0) timesOut->window = now;
            if (::IsWindowVisible(hwnd)) {
                if (timesOut->shown < 0) timesOut->shown = now;
                if (!HasPendingPaint(hwnd)) {
                    timesOut->painted = now;
                    return hwnd;
                }
                ++timesOut->pending;
            }
        }
        if (::WaitForSingleObject(child.process, options.pollMs) == WAIT_OBJECT_0) {
            timesOut->ended = true;
            ::GetExitCodeProcess(child.process, &timesOut->exitCode);
            return nullptr;
        }
        if (clock.Ms() >= options.timeoutMs) return nullptr;
    }
}

// Asks the window to close, as the player would; ends the process when it
// does not. Returns the exit code.
DWORD CloseLauncher(HWND hwnd, HANDLE process) {
    if (hwnd) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    if (!hwnd || ::WaitForSingleObject(process, kCloseWaitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process, 1);
        ::WaitForSingleObject(process, kCloseWaitMs);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

std::string MsText(double ms) { return StringPrintf("%.1f", ms); }

void PrintTimes(const PaintTimes& times) {
    if (times.window >= 0) Print("window " + MsText(times.window));
    if (times.shown >= 0) Print("shown " + MsText(times.shown));
    if (times.painted >= 0) Print("painted " + MsText(times.painted));
    Print("polls " + std::to_string(times.polls) + " pending " + std::to_string(times.pending));
}

}  // namespace

int CmdTimePaint(std::vector<std::string> args) {
    PaintOptions options;
    std::string why;
    if (!ParseOptions(args, &options, &why)) return Bad(why);
    SYSTEMTIME startClock;
    ::GetLocalTime(&startClock);
    const Stopwatch clock;
    ChildProcess child;
    if (!StartChild(options.command, options.cwd, &child)) {
        std::fprintf(stderr, "vtdriver: cannot start %s (error %lu)\n", options.command[0].c_str(),
                     static_cast<unsigned long>(::GetLastError()));
        return 1;
    }
    const UniqueHandle process(child.process);
    Print("start " + ClockText(startClock));
    Print("pid " + std::to_string(child.pid));
    PaintTimes times;
    const HWND hwnd = PollUntilPainted(options, child, clock, &times);
    PrintTimes(times);
    if (times.ended) {
        Print("ended " + std::to_string(times.exitCode));
        return 1;
    }
    if (!hwnd) Print("timeout");
    if (hwnd && options.lingerMs > 0) ::WaitForSingleObject(process.Get(), options.lingerMs);
    Print("exit " + std::to_string(CloseLauncher(hwnd, process.Get())));
    return hwnd ? 0 : 1;
}
