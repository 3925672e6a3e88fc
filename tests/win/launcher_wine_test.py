#!/usr/bin/python3
"""Start-up of VantorelLauncher.exe under Wine, driven by vtdriver.exe.

Usage: launcher_wine_test.py BIN_DIR CASE
"""
import hashlib
import os
import shutil
import struct
import sys
import time

from road import START, STATUS_LINE, UPDATE, Road, native_patchkit, run_native, signing_key, write_config
from wine_session import check, run_cases, wait_game_started, win_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import startup_bench  # noqa: E402

GAME_MESSAGE = "游戏正在运行, 请关闭后再运行!"
UPDATE_END_MESSAGE = 1024 + 100
# The system information button, and the copy and close buttons of that window.
SYSINFO, SYSINFO_COPY, SYSINFO_CLOSE = 1007, 1033, 1034
# What a launcher shows when its folder has no version.data to verify: the
# run that would recover it finds no server to ask.
NOT_VERIFIED = "更新失败 . 错误代码 : "


def log_of(session, folder):
    return session.read(os.path.join(folder, "Log", "launcher.log"))


def launcher_exe(game):
    return os.path.join(game, "VantorelLauncher.exe")


def start_game_standin(s, game):
    started = s.start(os.path.join(game, "Vantorel.exe"), cwd=game)
    wait_game_started(game)
    return started


def answer_game_message(s, launcher):
    rc, text = s.drive("msgbox-text", launcher.pid)
    check(rc == 0, "no message box from the launcher")
    check(text == GAME_MESSAGE, "message box says %r" % text)
    rc, _ = s.drive("msgbox-answer", launcher.pid, "ok")
    check(rc == 0, "cannot answer the message box")
    code = s.wait_exit(launcher)
    check(code == 0, "launcher ended with %r after the game message" % code)


def start_running_launcher(s, game, cwd, *args):
    launcher = s.start(launcher_exe(game), *args, cwd=cwd)
    hwnd = s.wait_launcher(launcher)
    deadline = time.time() + 30
    while "初始化Launcher完成" not in log_of(s, cwd) and time.time() < deadline:
        time.sleep(0.05)
    check("初始化Launcher完成" in log_of(s, cwd), "the launcher did not log its initialisation")
    return launcher, hwnd


def second_start(s, game, cwd, *args):
    """Starts another launcher that must hand over and end without a window."""
    second = s.start(launcher_exe(game), *args, cwd=cwd)
    code = s.wait_exit(second)
    check(code == 0, "second launcher %r ended with %r" % (args, code))
    rc, count = s.drive("count-launchers")
    check(count == "1", "%s launcher windows after a second start %r" % (count, args))


def case_game_running(s):
    game = s.make_launcher_folder()
    work = s.make_folder("work")
    start_game_standin(s, game)
    launcher = s.start(launcher_exe(game), cwd=work)
    rc, text = s.drive("msgbox-text", launcher.pid)
    check(rc == 0 and text == GAME_MESSAGE, "game message missing or wrong: %r" % text)
    check(not os.path.exists(os.path.join(work, "Log")), "the log folder exists before the answer")
    answer_game_message(s, launcher)
    check(not os.path.exists(os.path.join(work, "Log")), "the game check created the log folder")
    rc, count = s.drive("count-launchers")
    check(count == "0", "a launcher window opened beside the game")


def case_game_running_beside_launcher(s):
    game = s.make_launcher_folder()
    work, other = s.make_folder("work"), s.make_folder("other")
    _, hwnd = start_running_launcher(s, game, work)
    s.drive("show", hwnd, "minimize")
    start_game_standin(s, game)
    second = s.start(launcher_exe(game), "/update", cwd=other)
    answer_game_message(s, second)
    rc, state = s.drive("state", hwnd)
    check(state.startswith("minimized"), "the running launcher was activated: %s" % state)
    check("Update end." not in log_of(s, work), "the running launcher got the update notice")
    check(not os.path.exists(os.path.join(other, "Log")), "the refused start created a log")


def case_second_start_brings_front(s):
    game = s.make_launcher_folder()
    work = s.make_folder("work")
    _, hwnd = start_running_launcher(s, game, work)
    s.start(os.path.join(game, "GameConfig.exe"), cwd=game)
    rc, out = s.drive("wait-window", "GameConfig")
    check(rc == 0, "the settings stand-in shows no window")
    other = out.split()[1]
    # Behind another window, then minimised: both times it comes back in front.
    for minimise in (False, True):
        if minimise:
            s.drive("show", hwnd, "minimize")
        s.drive("foreground", other)
        rc, state = s.drive("state", hwnd)
        expected = "minimized background" if minimise else "normal background"
        check(state == expected, "precondition: launcher is %s" % state)
        second_start(s, game, work)
        rc, state = s.drive("state", hwnd)
        check(state == "normal foreground", "after a second start the launcher is %s" % state)
    log = log_of(s, work)
    check("Update end." not in log and "更新完成通知" not in log, "a plain second start logged: " + log)


def case_update_hand_off(s):
    game = s.make_launcher_folder()
    first, second = s.make_folder("first"), s.make_folder("second")
    start_running_launcher(s, game, first)
    second_start(s, game, second, "/update")
    first_log, second_log = log_of(s, first), log_of(s, second)
    check(first_log.count("Update end.") == 1, "running launcher's log: " + first_log)
    check("更新完成通知." in second_log, "second launcher's log: " + second_log)
    check("初始化Launcher完成" not in second_log, "the second launcher opened a window")
    check("更新完成通知" not in first_log, "the running launcher logged the notice itself")
    # The window's launcher names the key it checks releases against: the demo key, whose .pub gives its id.
    key = signing_key(s.bin_dir)
    # minisign writes the id without leading zeros; the launcher always shows sixteen digits.
    key_id = key and open(key[:-len(".key")] + ".pub").readline().split()[-1].upper().zfill(16)
    check(not key or "运营商公钥 : " + key_id in first_log,
          "the launcher did not log its key id %s: %s" % (key_id, first_log))


def case_update_switch_ignored(s):
    game = s.make_launcher_folder()
    first, second = s.make_folder("first"), s.make_folder("second")
    start_running_launcher(s, game, first)
    for args in (["/UPDATE"], ["/Update"], ["x", "/update"], ["update"]):
        second_start(s, game, second, *args)
        check("Update end." not in log_of(s, first), "%r was taken for the update switch" % args)
    # The same run with the exact switch does reach the running launcher.
    second_start(s, game, second, "/update", "x")
    check(log_of(s, first).count("Update end.") == 1, "the exact switch was not handed over")


def case_update_message_parameters(s):
    game = s.make_launcher_folder()
    work = s.make_folder("work")
    _, hwnd = start_running_launcher(s, game, work)
    for wparam, lparam in ((0, 2), (1, 1), (0, 0), (1, 0)):
        rc, out = s.drive("send", hwnd, UPDATE_END_MESSAGE, wparam, lparam)
        check(rc == 0 and out == "result 0", "send (%d, %d): %s" % (wparam, lparam, out))
    check("Update end." not in log_of(s, work), "other parameters were acted on")
    s.drive("send", hwnd, UPDATE_END_MESSAGE, 0, 1)
    check(log_of(s, work).count("Update end.") == 1, "wParam 0, lParam 1 was not acted on")


def case_log_folder_follows_current_folder(s):
    game = s.make_launcher_folder()
    other = s.make_folder("other")
    launcher, hwnd = start_running_launcher(s, game, other, "/update")
    log = log_of(s, other)
    check("更新完成通知2." in log, "a first start with /update did not log it: " + log)
    check(win_path(game) + "\\config.data" in log, "config.data path not logged: " + log)
    check(not os.path.exists(os.path.join(game, "Log")), "a log folder appeared in the game folder")
    s.drive("close", hwnd)
    code = s.wait_exit(launcher)
    check(code == 0, "closing the window ended the launcher with %r" % code)


# How long a launcher may take to end once its window is closed, beyond the
# time Wine takes to end any program whose window closes.
CLOSE_LIMIT_S = 2.0


def fill_work_folder(game, folders, files):
    """A large _temp, as a big update leaves it: nested folders of empty files."""
    for i in range(folders):
        deeper = os.path.join(game, "_temp", "Root%d" % i, "Data")
        os.makedirs(deeper)
        for j in range(files):
            open(os.path.join(deeper, "f%d.dat" % j), "wb").close()


def seconds_to_end(s, started, hwnd):
    """Closes the window and times the program's end; None when it does not end."""
    s.drive("close", hwnd)
    closed = time.time()
    code = s.wait_exit(started)
    check(code in (0, None), "the program ended with %r" % code)
    return None if code is None else time.time() - closed


def close_floor(s, game):
    """How long Wine takes to end a program without work once its window closes."""
    standin = s.start(os.path.join(game, "GameConfig.exe"), cwd=game)
    rc, out = s.drive("wait-window", "GameConfig")
    check(rc == 0, "the settings stand-in shows no window")
    floor = seconds_to_end(s, standin, out.split()[1])
    check(floor is not None, "the settings stand-in did not end")
    return floor


def case_close_during_large_cleanup(s):
    game = s.make_launcher_folder()
    work = s.make_folder("work")
    floor = close_floor(s, game)
    fill_work_folder(game, 400, 50)
    # "/update" starts the removal of _temp before the window opens.
    launcher, hwnd = start_running_launcher(s, game, work, "/update")
    took = seconds_to_end(s, launcher, hwnd)
    check(took is not None, "the launcher did not end after its window closed")
    check(took - floor < CLOSE_LIMIT_S, "the launcher took %.1f s to end after its window closed, "
          "a program without work %.1f s" % (took, floor))
    check(os.path.isdir(os.path.join(game, "_temp")),
          "the removal had finished before the window closed; the case needs a larger _temp")


# A tree whose verification takes several seconds even under a fast MD5:
# sparse files, so that making it costs nothing. Their listed digests are
# wrong on purpose (computing the right ones would take as long).
LARGE_TREE_FILES, LARGE_TREE_FILE_BYTES = 96, 64 << 20
VERIFYING = "正在验证游戏文件"


def make_large_tree(s, game):
    entries = ["1002"]
    for i in range(LARGE_TREE_FILES):
        name = "Data\\big%02d.bin" % i
        path = os.path.join(game, "Data", "big%02d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.truncate(LARGE_TREE_FILE_BYTES)
        entries += [name, "0" * 32]
    write_installation_files(s, game, entries)


def write_installation_files(s, game, entries):
    """version.data of these entries, and a config.data whose update server
    does not listen: only the verification matters here."""
    plain = s.path("version.plain")
    with open(plain, "wb") as f:
        f.write("\n".join(entries).encode("gbk"))
    rc, out = run_native([native_patchkit(s.bin_dir), "encipher", plain, os.path.join(game, "version.data")])
    check(rc == 0, "patchkit encipher: " + out)
    write_config(s.bin_dir, game, startup_bench.closed_port())


def case_window_shows_while_verifying(s):
    game = s.make_launcher_folder()
    make_large_tree(s, game)
    floor = close_floor(s, game)
    # Shown and painted, with nothing left to paint, while the files are read.
    rc, out = s.drive("time-paint", "--cwd", win_path(game), win_path(launcher_exe(game)), timeout=120)
    check(rc == 0 and "painted" in out, "the window was not painted: " + out)
    log = log_of(s, game)
    check("游戏版本验证完毕" not in log, "the verification ended before the window was closed: " + log)
    shutil.rmtree(os.path.join(game, "Log"))
    r = Road(s, game, "verifying").start()
    r.wait_text(STATUS_LINE, VERIFYING, contains=True)
    first = r.text(STATUS_LINE)
    r.expect_buttons(False, False, "while verifying")
    deadline = time.time() + 30
    while r.text(STATUS_LINE) == first and time.time() < deadline:
        time.sleep(0.1)
    moved = r.text(STATUS_LINE)
    check(moved != first and VERIFYING in moved, "the status line stays at %r, then %r" % (first, moved))
    r.shot("status_moving")
    took = seconds_to_end(s, r.launcher, r.hwnd)
    check(took is not None and took - floor < CLOSE_LIMIT_S,
          "the launcher took %r s to end after its window closed, a program without work %.1f s"
          % (took, floor))
    log = r.log()
    check("游戏版本验证已停止" in log and "游戏版本验证完毕" not in log,
          "the verification was not stopped by the close: " + log)


def verified_once(s, game, *args):
    """The launcher's log of one start that ran to the end of its verification."""
    shutil.rmtree(os.path.join(game, "Log"), ignore_errors=True)
    launcher, hwnd = start_running_launcher(s, game, game, *args)
    deadline = time.time() + 30
    while "游戏版本验证完毕" not in log_of(s, game) and time.time() < deadline:
        time.sleep(0.1)
    s.drive("close", hwnd)
    check(s.wait_exit(launcher) == 0, "the launcher did not end on close")

    return log_of(s, game)


def case_full_check_switch(s):
    game = s.make_launcher_folder()
    names = ["f0.bin", "f1.bin"]
    entries = ["1002"]
    for name in names:
        with open(os.path.join(game, name), "wb") as f:
            f.write(b"content of " + name.encode())
        entries += [name, hashlib.md5(b"content of " + name.encode()).hexdigest()]
    write_installation_files(s, game, entries)
    check("验证缓存" not in verified_once(s, game), "a first start found a cache")
    # One byte changes; size and time stay: only a full check can see it.
    path = os.path.join(game, "f1.bin")
    stat = os.stat(path)
    with open(path, "r+b") as f:
        f.write(b"C")
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    mismatch = "警告 : f1.bin  文件验证不匹配。"
    log = verified_once(s, game)
    check(mismatch not in log and "验证缓存 : 2 个文件" in log and "/verify" in log,
          "the second start read the files or did not say so: " + log)
    log = verified_once(s, game, "/verify")
    check(mismatch in log and "完整验证" in log, "/verify did not read every file: " + log)


def case_config_data_from_patchkit(s):
    game = s.make_launcher_folder()
    ini = s.path("config.ini")
    with open(ini, "wb") as f:
        f.write("HomePage=http://主页/\nSupport=s\n".encode("gbk"))
    data = os.path.join(game, "config.data")
    rc, _, err = s.run_wine([os.path.join(s.bin_dir, "patchkit.exe"), "encipher", win_path(ini),
                             win_path(data)])
    check(rc == 0, "patchkit.exe encipher failed: " + err)
    launcher, hwnd = start_running_launcher(s, game, game)
    # The folder has no version.data, so the window's verification logs its own
    # Error; only the configuration's entries matter here.
    config_errors = [line for line in log_of(s, game).splitlines()
                     if "[Error]" in line and "config" in line]
    check(not config_errors, "config.data was not read: %r" % config_errors)
    s.drive("close", hwnd)
    check(s.wait_exit(launcher) == 0, "launcher did not end on close")
    content = bytearray(open(data, "rb").read())
    content[-1] ^= 0x01
    open(data, "wb").write(content)
    start_running_launcher(s, game, game)
    errors = [line for line in log_of(s, game).splitlines()
              if "[Error]" in line and "config" in line]
    check(len(errors) == 1 and "config.data" in errors[0], "damaged config.data: %r" % errors)


def case_program_file(s):
    exe = os.path.join(s.bin_dir, "VantorelLauncher.exe")
    with open(exe, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    check(image[pe:pe + 4] == b"PE\0\0", "not a PE file")
    machine = struct.unpack_from("<H", image, pe + 4)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    subsystem = struct.unpack_from("<H", image, optional + 68)[0]
    check(machine == 0x14C and magic == 0x10B, "not a 32-bit x86 program: %#x %#x" % (machine, magic))
    check(subsystem == 2, "not a GUI program: subsystem %d" % subsystem)
    # type numbers: 5 dialog, 14 icon group, 16 version, 24 manifest
    for kind, number, what in ((5, 102, "main window template"), (14, 103, "application icon"),
                               (16, 1, "version resource"), (24, 1, "manifest")):
        rc, out = s.drive("resource", win_path(exe), kind, number)
        check(rc == 0, "no %s (%d/%d)" % (what, kind, number))
        if kind == 24:
            check('level="requireAdministrator"' in out, "manifest level: " + out)


# Input that must leave the main window as it was: what, the window's state
# before, and the message posted to it (so it passes the window's message
# loop, as the key and the mouse do).
WM_KEYDOWN, VK_ESCAPE = 0x0100, 0x1B
WM_NCLBUTTONDBLCLK, HTCAPTION = 0x00A3, 2
LEFT_ALONE = [
    ("Escape", "normal", WM_KEYDOWN, VK_ESCAPE, 0x00010001),
    ("caption double-click", "normal", WM_NCLBUTTONDBLCLK, HTCAPTION, 0),
    ("caption double-click on the minimised window", "minimize", WM_NCLBUTTONDBLCLK, HTCAPTION, 0),
]
SHOWN_AS = {"normal": "normal", "minimize": "minimized"}


def shown_launcher(s, case, game=None):
    """A launcher on a folder without version.data, once its window is shown."""
    r = Road(s, game or s.make_launcher_folder(), case).start()
    r.wait_text(STATUS_LINE, NOT_VERIFIED, contains=True)
    return r


def case_escape_and_caption_double_click(s):
    r = shown_launcher(s, "window_input")
    for what, state, message, wparam, lparam in LEFT_ALONE:
        s.drive("show", r.hwnd, state)
        rc, _ = s.drive("post", r.hwnd, message, wparam, lparam)
        check(rc == 0, "cannot post the " + what)
        time.sleep(0.5)
        check(r.launcher.exit_code() is None, "the %s closed the launcher" % what)
        rc, now = s.drive("state", r.hwnd)
        check(rc == 0 and now.split()[0] == SHOWN_AS[state], "after the %s the window is %s" % (what, now))
    s.drive("show", r.hwnd, "normal")
    r.shot("left_alone")


def other_windows(s, r, wanted, timeout=10):
    """The launcher's shown top-level windows besides the main one, once
    there are `wanted` of them (or the timeout has passed)."""
    deadline = time.time() + timeout
    while True:
        _, out = s.drive("windows", r.launcher.pid)
        shown = [int(line.split()[1]) for line in out.splitlines()]
        shown = [hwnd for hwnd in shown if hwnd != r.hwnd]
        if len(shown) == wanted or time.time() > deadline:
            return shown
        time.sleep(0.1)


def case_system_info_opens_once(s):
    r = shown_launcher(s, "system_info")
    opened = None
    for opening in ("first", "while shown", "after closing"):
        r.click(SYSINFO)
        time.sleep(0.5)
        shown = other_windows(s, r, 1)
        check(len(shown) == 1, "%s opening: %d system information windows" % (opening, len(shown)))
        check(opened in (None, shown[0]), "the %s opening made another window" % opening)
        opened = shown[0]
        if opening == "while shown":
            rc, _ = s.drive("click", opened, SYSINFO_CLOSE)
            check(rc == 0 and not other_windows(s, r, 0), "the close button did not hide the window")
    r.shot("shown_again")
    # Shown again, it still has its report to copy.
    check(s.drive("click", opened, SYSINFO_COPY)[0] == 0, "cannot click the copy button")
    r.message_box("复制成功!", "ok", "copied")
    rc, text = s.drive("clipboard")
    check(rc == 0 and text.startswith("OS : ") and "CPU Count : " in text, "the copied report: %r" % text)


def case_start_failed_still_closes(s):
    game = s.make_launcher_folder()
    os.remove(os.path.join(game, "Vantorel.exe"))
    r = shown_launcher(s, "start_failed", game)
    r.click(START)
    r.wait_gone()


CASES = {
    "program_file": case_program_file,
    "game_running": case_game_running,
    "game_running_beside_launcher": case_game_running_beside_launcher,
    "second_start_brings_front": case_second_start_brings_front,
    "update_hand_off": case_update_hand_off,
    "update_switch_ignored": case_update_switch_ignored,
    "update_message_parameters": case_update_message_parameters,
    "log_folder_follows_current_folder": case_log_folder_follows_current_folder,
    "config_data_from_patchkit": case_config_data_from_patchkit,
    "escape_and_caption_double_click": case_escape_and_caption_double_click,
    "system_info_opens_once": case_system_info_opens_once,
    "start_failed_still_closes": case_start_failed_still_closes,
    "close_during_large_cleanup": case_close_during_large_cleanup,
    "window_shows_while_verifying": case_window_shows_while_verifying,
    "full_check_switch": case_full_check_switch,
}

if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        print(";".join(CASES))
        sys.exit(0)
    sys.exit(run_cases(CASES, sys.argv))
