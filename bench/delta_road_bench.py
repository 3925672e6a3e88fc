"""The delta road of a version step, end to end: patchkit release --from --to
makes deltas beside the full packages, and patchkit update against nginx
takes them; the same step released with --no-delta is the reference.

The game is a few hundred MiB of archives of game-like entries (text and
incompressible data in 64 KiB entries). The new version changes a few percent
inside most archives, inserts and removes entries, adds two files and
removes one. Figures: bytes received with deltas / bytes of the full update
(the full packages on the server), and the time of the whole step with
deltas / with the full packages. Both trees are signed, as operators do.

The time goal is judged on a player's link, emulated with the launcher's own
download limit at LINK_KIBPS (a 160 Mbit/s line): over loopback the transfer
costs next to nothing, and the step is only unpacking against applying,
which the "loopback" figure shows beside it.
"""
import glob
import os
import random
import re
import shutil

import run_bench
from run_bench import MIB, RUNS, data_dir, goal, patchkit, run_measured, start_peer, stop_peer

LINK_KIBPS = 20480

ARCHIVES = 16
ENTRY_BYTES = 64 << 10
ENTRIES_PER_ARCHIVE = 256  # 16 MiB an archive
CHANGED_SHARE = 0.03       # entries rewritten in a changed archive


def entry(rng, text_chunk):
    """One archive entry: game text (compressible) or a texture (not)."""
    if rng.random() < 0.4:
        at = rng.randrange(len(text_chunk) - ENTRY_BYTES)
        return text_chunk[at:at + ENTRY_BYTES]
    return rng.randbytes(ENTRY_BYTES)


def changed_entries(entries, rng, text_chunk):
    """A few percent rewritten, two inserted, one removed."""
    new = list(entries)
    for i in rng.sample(range(len(new)), int(len(new) * CHANGED_SHARE)):
        new[i] = entry(rng, text_chunk)
    for _ in range(2):
        new.insert(rng.randrange(len(new)), entry(rng, text_chunk))
    del new[rng.randrange(len(new))]
    return new


def write(path, entries):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for e in entries:
            f.write(e)


def make_trees(old, new):
    rng = random.Random(1002)
    text_chunk = run_bench.text_lines(4 * MIB, 11)
    for i in range(ARCHIVES):
        entries = [entry(rng, text_chunk) for _ in range(ENTRIES_PER_ARCHIVE)]
        name = os.path.join("Data", "archive%02d.pak" % i)
        write(os.path.join(old, name), entries)
        if i == 0:
            continue  # removed by the new version
        # Three archives stay as they are.
        write(os.path.join(new, name), entries if i % 5 == 0 else changed_entries(entries, rng, text_chunk))
    for i in range(2):
        write(os.path.join(new, "Data", "added%d.pak" % i), [entry(rng, text_chunk) for _ in range(16)])


def make_delta_release(build):
    """1.0.0.1 and, from the same two trees, 1.0.0.2 with deltas (server/)
    and without (server-full/). Cached under data/delta-road."""
    base = os.path.join(data_dir(build), "delta-road")
    done = os.path.join(base, ".complete")
    if os.path.exists(done):
        return base
    shutil.rmtree(base, ignore_errors=True)
    empty, old, new = (os.path.join(base, n) for n in ("empty", "old", "new"))
    for d in (empty, old, new):
        os.makedirs(d)
    make_trees(old, new)
    for root, extra in (("server", []), ("server-full", ["--no-delta"])):
        root = os.path.join(base, root)
        patchkit(build, "release", "--from", empty, "--to", old, "--version", "1.0.0.1", "--server-root", root)
        patchkit(build, "release", "--from", old, "--to", new, "--version", "1.0.0.2", "--server-root", root,
                 *extra)
    shutil.copytree(new, os.path.join(base, "expected"))
    shutil.rmtree(new)
    open(done, "w").close()
    return base


def sign_trees(build, base):
    """Both trees signed with a key pair of their own, so that a build with
    keys built in checks them as one without keys takes them. Cached."""
    public, secret = (os.path.join(base, n) for n in ("bench.pub", "bench.key"))
    done = os.path.join(base, ".signed")
    if not os.path.exists(done):
        patchkit(build, "keygen", "--no-password", "--force", "--public", public, "--secret", secret)
        for root in ("server", "server-full"):
            patchkit(build, "sign", "--server-root", os.path.join(base, root), "--secret-key", secret,
                     "--expires", "3650")
        open(done, "w").close()
    return public


def run_step(build, base, root, folder, limit_kibps=0):
    """One step against nginx over root; gives (wall seconds, bytes received)."""
    state, port = start_peer("nginx", os.path.join(base, root))
    try:
        run_bench.lay_out_installation(build, base, folder)
        # The launcher checks the game when it starts, and the delta road
        # takes the installed files' MD5 from that check's cache.
        patchkit(build, "verify", folder)
        out = os.path.join(base, "update.out")
        seconds, _, _ = run_measured(["/bin/sh", "-c", "'%s' update --server http://127.0.0.1:%s --folder '%s' "
                                      "--once --limit %d --trust-key '%s' > '%s'"
                                      % (os.path.join(build, "bin", "patchkit"), port, folder, limit_kibps,
                                         sign_trees(build, base), out)])
    finally:
        stop_peer(state)
    with open(out, encoding="utf-8") as f:
        printed = f.read()
    found = re.search(r"downloaded (\d+) bytes \(full update (\d+) bytes\)", printed)
    if not found:
        raise SystemExit("bench delta: patchkit update printed no byte count:\n" + printed)
    return seconds, int(found.group(1))


def check_installed(base, folder):
    for path in glob.glob(os.path.join(base, "expected", "**", "*"), recursive=True):
        if os.path.isfile(path) and not path.endswith("version.data"):
            mine = os.path.join(folder, os.path.relpath(path, os.path.join(base, "expected")))
            with open(path, "rb") as a, open(mine, "rb") as b:
                if a.read() != b.read():
                    raise SystemExit("bench delta: %s differs after the step" % mine)


def bench_delta_road(build):
    base = make_delta_release(build)
    sign_trees(build, base)
    full_bytes = sum(os.path.getsize(p) for p in glob.glob(os.path.join(base, "server-full", "1.0.0.2", "*.pak")))
    folder = os.path.join(base, "run", "game")
    times = {(root, limit): [] for root in ("server", "server-full") for limit in (LINK_KIBPS, 0)}
    received = {}
    try:
        for _ in range(RUNS):
            for root, limit in times:
                seconds, received[root] = run_step(build, base, root, folder, limit)
                check_installed(base, folder)
                times[(root, limit)].append(seconds)
    finally:
        shutil.rmtree(os.path.join(base, "run"), ignore_errors=True)
    bytes_ratio = received["server"] / full_bytes
    step = {key: min(seconds) for key, seconds in times.items()}
    time_ratio = step[("server", LINK_KIBPS)] / step[("server-full", LINK_KIBPS)]
    loopback_ratio = step[("server", 0)] / step[("server-full", 0)]
    print("bench delta road: ratio %.3f %s time_ratio %.2f %s (link %d KiB/s: step %.2f s, full step %.2f s)"
          " loopback_time_ratio %.2f (step %.2f s, full step %.2f s) received %.1f MiB full update %.1f MiB"
          % (bytes_ratio, goal("<=", 0.10, bytes_ratio), time_ratio, goal("<=", 0.5, time_ratio), LINK_KIBPS,
             step[("server", LINK_KIBPS)], step[("server-full", LINK_KIBPS)], loopback_ratio, step[("server", 0)],
             step[("server-full", 0)], received["server"] / MIB, full_bytes / MIB))
