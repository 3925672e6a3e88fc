#!/usr/bin/python3
"""The driver's time-paint command under Wine, and the start-up benchmark's
reading of its output and of the launcher's log.

Usage: startup_timing_wine_test.py BIN_DIR CASE
"""
import datetime
import hashlib
import os
import sys
import time

from wine_session import check, run_cases, win_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import startup_bench  # noqa: E402

# Log and driver clocks are both read to the millisecond, each cut down.
CLOCK_SLACK_MS = 2


def encipher(s, text, out_path):
    plain = out_path + ".plain"
    with open(plain, "wb") as f:
        f.write(text.encode("gbk"))
    rc, _, err = s.run_wine([os.path.join(s.bin_dir, "patchkit.exe"), "encipher", win_path(plain),
                             win_path(out_path)])
    check(rc == 0, "patchkit.exe encipher failed: " + err)
    os.remove(plain)


def time_paint(s, *args, timeout=120):
    rc, out = s.drive("time-paint", *args, timeout=timeout)
    return rc, startup_bench.parse_driver_output(out), out


def case_paint_of_a_launcher(s):
    game = s.make_launcher_folder()
    entries = ["1002"]
    for i, content in enumerate([b"one", b"two", b"three"]):
        with open(os.path.join(game, "f%d.bin" % i), "wb") as f:
            f.write(content)
        # The last digest is wrong: the launcher must log that file.
        digest = hashlib.md5(content if i < 2 else b"other").hexdigest()
        entries += ["f%d.bin" % i, digest]
    encipher(s, "\n".join(entries), os.path.join(game, "version.data"))
    host = "127.0.0.1:%d" % startup_bench.closed_port()
    encipher(s, startup_bench.config_text(host), os.path.join(game, "config.data"))
    exe = win_path(os.path.join(game, "VantorelLauncher.exe"))
    # The files are verified behind the shown window: it stays open until they are.
    rc, figures, out = time_paint(s, "--cwd", win_path(game), "--linger", 3000, exe)
    check(rc == 0 and "painted" in figures, "no paint measured: " + out)
    check(0 < figures["window"] <= figures["shown"] <= figures["painted"], "times out of order: " + out)
    check(figures["polls"] >= 1 and figures.get("exit") == 0, "launcher not closed: " + out)
    log = s.read(os.path.join(game, "Log", "launcher.log"))
    check("f2.bin" in log and "f0.bin" not in log, "the verification did not run as listed: " + log)
    steps = startup_bench.milestones(figures["start"], startup_bench.parse_log(log))
    # The dialog is shown only after its initialisation returned, so the two
    # clocks agree when the logged initialisation lies before the showing.
    check(0 <= steps.get("initialised", -1) <= figures["shown"] + CLOCK_SLACK_MS,
          "log and driver clocks disagree: %r %s" % (steps, out))
    check(steps["settings"] <= steps["initialised"] <= steps["verify_start"] <= steps["verify_done"],
          "milestones out of order: %r" % steps)
    rc, count = s.drive("count-launchers")
    check(count == "0", "a launcher window is left: " + count)


def case_program_ends_without_window(s):
    # The driver itself, without a command, ends at once with status 2.
    rc, figures, out = time_paint(s, win_path(s.driver))
    check(rc == 1 and figures.get("ended") == 2, "early end not reported: " + out)
    check("painted" not in figures and "shown" not in figures, "a paint was made up: " + out)


def case_timeout_ends_program(s):
    started = time.time()
    rc, figures, out = time_paint(s, "--timeout", 1500, win_path(s.driver), "wait-window",
                                  "no such window", "--timeout", 60000)
    check(rc == 1 and figures["timeout"], "timeout not reported: " + out)
    check(figures.get("exit") == 1, "the program was not ended: " + out)
    check(time.time() - started < 30, "the driver waited for the program's own end")


def case_bad_commands(s):
    for args in ([], ["--poll", "0", "x.exe"], ["--poll", "5000", "x.exe"], ["--bogus", "1", "x.exe"],
                 ["--cwd", "C:\\"], ["--timeout", "10", "--poll"]):
        rc, _, out = time_paint(s, *args)
        check(rc == 2, "%r was accepted (status %d): %s" % (args, rc, out))


def case_timeline_reading(s):
    start = datetime.datetime(2026, 3, 1, 23, 59, 59, 900000)
    log = "\r\n".join([
        "2026-03-01 23:59:59.950 [Info] Z:\\game\\config.data",
        "garbage line",
        "2026-03-01 23:59:5 [Info] 初始化Launcher完成",          # clock cut short
        "2026-03-02 00:00:00.100 [Info] 初始化Launcher完成",     # after midnight
        "2026-03-02 00:00:00.100 [Error] 1002",
        "2026-03-02 00:00:00.105 [Info] 开始验证游戏版本",
        "2026-03-02 00:00:02.105 [Info] 游戏版本验证完毕",
        "2026-03-02 00:00:09.000 [Info] 游戏版本验证完毕",       # a later check
    ])
    steps = startup_bench.milestones(start, startup_bench.parse_log(log))
    expected = {"settings": 50, "initialised": 200, "verify_start": 205, "verify_done": 2205}
    for name, ms in expected.items():
        check(abs(steps.get(name, -1) - ms) < 0.01, "%s: %r, wanted %d" % (name, steps.get(name), ms))
    check("verify_failed" not in steps and "worker" not in steps, "steps made up: %r" % steps)
    cases = [
        ("start 2026-03-01 10:00:00.250\npid 7\nwindow 1.5\nshown 2\npainted 3.25\npolls 9 pending 2\nexit 0",
         {"pid": 7, "window": 1.5, "shown": 2.0, "painted": 3.25, "polls": 9, "pending": 2, "exit": 0,
          "timeout": False}),
        ("start 2026-03-01 10:00:00.250\npid 7\npolls 1 pending 0\nended 2",
         {"pid": 7, "ended": 2, "polls": 1, "timeout": False}),
        ("start bad clock\npid 7\npolls 3 pending 0\ntimeout\nexit 1",
         {"start": None, "pid": 7, "polls": 3, "pending": 0, "timeout": True, "exit": 1}),
    ]
    for text, wanted in cases:
        got = startup_bench.parse_driver_output(text)
        for key, value in wanted.items():
            check(got.get(key, "missing") == value,
                  "%s: %r, wanted %r in %r" % (key, got.get(key), value, text))
    check(startup_bench.file_sizes(3, 10) == [3, 3, 4], "sizes do not add up")
    check(sum(startup_bench.file_sizes(1000, 1 << 30)) == 1 << 30, "1 GiB not reached")


CASES = {
    "paint_of_a_launcher": case_paint_of_a_launcher,
    "program_ends_without_window": case_program_ends_without_window,
    "timeout_ends_program": case_timeout_ends_program,
    "bad_commands": case_bad_commands,
    "timeline_reading": case_timeline_reading,
}

if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        print(";".join(CASES))
        sys.exit(0)
    sys.exit(run_cases(CASES, sys.argv))
