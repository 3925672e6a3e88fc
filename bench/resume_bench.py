"""A version step cut off and continued: patchkit update fetches a 1 GiB
package from nginx at LIMIT (a rate that makes the step take tens of
seconds), is killed (SIGKILL) when the package's file in the work folder has
reached 30, 60 and 90 % of it, and is then run to the end.

Figures:
- ratio: the body bytes nginx sent over all the runs (every request of the
  step: version list, lists, manifest, package) / the package's size. Bytes
  the server had handed its socket when a run was killed are lost with it,
  and count.
- first_byte_s: for each restart, the time from its process start to the
  first new byte of the package on the disk, less the time the same process
  took to its first request (the version list, from nginx's log with $msec
  and $request_time): what continuing costs beyond the program's own start.
  The worst restart carries the goal.
- the update's own wall time, over all runs and per run, for reference.

The tree is signed, as operators do, and the runs check it with its key.
"""
import os
import re
import shutil
import signal
import subprocess
import time

import run_bench
from run_bench import MIB, data_dir, goal, start_peer, stop_peer

PACKAGE_FILE_BYTES = 1 << 30
LIMIT = "32m"
LIMIT_BYTES = 32 * MIB
CUTS = (30, 60, 90)
PACKAGE_URI = "/1.0.0.2/data1.pak"
POLL_SECONDS = 0.001
# nginx's access log: the combined format, then $msec $request_time (tests/peers/peer.py).
LOG_LINE = re.compile(r'"(\S+) (\S+) [^"]*" (\d{3}) (\d+) "[^"]*" "[^"]*" ([\d.]+) ([\d.]+)$')


def make_resume_release(build):
    """The step to 1.0.0.2 adds Data/big.bin, 1 GiB of random bytes: one
    package of its own, stored. Cached under data/resume."""
    def add_files(_old, new):
        run_bench.make_random_file(os.path.join(new, "Data", "big.bin"), PACKAGE_FILE_BYTES)
    base = run_bench.make_release(build, "resume", add_files)
    public = run_bench.sign_update_release(build, base)
    return base, public


def log_entries(state):
    """(path, body bytes, start, end) of each answer nginx logged; times in
    seconds since the epoch, start = end - duration."""
    entries = []
    with open(os.path.join(state, "access.log")) as f:
        for line in f:
            found = LOG_LINE.search(line.strip())
            if found:
                end, duration = float(found.group(5)), float(found.group(6))
                entries.append((found.group(2), int(found.group(4)), end - duration, end))
    return entries


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


class Run:
    """One run of patchkit update, watched through its kept package: when
    it started, when the file first grew beyond what the run found, and when
    it ended; killed once the file holds cut_bytes, if given."""

    def __init__(self, argv, kept, cut_bytes=None):
        found = file_size(kept)
        self.first_new_byte = None
        self.start = time.time()
        process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while process.poll() is None:
            size = file_size(kept)
            if self.first_new_byte is None and size > found:
                self.first_new_byte = time.time()
            if cut_bytes is not None and size >= cut_bytes:
                process.send_signal(signal.SIGKILL)
                break
            time.sleep(POLL_SECONDS)
        self.status = process.wait()
        self.end = time.time()
        self.kept = file_size(kept)
        if cut_bytes is None and self.status != 0:
            raise SystemExit("bench resume: the last run failed with %d" % self.status)
        if cut_bytes is not None and self.status != -signal.SIGKILL:
            raise SystemExit("bench resume: a run ended (%d) before its cut at %d bytes" % (self.status, cut_bytes))

    def first_request(self, entries):
        """When nginx took this run's first request (its version list)."""
        starts = [start for _, _, start, _ in entries if self.start <= start <= self.end]
        return min(starts) if starts else None


def wait_for_answers(state, count):
    """nginx logs an answer once it notices its end; a killed run's may come late."""
    for _ in range(500):
        entries = log_entries(state)
        if sum(1 for path, _, _, _ in entries if path == PACKAGE_URI) >= count:
            return entries
        time.sleep(0.01)
    raise SystemExit("bench resume: nginx logged fewer than %d answers for the package" % count)


def bench_resume(build):
    base, public = make_resume_release(build)
    package = os.path.join(base, "server", "1.0.0.2", "data1.pak")
    size = os.path.getsize(package)
    patchkit_bin = os.path.join(build, "bin", "patchkit")
    folder = os.path.join(base, "run", "game")
    kept = os.path.join(folder, "_temp", "data1.pak")
    state, port = start_peer("nginx", os.path.join(base, "server"), slow="%s@%s" % (PACKAGE_URI, LIMIT))
    argv = [patchkit_bin, "update", "--server", "http://127.0.0.1:%s" % port, "--folder", folder, "--once",
            "--trust-key", public]
    try:
        run_bench.lay_out_installation(build, base, folder)
        run_bench.warm(package)
        runs = [Run(argv, kept, size * cut // 100) for cut in CUTS]
        runs.append(Run(argv, kept))
        if subprocess.run([patchkit_bin, "verify", folder], stdout=subprocess.DEVNULL).returncode != 0:
            raise SystemExit("bench resume: the updated folder does not verify")
        if file_size(os.path.join(folder, "Data", "big.bin")) != PACKAGE_FILE_BYTES:
            raise SystemExit("bench resume: Data/big.bin was not installed")
        entries = wait_for_answers(state, len(runs))
    finally:
        stop_peer(state)
        shutil.rmtree(os.path.join(base, "run"), ignore_errors=True)
    report(runs, entries, size)


def report(runs, entries, size):
    sent = sum(body for _, body, _, _ in entries)
    package_sent = sum(body for path, body, _, _ in entries if path == PACKAGE_URI)
    ratio = sent / size
    restarts = []
    for run in runs[1:]:
        first_request = run.first_request(entries)
        if run.first_new_byte is None or first_request is None:
            raise SystemExit("bench resume: a restart fetched no new byte of the package")
        restarts.append((run.first_new_byte - run.start, first_request - run.start))
    worst = max(byte - own for byte, own in restarts)
    wall = sum(run.end - run.start for run in runs)
    print("bench resume: ratio %.4f %s first_byte_s %.3f %s package %.0f MiB limit %.0f MiB/s cuts %s %%"
          " sent %.1f MiB (package %.1f MiB) wall %.1f s over %d runs (the package alone at the limit %.1f s)"
          % (ratio, goal("<=", 1.01, ratio), worst, goal("<=", 1, worst), size / MIB, LIMIT_BYTES / MIB,
             "/".join(str(cut) for cut in CUTS), sent / MIB, package_sent / MIB, wall, len(runs),
             size / LIMIT_BYTES))
    print("  restarts, s from the process start to the first new byte / to the first request:"
          " %s; runs' wall: %s s; kept at the cuts: %s MiB"
          % (", ".join("%.3f / %.3f" % r for r in restarts), " / ".join("%.1f" % (r.end - r.start) for r in runs),
             " / ".join("%.1f" % (r.kept / MIB) for r in runs[:-1])))
