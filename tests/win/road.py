"""The player's road through the launcher, shared by the Wine test and the demo.

A release tree made by the native patchkit (1.0.0.1, 1.0.0.2 optional,
1.0.0.3 mandatory) is served by nginx; a game folder at 1.0.0.1 holds the
launcher, the installer program and the stand-in game. The road clicks the
update button, follows the window through both installations and ends at
"already the latest version", taking a screenshot of each state.
"""
import os
import shutil
import struct
import subprocess
import time

from wine_session import check, wait_game_started, WINE_RUN

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "..", "peers", "peer.py")

# Control ids of the main window.
START, UPDATE, SUPPORT, CLOSE = 1005, 1008, 1001, 1013
VERSION_LINE, STATUS_LINE, PROGRESS_BAR = 1018, 1019, 1040
UPDATE_END_MESSAGE = 1024 + 100

NEW_VERSION = "发现可用的新版本"
UPDATE_INSTALLED = "更新安装完成!"
ALREADY_NEWEST = "已经是最新版本."
ASKING_STATE = "请求版本升级状态..."
GAME_RUNNING_BOX = "游戏正在运行 ,不能进行更新!"
QUIT_QUESTION = "确定要退出游戏吗?"
# The update button's name for what a press does.
UPDATE_NAME, PAUSE_NAME, CONTINUE_NAME = "更新", "暂停", "继续"

# Files of the game folder that belong to the launcher, not to a release.
LAUNCHER_OWN = {"VantorelLauncher.exe", "VantorelPath.exe", "GameConfig.exe", "libgcrypt-20.dll",
                "libgpg-error-0.dll", "config.data", "Log", "_temp", "verify.cache",
                "trust.state"}


def native_patchkit(bin_dir):
    return os.path.normpath(os.path.join(bin_dir, "..", "..", "native", "bin", "patchkit"))


def screenshot_dir(bin_dir):
    folder = os.path.normpath(os.path.join(bin_dir, "..", "screenshots"))
    os.makedirs(folder, exist_ok=True)
    return folder


def write_file(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content if isinstance(content, bytes) else content.encode("utf-8"))


def program_build(records, shift_at, shift):
    """Records of an address, a call target and 8 bytes of code; shift bytes
    inserted at record shift_at move every address past it."""
    code = bytes((i * 131 + 17) & 0xFF for i in range(64 * 8))
    moved = lambda r: 0x401000 + 16 * r + (shift if r >= shift_at else 0)
    out = bytearray()
    for i in range(records):
        if i == shift_at:
            out += b"\x90" * shift
        out += struct.pack("<II", moved(i), moved(i * 7919 % records)) + code[(i % 64) * 8:(i % 64) * 8 + 8]
    return bytes(out)


def game_files(bin_dir, n):
    """The game of version 1.0.0.n: path with "/" -> bytes. The game program is
    the stand-in in every version, so that the start button runs it."""
    with open(os.path.join(bin_dir, "Vantorel.exe"), "rb") as f:
        tree = {"Vantorel.exe": f.read(), "keep.txt": b"kept in every version\n"}
    tree["Data/a.dat"] = ("a%d\n" % n).encode()
    if n == 1:
        tree["Data/old.dat"] = b"deleted by 1.0.0.2\n"
    if n >= 2:
        # Big enough that the download shows its progress for a moment.
        # 1.0.0.3 changes a few bytes of it: that step takes it by delta.
        big = bytearray((i * 7 + 2) & 0xFF for i in range(3 << 20))
        if n >= 3:
            big[1 << 20:(1 << 20) + 8] = b"1.0.0.3!"
        tree["Data/big.dat"] = bytes(big)
    # A program's code, the same until 1.0.0.3 moves its addresses, which a
    # bsdiff delta carries far smaller than a VCDIFF one (big.dat's stays
    # VCDIFF). Unchanged in 1.0.0.2, it stays out of that version's package,
    # which the slow rows fetch at a kilobyte or two a second.
    tree["Data/code.dll"] = program_build(40000, 13000 if n >= 3 else 40000, 64)
    if n >= 3:
        tree["Data/sub/c.dat"] = b"c3\n"
        tree["数据/文件.dat"] = "中文名字\n".encode("utf-8")
    return tree


def run_native(args):
    done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def signing_key(bin_dir):
    """The secret key of the key pair built into the launcher; None when the
    build carries no keys or the operator's own (whose secret is not here)."""
    with open(os.path.join(bin_dir, "..", "generated", "trust_signing_key.txt")) as f:
        key = f.read().strip()
    return key or None


def sign_release(bin_dir, site):
    """Signs the server tree as it stands, with a new serial, as an operator
    does after every change; nothing for a build without the demo key."""
    key = signing_key(bin_dir)
    if key:
        rc, out = run_native([native_patchkit(bin_dir), "sign", "--server-root", site, "--secret-key", key])
        check(rc == 0, "patchkit sign: " + out)


def make_release(bin_dir, work):
    """Builds the server tree under work/site; gives its path."""
    patchkit = native_patchkit(bin_dir)
    site = os.path.join(work, "site")
    os.makedirs(site, exist_ok=True)
    previous = os.path.join(work, "v0")
    os.makedirs(previous, exist_ok=True)
    for n in (1, 2, 3):
        folder = os.path.join(work, "v%d" % n)
        for path, content in game_files(bin_dir, n).items():
            write_file(os.path.join(folder, path), content)
        args = [patchkit, "release", "--from", previous, "--to", folder, "--version", "1.0.0.%d" % n,
                "--server-root", site] + (["--mandatory"] if n == 3 else [])
        rc, out = run_native(args)
        check(rc == 0, "patchkit release 1.0.0.%d: %s" % (n, out))
        previous = folder
    # Without the later versions' state indexes the launcher steps through
    # every version, as the road's rows expect (with 1.0.0.3's it would go
    # there at once); 1.0.0.1's stays for the repair of an installed 1.0.0.1.
    for n in (2, 3):
        os.remove(os.path.join(site, "1.0.0.%d" % n, "state.data"))
    sign_release(bin_dir, site)
    return site


def write_config(bin_dir, game, port, update_ip=None):
    """config.data enciphered by patchkit; an empty support link opens no browser.
    Over HTTP the server's address alone makes the URL, so it carries the port."""
    lines = ["HomePage=", "Support=", "WeiBo=", "Shop=", "Buy=", "ShowPage=",
             "UpdateIP=" + (update_ip or "127.0.0.1:%d" % port), "UpdatePort=%d" % port]
    ini = os.path.join(game, "..", "config.ini")
    write_file(ini, ("\n".join(lines) + "\n").encode("gbk"))
    rc, out = run_native([native_patchkit(bin_dir), "encipher", ini, os.path.join(game, "config.data")])
    check(rc == 0, "patchkit encipher: " + out)


def make_installation(bin_dir, site, game, port, update_ip=None):
    """A game folder at 1.0.0.1: the release's packages unpacked, the launcher
    programs beside them, the configuration pointing at the server."""
    os.makedirs(game, exist_ok=True)
    release = os.path.join(site, "1.0.0.1")
    unpacked = game + ".unpacked"
    for name in sorted(os.listdir(release)):
        if name.endswith(".pak"):
            rc, out = run_native([native_patchkit(bin_dir), "extract", os.path.join(release, name),
                                  unpacked])
            check(rc == 0, "patchkit extract %s: %s" % (name, out))
    # Members sit below one top folder that the installation leaves out.
    for top in os.listdir(unpacked):
        shutil.copytree(os.path.join(unpacked, top), game, dirs_exist_ok=True)
    shutil.rmtree(unpacked)
    for name in LAUNCHER_OWN:
        source = os.path.join(bin_dir, name)
        if os.path.isfile(source):
            shutil.copy(source, game)
    write_config(bin_dir, game, port, update_ip)
    check(verify(bin_dir, game)[0] == 0, "the fresh installation does not verify")


def verify(bin_dir, game):
    return run_native([native_patchkit(bin_dir), "verify", game])


def installed_difference(bin_dir, game, n):
    """What differs between the game folder and version 1.0.0.n (launcher files aside)."""
    want = game_files(bin_dir, n)
    got = {}
    for folder, dirs, files in os.walk(game):
        rel_folder = os.path.relpath(folder, game)
        if rel_folder == ".":
            dirs[:] = [d for d in dirs if d not in LAUNCHER_OWN]
        for name in files:
            rel = os.path.normpath(os.path.join(rel_folder, name)).replace(os.sep, "/")
            # A failed check over HTTP may leave the partly fetched
            # versionlist.data: a work file of the launcher, not the game's.
            if rel in LAUNCHER_OWN or rel in ("version.data", "versionlist.data", "Vantorel.started"):
                continue
            with open(os.path.join(folder, name), "rb") as f:
                got[rel] = f.read()
    problems = ["extra " + p for p in sorted(set(got) - set(want))]
    problems += ["missing " + p for p in sorted(set(want) - set(got))]
    problems += ["differs " + p for p in sorted(set(got) & set(want)) if got[p] != want[p]]
    return problems


def has_picture(path):
    """False for a screenshot of one or a few flat colours: the screen was
    not drawn. The skinned window alone has thousands of colours."""
    try:
        from PIL import Image
    except ImportError:
        return True
    with Image.open(path) as image:
        colours = image.convert("RGB").getcolors(maxcolors=256)
    return colours is None


class Server:
    """nginx over a folder, stopped with the session (or when the owner ends)."""

    def __init__(self, state, root, slow=None, certs=None):
        self.state = state
        out = subprocess.check_output(["/usr/bin/python3", PEER, "start", "nginx", state, root,
                                       "--owner", str(os.getpid())] + (["--slow", slow] if slow else []) +
                                      (["--tls", certs] if certs else []), stdin=subprocess.DEVNULL)
        self.port = int(out.decode().strip())

    def stop(self):
        subprocess.call(["/usr/bin/python3", PEER, "stop", self.state], stdin=subprocess.DEVNULL)


class Watch:
    """The driver's 'watch' running beside the road: every change of the
    watched controls, as (ms, id, enabled, text) rows."""

    def __init__(self, session, hwnd, ids, until_id, until_text, timeout_ms, contains=False):
        self.out_path = session.path("watch%d.txt" % time.time_ns())
        args = [WINE_RUN, session.driver, "watch", str(hwnd)] + [str(i) for i in ids]
        args += ["--until", str(until_id), "--timeout", str(timeout_ms)]
        args += (["--contains"] if contains else []) + [until_text]
        with open(self.out_path, "wb") as out:
            self.popen = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out,
                                          stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while not self.rows() and time.time() < deadline:
            time.sleep(0.05)
        check(self.rows(), "the watch printed nothing")

    def lines(self):
        with open(self.out_path, encoding="utf-8", errors="replace") as f:
            return [line for line in f.read().split("\n") if line]

    def rows(self):
        rows = []
        for line in self.lines():
            parts = line.split(" ", 3)
            if len(parts) >= 3 and parts[0].isdigit():
                rows.append((int(parts[0]), int(parts[1]), parts[2] == "enabled",
                             parts[3] if len(parts) > 3 else ""))
        return rows

    def finished(self):
        lines = self.lines()
        return lines[-1] if lines and lines[-1] in ("done", "timeout", "gone") else None

    def wait(self, timeout):
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
        return self.finished()


class Road:
    """One launcher window driven as a player would, with screenshots."""

    def __init__(self, session, game, case, shots=None):
        self.s = session
        self.game = game
        self.case = case
        self.shots = shots if shots is not None else screenshot_dir(session.bin_dir)
        self.taken = []
        self.launcher = None
        self.hwnd = None

    def start(self):
        self.launcher = self.s.start(os.path.join(self.game, "VantorelLauncher.exe"), cwd=self.game)
        self.hwnd = self.s.wait_launcher(self.launcher)
        return self

    def shot(self, state):
        if not os.environ.get("DISPLAY"):
            return
        path = os.path.join(self.shots, "%s_%s.png" % (self.case, state))
        if os.path.exists(path):
            os.remove(path)  # a picture of an earlier run proves nothing
        subprocess.call(["import", "-window", "root", path], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(os.path.exists(path), "no screenshot of " + state)
        check(has_picture(path), "the screenshot %s is blank" % path)
        self.taken.append(path)

    def control(self, id):
        rc, out = self.s.drive("control", self.hwnd, id)
        check(rc == 0, "control %d is missing" % id)
        enabled, _, text = out.partition(" ")
        return enabled == "enabled", text

    def enabled(self, id):
        return self.control(id)[0]

    def text(self, id):
        return self.control(id)[1]

    def wait_text(self, id, text, timeout=60, contains=False):
        args = ["wait-text", self.hwnd, id, text, "--timeout", timeout * 1000]
        rc, out = self.s.drive(*(args + (["--contains"] if contains else [])), timeout=timeout + 30)
        check(rc == 0, "control %d never read %r; it reads %r" % (id, text, out))

    def wait_enabled(self, id, enabled, timeout=30):
        rc, out = self.s.drive("wait-enabled", self.hwnd, id, "yes" if enabled else "no",
                               "--timeout", timeout * 1000, timeout=timeout + 30)
        check(rc == 0, "control %d did not become %s: %s"
              % (id, "enabled" if enabled else "disabled", out))

    def click(self, id):
        rc, _ = self.s.drive("click", self.hwnd, id)
        check(rc == 0, "cannot click control %d" % id)

    def buttons(self):
        return {START: self.enabled(START), UPDATE: self.enabled(UPDATE)}

    def expect_buttons(self, start, update, when):
        got = self.buttons()
        check(got == {START: start, UPDATE: update},
              "%s: start %s, update %s (want %s, %s)" % (when, got[START], got[UPDATE], start, update))

    def log(self):
        return self.s.read(os.path.join(self.game, "Log", "launcher.log"))

    def message_box(self, expected, answer, state):
        rc, text = self.s.drive("msgbox-text", self.launcher.pid)
        check(rc == 0, "no message box")
        check(text == expected, "message box says %r, not %r" % (text, expected))
        self.shot(state)
        rc, _ = self.s.drive("msgbox-answer", self.launcher.pid, answer)
        check(rc == 0, "cannot answer the message box")

    def wait_gone(self):
        code = self.s.wait_exit(self.launcher)
        check(code == 0, "the launcher ended with %r" % code)

    def watch(self, until_text, timeout=180, contains=False):
        return Watch(self.s, self.hwnd, [STATUS_LINE, VERSION_LINE, START, UPDATE], STATUS_LINE,
                     until_text, timeout * 1000, contains)

    def follow(self, watch, states, timeout):
        """Takes a screenshot the first time each of states (name -> test of
        the rows seen so far) holds while the watch runs; gives how the
        watch ended."""
        pending = dict(states)
        deadline = time.time() + timeout
        while time.time() < deadline:
            rows = watch.rows()
            for name, seen in list(pending.items()):
                if seen(rows):
                    self.shot(name)
                    del pending[name]
            if watch.finished():
                break
            time.sleep(0.05)
        return watch.wait(30)


INSTALLER_STARTED = "正在安装更新..."


def flips(rows, id):
    """The enabled states that control id went through, repeats dropped."""
    states = []
    for row in rows:
        if row[1] == id and (not states or states[-1] != row[2]):
            states.append(row[2])
    return states


def statuses(rows):
    return [(i, r[3]) for i, r in enumerate(rows) if r[1] == STATUS_LINE]


def installers_started(rows):
    return [i for i, text in statuses(rows) if text == INSTALLER_STARTED]


def check_road_rows(rows):
    """What the watch must have seen between the click and the end: the
    start button off from the click until the run that found nothing newer,
    so also while the mandatory 1.0.0.3 installed without a click (the log
    tells that there were two installations), and the update button a pause
    button during each installation's step, off after it."""
    seen = statuses(rows)
    check(seen and seen[-1][1] == ALREADY_NEWEST, "the road ended at %r" % seen[-1:])
    check(installers_started(rows), "the installer was never seen starting: %r" % seen)
    check(flips(rows, START) == [True, False, True], "start button went %r" % flips(rows, START))
    # The watch prints a control only when it changes.
    update = [(row[2], row[3]) for row in rows if row[1] == UPDATE]
    check(update.count((True, PAUSE_NAME)) == 2 and update[-1] == (False, UPDATE_NAME), "update button: %r" % update)
    enabled_again = [i for i, r in enumerate(rows) if r[1] == START and r[2]][-1]
    check(enabled_again > installers_started(rows)[-1],
          "the start button came back before the last installation")


def play_road(s, r):
    """From the update offer to the game: both installations through the window."""
    r.wait_text(STATUS_LINE, NEW_VERSION)
    r.expect_buttons(True, True, "update available")
    check("当前版本 : 1.0.0.1" in r.text(VERSION_LINE), "version line: " + r.text(VERSION_LINE))
    r.shot("update_available")
    watch = r.watch(ALREADY_NEWEST)
    r.click(UPDATE)
    ended = r.follow(watch, {
        "downloading": lambda rows: any("Wait for downloading" in text for _, text in statuses(rows)),
        "installing": lambda rows: len(installers_started(rows)) >= 1,
        "update_installed": lambda rows: any(text == UPDATE_INSTALLED for _, text in statuses(rows)),
        "mandatory_installing": lambda rows: len(installers_started(rows)) >= 2,
    }, 200)
    check(ended == "done", "the road ended with %r: %r" % (ended, watch.lines()[-12:]))
    r.shot("up_to_date")
    # The start button comes back after the final status text is posted; a
    # watch that ends at that text may stop before the window took it.
    r.wait_enabled(START, True)
    rows = watch.rows()
    check_road_rows(rows + [(rows[-1][0], START, True, "")])
    r.expect_buttons(True, False, "up to date")
    version = r.text(VERSION_LINE)
    check(version == "当前版本 : 1.0.0.3   最新版本 : 1.0.0.3", "version line: " + version)
    log = r.log()
    # Each installation ends with the installer program starting a second
    # launcher with "/update", which hands the notice to this window.
    check(log.count("更新完成通知.") == 2, "two restarts with /update expected in the log:\n" + log)
    check(log.count("Update end.") == 2, "two update-end notices expected in the log:\n" + log)
    check(log.count("更新完成!") == 2, "two installations finished expected in the log")
    check(log.count("开始安装更新...") == 2, "two installer starts expected in the log")
    return watch


def start_game_and_close(s, r):
    r.click(START)
    r.wait_gone()
    wait_game_started(r.game)
    rc, out = s.drive("wait-window", "Vantorel")
    if rc == 0:
        s.drive("kill", out.split()[3])


def check_installed(bin_dir, game, n):
    rc, out = verify(bin_dir, game)
    check(rc == 0, "patchkit verify after the road: " + out)
    problems = installed_difference(bin_dir, game, n)
    check(not problems, "the installation is not 1.0.0.%d: %s" % (n, problems))

