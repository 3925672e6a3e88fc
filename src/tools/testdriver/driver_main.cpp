// vtdriver.exe: the small Windows program that the Wine tests run to drive the
// launcher. Each run does one command and prints its result on stdout:
//
//   start [--cwd DIR] EXE [ARG...]   prints "pid N", waits, then prints "exit N"
//   find-launcher [--pid PID]        prints "hwnd H pid P" of a running launcher
//   wait-launcher [--pid PID] [--timeout MS]
//   count-launchers                  prints how many launcher windows exist
//   wait-window TITLE [--timeout MS] a top-level window with exactly that title
//   send HWND MSG WPARAM LPARAM      SendMessage, prints "result R"
//   post HWND MSG WPARAM LPARAM      PostMessage, for a message whose handler
//                                    may wait for an answer in a box
//   text HWND                        the window's text
//   state HWND                       "normal|minimized|maximized|hidden foreground|background"
//   show HWND normal|minimize|hide
//   foreground HWND
//   close HWND                       posts WM_CLOSE
//   msgbox-text PID [--timeout MS]   the text of a message box of that process
//   msgbox-answer PID BUTTON [--timeout MS]   presses ok, cancel, yes or no
//   windows PID                      the process's visible top-level windows
//   kill PID
//   resource EXE TYPE ID             prints "size N" and the resource's bytes
//   time-paint [--cwd DIR] [--timeout MS] [--poll MS] [--linger MS] EXE [ARG...]   see driver_timing.h
//   clipboard                        the text on the clipboard
//
// The controls of a window, by their control id:
//   control HWND ID                  prints "enabled|disabled TEXT"
//   click HWND ID                    clicks it as the mouse does; fails when it
//                                    is disabled or hidden
//   wait-text HWND ID TEXT [--contains] [--timeout MS]
//                                    waits until its text equals (or contains)
//                                    TEXT; prints the text it last had
//   wait-enabled HWND ID yes|no [--timeout MS]
//   watch HWND ID... --until UID TEXT [--contains] [--timeout MS]
//                                    prints "MS ID enabled|disabled TEXT" for
//                                    each control at the start and at every
//                                    change (polled every 10 ms), until control
//                                    UID's text matches; then "done", else
//                                    "timeout" or "gone" with exit status 1
//   sys-close HWND                   posts WM_SYSCOMMAND SC_CLOSE
//   alt-f4 HWND                      posts the key-down of Alt+F4
//
// Exit status: 0 done, 1 not found or timed out, 2 bad command.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/win32/wide.h"
#include "tools/testdriver/driver_timing.h"
#include "tools/testdriver/driver_windows.h"

namespace {

constexpr DWORD kDefaultTimeoutMs = 20000;

using Args = std::vector<std::string>;

int Usage(const std::string& why) {
    std::fprintf(stderr, "vtdriver: %s\n", why.c_str());
    return 2;
}

// Takes "--name VALUE" out of args; returns fallback when absent.
std::string TakeOption(Args* args, const std::string& name, const std::string& fallback) {
    for (size_t i = 0; i + 1 < args->size(); ++i) {
        if ((*args)[i] == name) {
            std::string value = (*args)[i + 1];
            args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
            return value;
        }
    }
    return fallback;
}

DWORD TakeTimeout(Args* args) {
    return static_cast<DWORD>(std::strtoul(
        TakeOption(args, "--timeout", std::to_string(kDefaultTimeoutMs)).c_str(), nullptr, 0));
}

unsigned long long Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 0); }
HWND WindowArg(const std::string& text) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(Number(text))); }
DWORD PidArg(const std::string& text) { return static_cast<DWORD>(Number(text)); }

std::string WindowLine(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return "hwnd " + std::to_string(reinterpret_cast<uintptr_t>(hwnd)) + " pid " + std::to_string(pid);
}

int CmdStart(Args args) {
    const std::string cwd = TakeOption(&args, "--cwd", "");
    if (args.empty()) return Usage("start needs a program");
    ChildProcess child;
    if (!StartChild(args, cwd, &child)) {
        std::fprintf(stderr, "vtdriver: cannot start %s (error %lu)\n", args[0].c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    Print("pid " + std::to_string(child.pid));
    Print("exit " + std::to_string(WaitChild(&child)));
    return 0;
}

int CmdFindLauncher(Args args, bool wait) {
    const DWORD pid = PidArg(TakeOption(&args, "--pid", "0"));
    const DWORD timeout = wait ? TakeTimeout(&args) : 0;
    HWND hwnd = WaitFor([&] { return FindLauncherWindow(pid); }, timeout);
    if (!hwnd) return 1;
    Print(WindowLine(hwnd));
    return 0;
}

int CmdWaitWindow(Args args) {
    const DWORD timeout = TakeTimeout(&args);
    if (args.size() != 1) return Usage("wait-window needs a title");
    const std::wstring title = ToWide(args[0]);
    HWND hwnd = WaitFor([&] { return FindWindowTitled(title); }, timeout);
    if (!hwnd) return 1;
    Print(WindowLine(hwnd));
    return 0;
}

int CmdSend(const Args& args) {
    if (args.size() != 4) return Usage("send needs HWND MSG WPARAM LPARAM");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(WindowArg(args[0]), static_cast<UINT>(Number(args[1])),
                             static_cast<WPARAM>(Number(args[2])),
                             static_cast<LPARAM>(Number(args[3])), SMTO_NORMAL, kDefaultTimeoutMs,
                             &result)) {
        return 1;
    }
    Print("result " + std::to_string(result));
    return 0;
}

int CmdPost(const Args& args) {
    if (args.size() != 4) return Usage("post needs HWND MSG WPARAM LPARAM");
    return PostMessageW(WindowArg(args[0]), static_cast<UINT>(Number(args[1])),
                        static_cast<WPARAM>(Number(args[2])), static_cast<LPARAM>(Number(args[3])))
               ? 0
               : 1;
}

int CmdText(const Args& args) {
    if (args.size() != 1) return Usage("text needs HWND");
    HWND hwnd = WindowArg(args[0]);
    if (!IsWindow(hwnd)) return 1;
    Print(WindowText(hwnd));
    return 0;
}

int CmdState(const Args& args) {
    if (args.size() != 1) return Usage("state needs HWND");
    HWND hwnd = WindowArg(args[0]);
    if (!IsWindow(hwnd)) return 1;
    std::string shown = !IsWindowVisible(hwnd) ? "hidden"
                        : IsIconic(hwnd)       ? "minimized"
                        : IsZoomed(hwnd)       ? "maximized"
                                               : "normal";
    Print(shown + (GetForegroundWindow() == hwnd ? " foreground" : " background"));
    return 0;
}

int CmdShow(const Args& args) {
    if (args.size() != 2) return Usage("show needs HWND and a state");
    const int how = args[1] == "normal"     ? SW_SHOWNORMAL
                    : args[1] == "minimize" ? SW_MINIMIZE
                    : args[1] == "hide"     ? SW_HIDE
                                            : -1;
    if (how < 0) return Usage("show: unknown state " + args[1]);
    ShowWindow(WindowArg(args[0]), how);
    return 0;
}

int CmdWindowAction(const std::string& verb, const Args& args) {
    if (args.size() != 1) return Usage(verb + " needs HWND");
    HWND hwnd = WindowArg(args[0]);
    if (!IsWindow(hwnd)) return 1;
    if (verb == "foreground") return SetForegroundWindow(hwnd) ? 0 : 1;
    return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
}

int CmdMessageBox(Args args, bool answer) {
    const DWORD timeout = TakeTimeout(&args);
    if (args.size() != (answer ? 2u : 1u)) return Usage("message box commands need PID (and BUTTON)");
    HWND box = WaitFor([&] { return FindMessageBox(PidArg(args[0])); }, timeout);
    if (!box) return 1;
    if (!answer) {
        Print(MessageBoxText(box));
        return 0;
    }
    const int id = ButtonId(args[1]);
    if (id == 0) return Usage("unknown button " + args[1]);
    return PressButton(box, id) ? 0 : 1;
}

int CmdWindows(const Args& args) {
    if (args.size() != 1) return Usage("windows needs PID");
    for (HWND hwnd : VisibleWindowsOf(PidArg(args[0]))) {
        Print(WindowLine(hwnd) + " class " + WindowClass(hwnd) + " title " + WindowText(hwnd));
    }
    return 0;
}

int CmdKill(const Args& args) {
    if (args.size() != 1) return Usage("kill needs PID");
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, PidArg(args[0]));
    if (!process) return 1;
    const bool done = TerminateProcess(process, 1) &&
                      WaitForSingleObject(process, kDefaultTimeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return done ? 0 : 1;
}

int CmdResource(const Args& args) {
    if (args.size() != 3) return Usage("resource needs EXE TYPE ID");
    HMODULE module = LoadLibraryExW(ToWide(args[0]).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 1;
    const auto type = static_cast<WORD>(Number(args[1]));
    const auto id = static_cast<WORD>(Number(args[2]));
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = data ? SizeofResource(module, found) : 0;
    if (data) {
        Print("size " + std::to_string(size));
        std::fwrite(data, 1, size, stdout);
        std::fflush(stdout);
    }
    FreeLibrary(module);
    return data ? 0 : 1;
}

int CmdClipboard(const Args& args) {
    if (!args.empty()) return Usage("clipboard takes no arguments");
    if (!OpenClipboard(nullptr)) return 1;
    std::string text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = FromWide(wide);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    Print(text);
    return 0;
}

bool TakeFlag(Args* args, const std::string& name) {
    for (size_t i = 0; i < args->size(); ++i) {
        if ((*args)[i] == name) {
            args->erase(args->begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

int IdArg(const std::string& text) { return static_cast<int>(Number(text)); }

std::string StateLine(const ControlState& state) {
    if (!state.exists) return "missing";
    return std::string(state.enabled ? "enabled " : "disabled ") + state.text;
}

int CmdControl(const Args& args) {
    if (args.size() != 2) return Usage("control needs HWND ID");
    const ControlState state = ReadControl(WindowArg(args[0]), IdArg(args[1]));
    Print(StateLine(state));
    return state.exists ? 0 : 1;
}

int CmdClick(const Args& args) {
    if (args.size() != 2) return Usage("click needs HWND ID");
    return ClickControl(WindowArg(args[0]), IdArg(args[1])) ? 0 : 1;
}

// Polls one control every 10 ms until matches(state) or the timeout; prints
// the state it last read.
template <typename Match>
int WaitControl(HWND dialog, int id, DWORD timeoutMs, Match matches) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ControlState state = ReadControl(dialog, id);
        const bool done = matches(state);
        if (done || !state.exists || GetTickCount64() - start >= timeoutMs) {
            Print(StateLine(state));
            return done ? 0 : 1;
        }
        Sleep(10);
    }
}

int CmdWaitText(Args args) {
    const DWORD timeout = TakeTimeout(&args);
    const bool contains = TakeFlag(&args, "--contains");
    if (args.size() != 3) return Usage("wait-text needs HWND ID TEXT");
    const std::string wanted = args[2];
    return WaitControl(WindowArg(args[0]), IdArg(args[1]), timeout, [&](const ControlState& state) {
        return state.exists && TextMatches(state.text, wanted, contains);
    });
}

int CmdWaitEnabled(Args args) {
    const DWORD timeout = TakeTimeout(&args);
    if (args.size() != 3 || (args[2] != "yes" && args[2] != "no")) {
        return Usage("wait-enabled needs HWND ID yes|no");
    }
    const bool wanted = args[2] == "yes";
    return WaitControl(WindowArg(args[0]), IdArg(args[1]), timeout, [&](const ControlState& state) {
        return state.exists && state.enabled == wanted;
    });
}

int CmdWatch(Args args) {
    const DWORD timeout = TakeTimeout(&args);
    const bool contains = TakeFlag(&args, "--contains");
    const int untilId = IdArg(TakeOption(&args, "--until", "0"));
    // "--until UID" is taken above; its TEXT is left as the last operand.
    if (args.size() < 3) return Usage("watch needs HWND ID... --until ID TEXT");
    const std::string wanted = args.back();
    args.pop_back();
    const HWND dialog = WindowArg(args[0]);
    std::vector<int> ids;
    for (size_t i = 1; i < args.size(); ++i) ids.push_back(IdArg(args[i]));
    std::vector<ControlState> last(ids.size());
    const ULONGLONG start = GetTickCount64();
    for (bool first = true;; first = false) {
        const std::string ms = std::to_string(GetTickCount64() - start);
        ControlState until = ReadControl(dialog, untilId);
        for (size_t i = 0; i < ids.size(); ++i) {
            const ControlState state = ReadControl(dialog, ids[i]);
            if (first || state != last[i]) Print(ms + " " + std::to_string(ids[i]) + " " + StateLine(state));
            last[i] = state;
            // The printed rows end with the state that matched.
            if (ids[i] == untilId) until = state;
        }
        if (until.exists && TextMatches(until.text, wanted, contains)) {
            Print("done");
            return 0;
        }
        if (!IsWindow(dialog) || GetTickCount64() - start >= timeout) {
            Print(IsWindow(dialog) ? "timeout" : "gone");
            return 1;
        }
        Sleep(10);
    }
}

int CmdCloseKey(const std::string& verb, const Args& args) {
    if (args.size() != 1) return Usage(verb + " needs HWND");
    HWND hwnd = WindowArg(args[0]);
    if (!IsWindow(hwnd)) return 1;
    if (verb == "sys-close") return PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    // Bit 29 of lParam: Alt was down, as a real Alt+F4 arrives.
    return PostMessageW(hwnd, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(1 | (1u << 29))) ? 0 : 1;
}

int Dispatch(const std::string& verb, const Args& args) {
    if (verb == "control") return CmdControl(args);
    if (verb == "click") return CmdClick(args);
    if (verb == "wait-text") return CmdWaitText(args);
    if (verb == "wait-enabled") return CmdWaitEnabled(args);
    if (verb == "watch") return CmdWatch(args);
    if (verb == "sys-close" || verb == "alt-f4") return CmdCloseKey(verb, args);
    if (verb == "start") return CmdStart(args);
    if (verb == "find-launcher") return CmdFindLauncher(args, false);
    if (verb == "wait-launcher") return CmdFindLauncher(args, true);
    if (verb == "count-launchers") {
        Print(std::to_string(CountLauncherWindows()));
        return 0;
    }
    if (verb == "wait-window") return CmdWaitWindow(args);
    if (verb == "send") return CmdSend(args);
    if (verb == "post") return CmdPost(args);
    if (verb == "text") return CmdText(args);
    if (verb == "state") return CmdState(args);
    if (verb == "show") return CmdShow(args);
    if (verb == "foreground" || verb == "close") return CmdWindowAction(verb, args);
    if (verb == "msgbox-text") return CmdMessageBox(args, false);
    if (verb == "msgbox-answer") return CmdMessageBox(args, true);
    if (verb == "windows") return CmdWindows(args);
    if (verb == "kill") return CmdKill(args);
    if (verb == "resource") return CmdResource(args);
    if (verb == "time-paint") return CmdTimePaint(args);
    if (verb == "clipboard") return CmdClipboard(args);
    return Usage("unknown command " + verb);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage("no command; see the head of driver_main.cpp");
    Args args;
    for (int i = 2; i < argc; ++i) args.push_back(FromWide(argv[i]));
    return Dispatch(FromWide(argv[1]), args);
}
