"""Runs Windows programs of the build under Wine for the scripted tests.

Every Wine process gets files or /dev/null as its standard streams, never the
pipes of CTest: a Wine process that outlives the test (the desktop process, a
launcher) would otherwise hold them open and hang the run. Every process a
test starts is ended by Session.close().
"""
import os
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "wine-run")

# The programs a launcher folder holds, copied from the build's bin folder.
LAUNCHER_FILES = ["VantorelLauncher.exe", "Vantorel.exe", "GameConfig.exe",
                  "libgcrypt-20.dll", "libgpg-error-0.dll"]


def win_path(path):
    """The Wine path of a Unix path (the Unix root is drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_game_started(game, timeout=30):
    """Waits for the marker that the game stand-in writes beside itself when it starts."""
    marker = os.path.join(game, "Vantorel.started")
    deadline = time.time() + timeout
    while not os.path.exists(marker) and time.time() < deadline:
        time.sleep(0.05)
    check(os.path.exists(marker), "the game stand-in did not start")


class Started:
    """A program started through the driver's 'start', which waits for it."""

    def __init__(self, popen, out_path):
        self.popen = popen
        self.out_path = out_path
        self.pid = None

    def lines(self):
        with open(self.out_path, encoding="utf-8", errors="replace") as f:
            return f.read().split("\n")

    def exit_code(self):
        for line in self.lines():
            if line.startswith("exit "):
                return int(line.split()[1])
        return None


class Session:
    """root: a folder to work in that close() keeps (the demo's); by default a
    temporary one that close() removes."""

    def __init__(self, bin_dir, name, root=None):
        self.bin_dir = bin_dir
        self.driver = os.path.join(bin_dir, "vtdriver.exe")
        self.keep_root = root is not None
        if root:
            os.makedirs(root, exist_ok=True)
        self.root = root or tempfile.mkdtemp(prefix="vt_%s_" % name)
        self.started = []
        self.counter = 0

    # --- files -----------------------------------------------------------
    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def make_launcher_folder(self, name="game"):
        folder = self.path(name)
        os.makedirs(folder, exist_ok=True)
        for file in LAUNCHER_FILES:
            shutil.copy(os.path.join(self.bin_dir, file), folder)
        return folder

    def make_folder(self, name):
        folder = self.path(name)
        os.makedirs(folder, exist_ok=True)
        return folder

    @staticmethod
    def read(path):
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()

    # --- Wine processes --------------------------------------------------
    def _files(self):
        self.counter += 1
        return self.path("out%d.txt" % self.counter), self.path("err%d.txt" % self.counter)

    def run_wine(self, args, timeout=60):
        """Runs a Windows program to its end; (exit status, stdout, stderr)."""
        out_path, err_path = self._files()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            rc = subprocess.call([WINE_RUN] + args, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=err, timeout=timeout)
        return rc, self.read(out_path), self.read(err_path)

    def drive(self, *args, timeout=60):
        """One driver command; (exit status, stdout without the line end)."""
        rc, out, _ = self.run_wine([self.driver] + [str(a) for a in args], timeout)
        return rc, out.strip()

    def start(self, exe, *args, cwd=None):
        """Starts a program through the driver; returns it once its pid is known."""
        out_path, err_path = self._files()
        command = [WINE_RUN, self.driver, "start"]
        if cwd:
            command += ["--cwd", win_path(cwd)]
        command += [win_path(exe)] + list(args)
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        started = Started(popen, out_path)
        self.started.append(started)
        deadline = time.time() + 30
        while time.time() < deadline:
            for line in started.lines():
                if line.startswith("pid "):
                    started.pid = int(line.split()[1])
                    return started
            check(popen.poll() is None or started.pid, "driver could not start %s: %s"
                  % (exe, self.read(err_path)))
            time.sleep(0.05)
        raise Failure("no pid for %s" % exe)

    def wait_exit(self, started, timeout=30):
        """The program's exit code, or None when it is still running after timeout."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            code = started.exit_code()
            if code is not None:
                return code
            time.sleep(0.05)
        return None

    def wait_launcher(self, started, timeout=30):
        rc, out = self.drive("wait-launcher", "--pid", started.pid, "--timeout", timeout * 1000)
        check(rc == 0, "launcher %d shows no launcher window" % started.pid)
        return int(out.split()[1])

    def close(self):
        for started in self.started:
            if started.pid and started.exit_code() is None:
                self.drive("kill", started.pid)
        for started in self.started:
            try:
                started.popen.wait(timeout=30)
            except subprocess.TimeoutExpired:
                started.popen.kill()
                started.popen.wait()
        if not self.keep_root:
            shutil.rmtree(self.root, ignore_errors=True)


def run_cases(cases, argv):
    """Runs the case named by argv[2] with the bin folder argv[1]; exit status for CTest."""
    bin_dir, name = argv[1], argv[2]
    session = Session(bin_dir, name)
    try:
        cases[name](session)
        print("%s: passed" % name)
        return 0
    except Failure as failure:
        print("%s: FAILED: %s" % (name, failure))
        return 1
    finally:
        session.close()
