"""The start-up benchmark: the Windows launcher under Wine, from its process
start to the first complete paint of its main window, and to the end of the
verification of the installed files that runs behind it.

The launcher folder holds an installation of STARTUP_FILES files totalling
STARTUP_BYTES, all listed in an enciphered version.data; the reference is the
same launcher with an empty version.data. Each round starts it once without
verify.cache (every file is read) and once more with the cache that start
wrote (no file is read). The driver (vtdriver.exe time-paint) creates the
process and polls until the window is visible with nothing left to paint,
leaves it open a while for the verification, then closes it; the launcher's
own log gives the steps in between.
"""
import datetime
import hashlib
import os
import shutil
import socket
import statistics
import subprocess

MIB = 1 << 20
STARTUP_FILES = 1000
STARTUP_BYTES = 1 << 30
STARTUP_RUNS = 5
STARTUP_FOLDERS = 20
# A run that has not painted by then is a failure, not a figure.
PAINT_TIMEOUT_MS = 180000
# How long a window stays open after its paint so that the verification can
# end: without the cache it reads STARTUP_BYTES, with it only the file stamps.
COLD_LINGER_MS = 15000
WARM_LINGER_MS = 4000
CACHE_NAME = "verify.cache"
# Often enough to place the paint within a few ms, seldom enough that the
# polling's own calls into Wine's server do not slow the launcher down.
POLL_MS = 5

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "tests", "win", "wine-run")
LAUNCHER_FILES = ["VantorelLauncher.exe", "libgcrypt-20.dll", "libgpg-error-0.dll"]

# The launcher's log lines that mark the steps of its start, in order.
LOG_MILESTONES = [
    ("settings", "config.data"),
    ("initialised", "初始化Launcher完成"),
    ("verify_start", "开始验证游戏版本"),
    ("verify_done", "游戏版本验证完毕"),
    ("verify_failed", "本地版本验证失败"),
    ("worker", "请求版本升级状态..."),
    ("cache_note", "验证缓存 :"),
]
CLOCK_FORMAT = "%Y-%m-%d %H:%M:%S.%f"


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- parsing (no Wine needed) ---------------------------------------------

def parse_clock(text):
    """A "YYYY-MM-DD HH:MM:SS.mmm" clock reading, or None."""
    try:
        return datetime.datetime.strptime(text.strip(), CLOCK_FORMAT)
    except ValueError:
        return None


def parse_driver_output(text):
    """The time-paint lines as a dict: start (datetime), pid, window, shown,
    painted (ms), polls, pending, ended/exit codes, timeout (bool)."""
    result = {"timeout": False}
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        key, rest = words[0], words[1:]
        if key == "start" and len(rest) == 2:
            result["start"] = parse_clock(" ".join(rest))
        elif key in ("window", "shown", "painted") and len(rest) == 1:
            result[key] = float(rest[0])
        elif key in ("pid", "ended", "exit") and len(rest) == 1:
            result[key] = int(rest[0])
        elif key == "polls" and len(rest) == 3 and rest[1] == "pending":
            result["polls"], result["pending"] = int(rest[0]), int(rest[2])
        elif key == "timeout":
            result["timeout"] = True
    return result


def parse_log(text):
    """(datetime, message) for each well-formed log line, in file order."""
    entries = []
    for line in text.splitlines():
        line = line.rstrip("\r")
        when = parse_clock(line[:23])
        closing = line.find("] ", 24)
        if when is None or len(line) < 26 or line[24] != "[" or closing < 0:
            continue
        entries.append((when, line[closing + 2:]))
    return entries


def milestones(start, entries):
    """Milliseconds from start to the first log line of each milestone;
    a milestone without a line is left out."""
    found = {}
    for when, message in entries:
        for name, marker in LOG_MILESTONES:
            if name not in found and marker in message:
                found[name] = (when - start).total_seconds() * 1000.0
    return found


# --- the installation -------------------------------------------------------

def file_sizes(files, total):
    """files sizes that add up to total: equal shares, the last takes the rest."""
    base = total // files
    return [base] * (files - 1) + [total - base * (files - 1)]


def make_startup_tree(patchkit, root, files=STARTUP_FILES, total=STARTUP_BYTES):
    """files files of total bytes under root\\Data, and the enciphered
    version.data that lists each with its digest. Made once, then reused."""
    done = os.path.join(root, ".complete")
    stamp = "%d %d" % (files, total)
    if os.path.exists(done) and open(done).read() == stamp:
        return
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    # Content that costs nothing to make: one random block, and a first line
    # that gives every file its own digest. The digest takes as long either way.
    block = os.urandom(max(file_sizes(files, total)))
    entries = ["1002"]
    for i, size in enumerate(file_sizes(files, total)):
        folder = os.path.join("Data", "set%02d" % (i % STARTUP_FOLDERS))
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        head = b"file %06d\n" % i
        data = (head + block)[:size]
        with open(os.path.join(root, folder, "f%04d.bin" % i), "wb") as f:
            f.write(data)
        entries += ["%s\\f%04d.bin" % (folder.replace("/", "\\"), i), hashlib.md5(data).hexdigest()]
    encipher(patchkit, "\n".join(entries), os.path.join(root, "version.data"))
    with open(done, "w") as f:
        f.write(stamp)


def encipher(patchkit, text, out_path):
    plain = out_path + ".plain"
    with open(plain, "wb") as f:
        f.write(text.encode("gbk"))
    subprocess.run([patchkit, "encipher", plain, out_path], check=True, stdout=subprocess.DEVNULL)
    os.remove(plain)


def closed_port():
    """A local TCP port that nothing listens on: taken from the system, then let go."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def config_text(update_host):
    """Pages the browser can show without a network, and the update server."""
    pages = ["HomePage", "Support", "WeiBo", "Shop", "Buy", "ShowPage"]
    lines = ["%s=about:blank" % name for name in pages]
    lines += ["UpdateIP=%s" % update_host, "UpdatePort=%s" % update_host.split(":")[-1]]
    return "\n".join(lines) + "\n"


def prepare_launcher_folder(win_bin, patchkit, folder, update_host):
    """The launcher's programs and config.data in folder; no log of earlier runs."""
    for name in LAUNCHER_FILES:
        shutil.copy(os.path.join(win_bin, name), folder)
    encipher(patchkit, config_text(update_host), os.path.join(folder, "config.data"))
    shutil.rmtree(os.path.join(folder, "Log"), ignore_errors=True)


# --- one measured start -----------------------------------------------------

def time_start(win_bin, folder, linger_ms=0):
    """Starts the launcher in folder through the driver; the driver's figures
    plus the log milestones, all in ms from the process start."""
    command = [WINE_RUN, os.path.join(win_bin, "vtdriver.exe"), "time-paint", "--cwd",
               win_path(folder), "--timeout", str(PAINT_TIMEOUT_MS), "--poll", str(POLL_MS),
               "--linger", str(linger_ms), win_path(os.path.join(folder, "VantorelLauncher.exe"))]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            timeout=(PAINT_TIMEOUT_MS + linger_ms) / 1000 + 120)
    figures = parse_driver_output(result.stdout)
    if result.returncode != 0 or "painted" not in figures or figures.get("start") is None:
        raise SystemExit("bench startup: the launcher in %s did not paint: %s" % (folder, result.stdout))
    with open(os.path.join(folder, "Log", "launcher.log"), encoding="utf-8", errors="replace") as f:
        figures.update(milestones(figures["start"], parse_log(f.read())))
    return figures


def median_of(runs, key):
    values = [run[key] for run in runs if key in run]
    return statistics.median(values) if len(values) == len(runs) else None


STEP_NAMES = [("settings", "settings read (first log line)"), ("initialised", "initialised"),
              ("verify_start", "verify start"), ("verify_done", "verify done"),
              ("verify_failed", "verify failed"), ("shown", "shown"), ("painted", "painted"),
              ("worker", "update worker")]


def steps_text(runs):
    parts = []
    for key, label in STEP_NAMES:
        value = median_of(runs, key)
        if value is not None:
            parts.append("%s %.0f" % (label, value))
    return ", ".join(parts)


def warm_tree(root):
    for folder, _, names in os.walk(root):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                while f.read(16 * MIB):
                    pass


def bench_startup(build):
    win_build = os.environ.get("VANTOREL_BENCH_WIN32", build + "-win32")
    win_bin = os.path.join(win_build, "bin")
    if not os.path.exists(os.path.join(win_bin, "vtdriver.exe")):
        raise SystemExit("bench startup: no Windows build in %s (./run bench builds it)" % win_build)
    patchkit = os.path.join(build, "bin", "patchkit")
    base = os.path.join(build, "data", "startup")
    full, empty = os.path.join(base, "full"), os.path.join(base, "empty")
    make_startup_tree(patchkit, full)
    os.makedirs(empty, exist_ok=True)
    encipher(patchkit, "", os.path.join(empty, "version.data"))
    update_host = "127.0.0.1:%d" % closed_port()
    for folder in (full, empty):
        prepare_launcher_folder(win_bin, patchkit, folder, update_host)
    warm_tree(full)
    # One start first, not counted: Wine loads its own libraries into the cache.
    time_start(win_bin, empty)
    ours, warm, theirs = [], [], []
    for _ in range(STARTUP_RUNS):
        for folder, runs, linger in ((full, ours, COLD_LINGER_MS), (full, warm, WARM_LINGER_MS),
                                     (empty, theirs, 0)):
            shutil.rmtree(os.path.join(folder, "Log"), ignore_errors=True)
            if runs is ours and os.path.exists(os.path.join(folder, CACHE_NAME)):
                os.remove(os.path.join(folder, CACHE_NAME))
            runs.append(time_start(win_bin, folder, linger))
    report(ours, theirs, update_host)
    report_verification(ours, warm)


def spread(runs):
    values = [run["painted"] / 1000 for run in runs]
    return "%.2f-%.2f s" % (min(values), max(values))


def report(ours, theirs, update_host):
    painted, reference = median_of(ours, "painted"), median_of(theirs, "painted")
    print("bench startup: ratio %.2f (no goal; reference: empty version.data) files %d size %.0f MiB"
          " ours %.2f s empty %.2f s runs %d (median; ours %s, empty %s) update server %s"
          " (closed port)"
          % (painted / reference, STARTUP_FILES, STARTUP_BYTES / MIB, painted / 1000,
             reference / 1000, len(ours), spread(ours), spread(theirs), update_host))
    print("  steps, median ms from process start: 1 GiB: %s" % steps_text(ours))
    print("  steps, median ms from process start: empty: %s" % steps_text(theirs))
    print("  painted after shown (median ms): 1 GiB %.1f empty %.1f; polls %d, %d of them saw"
          " the window shown but unpainted"
          % (painted - median_of(ours, "shown"), reference - median_of(theirs, "shown"),
             sum(r["polls"] for r in ours + theirs), sum(r["pending"] for r in ours + theirs)))


def report_verification(cold, warm):
    """The verification behind the window: every file read, then none."""
    print("  with cache: painted %.2f s (median), %s" % (median_of(warm, "painted") / 1000,
                                                         steps_text(warm)))
    for name, runs in (("without verify.cache", cold), ("with verify.cache", warm)):
        start, done = median_of(runs, "verify_start"), median_of(runs, "verify_done")
        if start is None or done is None:
            print("  verification %s: did not end while the window stayed open" % name)
            continue
        after = all(run["verify_done"] > run["painted"] for run in runs)
        print("  verification %s: %.2f s (%.0f MiB/s of the listed files), %s the first paint%s"
              % (name, (done - start) / 1000, STARTUP_BYTES / MIB / max(done - start, 1) * 1000,
                 "after" if after else "not always after",
                 "; the log notes the files not read" if median_of(runs, "cache_note") else ""))
