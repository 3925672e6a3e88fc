#!/usr/bin/python3
"""The player's road through VantorelLauncher.exe under Wine: an update
offered by nginx, installed through the window and the installer program,
the mandatory version after it, the game started; and the turns off that
road (game running, failed download, support package, quit question).

Usage: launcher_road_test.py BIN_DIR CASE
Screenshots go to BIN_DIR/../screenshots/<case>_<state>.png.
"""
import os
import re
import subprocess
import sys
import time

import road
from road import (ALREADY_NEWEST, CLOSE, CONTINUE_NAME, GAME_RUNNING_BOX, NEW_VERSION, PAUSE_NAME, PROGRESS_BAR,
                  QUIT_QUESTION, START, STATUS_LINE, SUPPORT, UPDATE, UPDATE_END_MESSAGE, UPDATE_INSTALLED, Road,
                  Server)
from wine_session import check, run_cases, wait_game_started


class Stage:
    """A release tree served by nginx and a game folder at 1.0.0.1."""

    def __init__(self, s, slow=None, certs=None):
        self.s = s
        self.slow = slow
        self.site = road.make_release(s.bin_dir, s.path("release"))
        self.server = Server(s.path("nginx"), self.site, slow, certs)
        self.update_ip = None
        if certs:
            with open(s.path("nginx", "tls-port-good")) as f:
                self.update_ip = "https://localhost:" + f.read().strip()
        self.count = 0

    def game(self):
        self.count += 1
        folder = self.s.path("game%d" % self.count)
        road.make_installation(self.s.bin_dir, self.site, folder, self.server.port, self.update_ip)
        return folder

    def road(self, case, game=None):
        return Road(self.s, game or self.game(), case).start()

    def close(self):
        self.server.stop()


def staged(body, slow=None):
    def case(s):
        stage = Stage(s, slow)
        try:
            body(s, stage)
        finally:
            stage.close()
    return case


def staged_slowly(uri):
    """staged, with the server sending uri slowly."""
    return lambda body: staged(body, uri)


@staged
def case_road(s, stage):
    r = stage.road("road")
    road.play_road(s, r)
    road.check_installed(s.bin_dir, r.game, 3)
    check(not os.path.exists(os.path.join(r.game, "udo.temp")), "udo.temp left behind")
    # 1.0.0.3's big.dat and code.dll were made from the installed ones and a
    # delta each, one VCDIFF and one bsdiff.
    log = s.read(os.path.join(r.game, "Log", "launcher.log"))
    check("增量更新 : 2 个文件, 1 个补丁包" in log and "增量更新失败" not in log, "no delta taken:\n" + log)
    road.start_game_and_close(s, r)


def case_road_https(s):
    """The road with UpdateIP over https (the only way to the server), the
    test CA in the Wine prefix's root store for the run."""
    certs = s.path("certs")
    subprocess.check_call(["/usr/bin/python3", road.PEER, "certs", certs], stdout=subprocess.DEVNULL)
    ca = "Z:" + os.path.join(certs, "ca.der").replace("/", "\\")
    test_root = os.path.join(s.bin_dir, "test_root.exe")
    check(s.run_wine([test_root, "add", ca])[1].strip() == "result 0", "the test CA is not in the root store")
    stage = Stage(s, certs=certs)
    try:
        r = stage.road("road_https")
        road.play_road(s, r)
        road.check_installed(s.bin_dir, r.game, 3)
    finally:
        stage.close()
        s.run_wine([test_root, "remove", ca])


def start_game_standin(s, game):
    s.start(os.path.join(game, "Vantorel.exe"), cwd=game)
    wait_game_started(game)


@staged
def case_game_running(s, stage):
    # Up to date first (only 1.0.0.1 on the server would do too): the game
    # then starts, and the update-end notice begins a check that must stop
    # at the game-running box, start no worker and leave the buttons.
    game = stage.game()
    with open(os.path.join(stage.site, "versionlist.data"), "r+") as f:
        lines = f.read().splitlines()
        f.seek(0)
        f.truncate()
        f.write(lines[0] + "\n")
    road.sign_release(s.bin_dir, stage.site)
    r = Road(s, game, "game_running").start()
    r.wait_text(STATUS_LINE, ALREADY_NEWEST)
    r.expect_buttons(True, False, "up to date")
    start_game_standin(s, game)
    asked = r.log().count("请求版本升级状态...")
    rc, _ = s.drive("post", r.hwnd, UPDATE_END_MESSAGE, 0, 1)
    check(rc == 0, "cannot post the update-end notice")
    r.message_box(GAME_RUNNING_BOX, "ok", "game_running_box")
    r.wait_text(STATUS_LINE, UPDATE_INSTALLED)
    time.sleep(1)
    check(r.log().count("请求版本升级状态...") == asked, "a worker started beside the game")
    r.expect_buttons(True, False, "after the game-running box")
    road.check_installed(s.bin_dir, game, 1)


@staged
def case_game_running_update_button(s, stage):
    game = stage.game()
    r = Road(s, game, "game_running_update").start()
    r.wait_text(STATUS_LINE, NEW_VERSION)
    start_game_standin(s, game)
    r.click(UPDATE)
    r.message_box(GAME_RUNNING_BOX, "cancel", "game_running_box")
    time.sleep(1)
    r.expect_buttons(True, True, "update refused while the game runs")
    check(r.text(STATUS_LINE) == NEW_VERSION, "status changed: " + r.text(STATUS_LINE))
    check(not os.path.exists(os.path.join(game, "_temp")), "the refused update made a work folder")
    road.check_installed(s.bin_dir, game, 1)


def packages(stage, version):
    folder = os.path.join(stage.site, version)
    return [os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".pak")]


def hide_packages(stage):
    for path in packages(stage, "1.0.0.2"):
        os.rename(path, path + ".hidden")


def unhide_packages(s, stage):
    folder = os.path.join(stage.site, "1.0.0.2")
    for name in os.listdir(folder):
        if name.endswith(".hidden"):
            os.rename(os.path.join(folder, name), os.path.join(folder, name[:-len(".hidden")]))


def truncate_packages(stage):
    for path in packages(stage, "1.0.0.2"):
        os.truncate(path, os.path.getsize(path) // 2)


def flip_middle_byte(stage):
    # The middle of the package lies inside the big member's data: the
    # package opens, that member fails its check while unpacking.
    for path in packages(stage, "1.0.0.2"):
        with open(path, "r+b") as f:
            f.seek(os.path.getsize(path) // 2)
            byte = f.read(1)
            f.seek(-1, 1)
            f.write(bytes([byte[0] ^ 0xFF]))


def unsign_list(stage):
    os.remove(os.path.join(stage.site, "versionlist.data.minisig"))


def resign(s, stage):
    road.sign_release(s.bin_dir, stage.site)


def restart_server(s, stage):
    stage.server = Server(s.path("nginx%d" % time.time_ns()), stage.site, stage.slow)


# How the update fails after it was offered, the status text that says so,
# whether the engine asks the player to update by hand in a box, and what
# puts the server right again for the next row.
FAILURES = [
    ("missing_package", hide_packages, "下载更新包失败", False, unhide_packages),
    ("server_gone", lambda stage: stage.server.stop(), "更新失败 . 错误代码 : 40", False,
     restart_server),
    # The signed manifest catches a changed or cut package before it is unpacked.
    ("damaged_package", flip_middle_byte, "与文件清单不符, 已拒绝更新.", False, None),
    ("truncated_package", truncate_packages, "与文件清单不符, 已拒绝更新.", False, None),
    ("unsigned_list", unsign_list, "服务器的版本列表没有运营商的签名, 已拒绝更新.", False, resign),
]
INSTALL_FAILED_BOX = "更新安装失败! 请尝试下载手动更新包或联系客服, 谢谢!"
# Refused at the version list, before the slow update list: too quick for the
# watch to see the start button off.
QUICK_FAILURES = {"unsigned_list"}


# The update list of the offered version comes slowly, so that every attempt
# lasts long enough for the watch to see the start button off; a package
# that is missing or cut short fails within milliseconds of the click.
@staged_slowly("/1.0.0.2/updatelist.data")
def case_failed_download(s, stage):
    for name, fault, text, box, mend in FAILURES:
        game = stage.game()
        r = Road(s, game, "failed_" + name).start()
        r.wait_text(STATUS_LINE, NEW_VERSION)
        fault(stage)
        watch = r.watch(text, timeout=90, contains=True)
        r.click(UPDATE)
        ended = watch.wait(120)
        if box:
            # The engine's box waits on the worker; the run ends after the answer.
            r.message_box(INSTALL_FAILED_BOX, "ok", "failed_box")
        check(ended == "done", "%s: the failure was not shown: %r" % (name, watch.lines()[-8:]))
        r.wait_enabled(START, True)
        r.shot("failed")
        rows_seen = watch.rows()
        check(name in QUICK_FAILURES or any(row[1] == START and not row[2] for row in rows_seen),
              "%s: the start button was never off during the attempt" % name)
        r.expect_buttons(True, False, name)
        road.check_installed(s.bin_dir, game, 1)
        check(not os.path.exists(os.path.join(game, "udo.temp")), "%s: a hand-off was written" % name)
        temp = os.path.join(game, "_temp")
        check(not os.path.isdir(temp) or not any(n.endswith(".pak") for n in os.listdir(temp)),
              "%s: packages of the refused version stayed" % name)
        r.click(CLOSE)
        r.message_box(QUIT_QUESTION, "ok", "quit_question")
        r.wait_gone()
        if mend:
            mend(s, stage)


FIXED_MEMBERS = ["config.data", "version.data", "Config/SystemSetting.data",
                 "Vantorel_Data/output_log.txt"]


def package_members(path):
    out = subprocess.run(["unzip", "-l", path], capture_output=True, text=True).stdout
    members = []
    for line in out.splitlines():
        fields = line.split(None, 3)
        if len(fields) == 4 and fields[0].isdigit() and re.match(r"\d\d", fields[1]):
            members.append(fields[3])
    return members


# The offered version's package (about 13 KB) comes at two kilobytes a
# second: the progress bar shows the download's figures for a while.
@staged_slowly("/1.0.0.2/data1.pak@2k")
def case_progress_bar(s, stage):
    r = stage.road("progress")
    r.wait_text(STATUS_LINE, NEW_VERSION)
    check(r.text(PROGRESS_BAR) == "", "the bar shows %r before any update" % r.text(PROGRESS_BAR))
    r.click(UPDATE)
    r.wait_text(PROGRESS_BAR, "正在下载 : data1.pak  ", contains=True)
    # Once bytes have flowed for a while, the speed and the time left are known.
    known = r"正在下载 : data1\.pak  \d+\.\d / \d+\.\d KB  \d+\.\d KB/s  剩余 00:0\d"
    deadline = time.time() + 5
    while not re.fullmatch(known, r.text(PROGRESS_BAR)) and time.time() < deadline:
        time.sleep(0.1)
    figures = r.text(PROGRESS_BAR)
    check(re.fullmatch(known, figures), "the bar reads %r" % figures)
    status = r.text(STATUS_LINE)
    check(status == "Wait for downloading -> data1.pak....", "the status line reads %r" % status)
    r.shot("mid_download")
    r.click(CLOSE)
    r.message_box(QUIT_QUESTION, "ok", "quit_question")
    r.wait_gone()


def package_size(game, beyond=-1):
    """The offered version's package in the work folder: its size once past beyond (30 s at most)."""
    path, deadline = os.path.join(game, "_temp", "data1.pak"), time.time() + 30
    while (os.path.getsize(path) if os.path.exists(path) else 0) <= beyond and time.time() < deadline:
        time.sleep(0.1)
    return os.path.getsize(path) if os.path.exists(path) else 0


def package_answers(s, stage):
    """The status codes that nginx gave the package's requests, in order."""
    return re.findall(r'"GET /1\.0\.0\.2/data1\.pak HTTP/1\.1" (\d+)',
                      s.read(os.path.join(stage.server.state, "access.log")))


# The offered version's package (about 13 KB) comes at a kilobyte a second
# (nginx sends it in bursts of 4 KB): the step is paused and continued, the
# launcher closed in the middle of it, and the next start goes on from the
# bytes kept, up to the newest version.
@staged_slowly("/1.0.0.2/data1.pak@1k")
def case_pause_and_continue(s, stage):
    game = stage.game()
    r = Road(s, game, "pause").start()
    r.wait_text(STATUS_LINE, NEW_VERSION)
    r.click(UPDATE)
    r.wait_text(UPDATE, PAUSE_NAME)
    r.expect_buttons(False, True, "during the step")
    check(package_size(game, 1024) > 1024, "the download did not begin")
    r.click(UPDATE)
    r.wait_text(UPDATE, CONTINUE_NAME)
    check(re.fullmatch(r"已暂停 : 已下载 \d+\.\d KB / \d+\.\d KB", r.text(STATUS_LINE)), r.text(STATUS_LINE))
    r.expect_buttons(True, True, "paused")
    held = package_size(game)
    time.sleep(2)
    check(package_size(game) == held, "the paused step went on fetching")
    r.shot("paused")
    r.click(UPDATE)
    r.wait_text(PROGRESS_BAR, "正在下载 : data1.pak", contains=True)
    check(package_size(game, held) > held and r.text(UPDATE) == PAUSE_NAME, "the step did not go on")
    r.click(CLOSE)
    r.message_box(QUIT_QUESTION, "ok", "quit_question")
    r.wait_gone()
    answered = len(package_answers(s, stage))

    r = Road(s, game, "pause_restarted").start()
    r.wait_text(STATUS_LINE, "可继续更新 : 已下载 ", contains=True)
    check(r.text(UPDATE) == CONTINUE_NAME, "the update button reads %r" % r.text(UPDATE))
    r.shot("can_continue")
    watch = r.watch(ALREADY_NEWEST)
    r.click(UPDATE)
    check(watch.wait(240) == "done", "the road did not end up to date: %r" % watch.lines()[-12:])
    road.check_installed(s.bin_dir, game, 3)
    answers = package_answers(s, stage)
    check(answers[answered:] == ["206"], "after the restart: %r, not one range" % answers)


@staged
def case_support_package(s, stage):
    game = stage.game()
    road.write_file(os.path.join(game, "Config", "SystemSetting.data"), b"settings")
    road.write_file(os.path.join(game, "Vantorel_Data", "output_log.txt"), b"output")
    road.write_file(os.path.join(game, "Log", "game.log"), b"a game log\n")
    road.write_file(os.path.join(game, "Log", "notes.txt"), b"not a log\n")
    road.write_file(os.path.join(game, "Log", "upper.LOG"), b"wrong case\n")
    os.makedirs(os.path.join(game, "Log", "folder.log"))
    r = Road(s, game, "support").start()
    r.wait_text(STATUS_LINE, NEW_VERSION)
    before = set(os.listdir(game))
    r.click(SUPPORT)
    pattern = re.compile(r"^\d{4}(-\d{1,2}){5}(_\d+)?\.data$")
    made = []
    deadline = time.time() + 20
    while not made and time.time() < deadline:
        made = [n for n in set(os.listdir(game)) - before if pattern.match(n)]
        time.sleep(0.1)
    check(len(made) == 1, "no support package in the launcher folder: %r" % made)
    time.sleep(0.5)
    members = package_members(os.path.join(game, made[0]))
    check(members[:4] == FIXED_MEMBERS, "fixed members: %r" % members)
    logs = members[4:]
    check(sorted(logs) == ["Log\\game.log", "Log\\launcher.log"], "log members: %r" % logs)
    check(r.buttons() == {START: True, UPDATE: True}, "the support button changed the buttons")


@staged
def case_interrupted_install(s, stage):
    # The installer program is killed in the middle of its moves (its test
    # hook, inherited through the launcher), and the launcher is ended too:
    # a power loss during an installation. The next start hands the cut-off
    # installation back to the installer before anything else, and the road
    # then goes on to the newest version.
    game = stage.game()
    journal = os.path.join(game, "udo.journal")
    os.environ["VANTOREL_INSTALLER_CRASH_AT"] = "5"
    try:
        r = Road(s, game, "interrupted").start()
    finally:
        del os.environ["VANTOREL_INSTALLER_CRASH_AT"]
    r.wait_text(STATUS_LINE, NEW_VERSION)
    r.click(UPDATE)
    r.wait_text(STATUS_LINE, road.INSTALLER_STARTED, timeout=120)
    installer_log = os.path.join(game, "Log", "installer.log")
    deadline = time.time() + 60
    while time.time() < deadline and not (os.path.exists(journal) and os.path.exists(installer_log)):
        time.sleep(0.1)
    time.sleep(2)  # the installer has killed itself by now
    check(os.path.exists(journal), "the killed installer left no journal")
    check("installer result" not in s.read(installer_log), "the installer was not killed")
    rc, _ = s.drive("kill", r.launcher.pid)
    check(rc == 0, "cannot end the launcher")

    r = Road(s, game, "interrupted_resumed").start()
    watch = r.watch(ALREADY_NEWEST)
    check(watch.wait(240) == "done", "the road did not end up to date: %r" % watch.lines()[-12:])
    check(not os.path.exists(journal), "the journal is still there")
    check("上次更新安装未完成" in r.log(), "the launcher did not hand the installation back:\n" + r.log())
    road.check_installed(s.bin_dir, game, 3)


def damage(game):
    road.write_file(os.path.join(game, "Data", "a.dat"), b"damaged\n")
    os.remove(os.path.join(game, "keep.txt"))


# With each version's state index (written by patchkit release) on the
# server, a damaged and a missing file come again by byte range through the
# installer, on a press and then unasked after "/repair"; the check after the
# repair offers the newer version.
@staged
def case_repair(s, stage):
    check(os.path.exists(os.path.join(stage.site, "1.0.0.1", "state.data")), "no state index")
    game = stage.game()
    damage(game)
    r = stage.road("repair", game)
    # The count at once, then what the repair downloads when the server has told.
    r.wait_text(STATUS_LINE, "发现 2 个文件损坏, 修复需下载 ", contains=True)
    check(r.text(UPDATE) == "修复", "the update button reads %r" % r.text(UPDATE))
    r.expect_buttons(True, True, "damaged files found")
    r.shot("damaged")
    r.click(UPDATE)
    r.wait_text(STATUS_LINE, NEW_VERSION, timeout=120)
    road.check_installed(s.bin_dir, game, 1)
    r.click(CLOSE)
    r.message_box(QUIT_QUESTION, "ok", "quit_question")
    r.wait_gone()

    damage(game)
    r = Road(s, game, "repair_switch")
    r.launcher = s.start(os.path.join(game, "VantorelLauncher.exe"), "/repair", cwd=game)
    r.hwnd = s.wait_launcher(r.launcher)
    r.wait_text(STATUS_LINE, NEW_VERSION, timeout=120)
    road.check_installed(s.bin_dir, game, 1)
    check(r.log().count("[Notice] 发现 2 个文件损坏, 修复需下载") == 2, "not two repairs:\n" + r.log())


# version.data lost at 1.0.0.1, with 1.0.0.3's state index on the server:
# the launcher takes the installed version from the files and goes to 1.0.0.3
# in one step, unasked (1.0.0.3 is mandatory), with one installer run.
@staged
def case_catch_up(s, stage):
    rc, out = road.run_native([road.native_patchkit(s.bin_dir), "index", "--server-root", stage.site,
                               "--version", "1.0.0.3"])
    check(rc == 0, "patchkit index: " + out)
    road.sign_release(s.bin_dir, stage.site)
    game = stage.game()
    os.remove(os.path.join(game, "version.data"))
    r = stage.road("catch_up", game)
    r.wait_text(STATUS_LINE, ALREADY_NEWEST, timeout=120)
    road.check_installed(s.bin_dir, game, 3)
    log = r.log()
    check("根据游戏文件确定当前版本为 1.0.0.1" in log and "从 1.0.0.1 直接更新至 1.0.0.3" in log,
          "no catch-up from the files:\n" + log)
    check(log.count("Update end.") == 1, "not one installer run:\n" + log)


# How the quit question is asked: the close button, the system close command
# (what Alt+F4 becomes), and the Alt+F4 key itself.
QUIT_TRIGGERS = [
    ("close_button", lambda s, r: r.click(CLOSE)),
    ("system_close", lambda s, r: s.drive("sys-close", r.hwnd)),
    ("alt_f4", lambda s, r: s.drive("alt-f4", r.hwnd)),
]


@staged
def case_quit_question(s, stage):
    game = stage.game()
    for name, trigger in QUIT_TRIGGERS:
        r = Road(s, game, "quit_" + name).start()
        r.wait_text(STATUS_LINE, NEW_VERSION)
        trigger(s, r)
        r.message_box(QUIT_QUESTION, "cancel", "question")
        time.sleep(0.5)
        rc, count = s.drive("count-launchers")
        check(count == "1", "%s: answering no closed the window" % name)
        check(r.launcher.exit_code() is None, "%s: the launcher ended on no" % name)
        trigger(s, r)
        r.message_box(QUIT_QUESTION, "ok", "question_again")
        r.wait_gone()


CASES = {
    "road": case_road,
    "road_https": case_road_https,
    "game_running": case_game_running,
    "game_running_update_button": case_game_running_update_button,
    "failed_download": case_failed_download,
    "progress_bar": case_progress_bar,
    "pause_and_continue": case_pause_and_continue,
    "support_package": case_support_package,
    "quit_question": case_quit_question,
    "interrupted_install": case_interrupted_install,
    "repair": case_repair,
    "catch_up": case_catch_up,
}

if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        print(";".join(CASES))
        sys.exit(0)
    sys.exit(run_cases(CASES, sys.argv))
