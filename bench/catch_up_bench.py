"""A game caught up from its first version to its tenth, and a large game
with damaged files.

catchup: the server holds ten versions, released one after the other with
patchkit (the first from an empty folder, so every version has its state
index). Each version rewrites two of four 16 MiB files of random bytes and 40
of 200 small texts; a text of 1 MiB never changes. patchkit update brings the
first version to the tenth over nginx, once with the state indexes (one step)
and once from a copy of the server root without them (nine steps, as a
launcher without catch-up does).
- ratio: bytes the catch-up downloaded / bytes of the nine steps.
- newest_ratio: bytes the catch-up downloaded / the compressed size of the
  newest copies of the files that differ from the first version (their
  members as the tenth version's index gives them): what one step to the
  newest costs against what a player cannot do without.
- time_ratio: the catch-up's wall time / the nine steps'.

repair: a 2 GiB game of 512 files of 4 MiB (half random, half text) in
64 MiB packages; in the installed folder one file gets a flipped byte, one
is cut short and one is deleted, each from another package; patchkit repair
reads every file and fetches the damaged ones.
- ratio: bytes it downloaded / (1.1 x the damaged files' members as stored
  + 64 KiB per package they are in): the goal is at most that.
- game_ratio: the game's packages / bytes it downloaded: what a repair that
  downloads the game again would cost more.
"""
import glob
import os
import re
import shutil
import subprocess

import run_bench
from run_bench import MIB, data_dir, goal, patchkit, start_peer, stop_peer

VERSIONS = 10
BIG_FILES = 4
BIG_BYTES = 16 * MIB
SMALL_FILES = 200
REPAIR_FILES = 512
REPAIR_FILE_BYTES = 4 * MIB
DOWNLOADED = re.compile(r"downloaded (\d+) bytes")


def version_name(version):
    """1.0.0.1 to 1.0.0.9, then 1.0.1.0: a version folder's last three parts are single digits."""
    return "1.0.%d.%d" % divmod(version, 10)


def small_text(index, version):
    return (("small file %d of version %d\n" % (index, version)) * 40).encode()


def game_tree(folder, previous, version):
    """The game folder of the version: the previous one's files with this
    version's changes (all files for the first)."""
    data = os.path.join(folder, "Data")
    if previous:
        shutil.copytree(previous, folder)
    else:
        os.makedirs(data)
        with open(os.path.join(data, "base.txt"), "wb") as f:
            f.write(run_bench.text_lines(MIB, 7))
    for i in range(BIG_FILES):
        if not previous or i in (version % BIG_FILES, (version + 1) % BIG_FILES):
            big = os.path.join(data, "big%d.bin" % i)
            if os.path.exists(big):
                os.remove(big)
            run_bench.make_random_file(big, BIG_BYTES)
    for i in range(SMALL_FILES):
        if not previous or i % 5 == version % 5:
            with open(os.path.join(data, "f%03d.txt" % i), "wb") as f:
                f.write(small_text(i, version))
    with open(os.path.join(folder, "version.txt"), "w") as f:
        f.write(version_name(version) + "\n")


def make_catch_up_release(build):
    """data/catchup_10: server (with the indexes), stepping (the same without
    them, hard links), and old (the first version's game folder)."""
    # Named by its versions: a cache of another layout is not taken for this one.
    base = os.path.join(data_dir(build), "catchup_%d" % VERSIONS)
    done = os.path.join(base, ".complete")
    if os.path.exists(done):
        return base
    shutil.rmtree(base, ignore_errors=True)
    root, empty = os.path.join(base, "server"), os.path.join(base, "empty")
    os.makedirs(root)
    os.makedirs(empty)
    previous = None
    for version in range(1, VERSIONS + 1):
        tree = os.path.join(base, "v%d" % version)
        game_tree(tree, previous, version)
        patchkit(build, "release", "--from", previous or empty, "--to", tree, "--version",
                 version_name(version), "--server-root", root)
        if previous and previous != os.path.join(base, "v1"):
            shutil.rmtree(previous)
        previous = tree
    shutil.rmtree(previous)
    stepping = os.path.join(base, "stepping")
    subprocess.run(["cp", "-al", root, stepping], check=True)
    for index in glob.glob(os.path.join(stepping, "*", "state.data")):
        os.remove(index)
    # The first version's game folder, where lay_out_installation looks for it.
    os.rename(os.path.join(base, "v1"), os.path.join(base, "old"))
    open(done, "w").close()
    return base


def state_index(build, root, version):
    """place -> (MD5, package, member's stored size) of a version's state.data."""
    text = subprocess.run([os.path.join(build, "bin", "patchkit"), "decipher",
                           os.path.join(root, version, "state.data"), "-"],
                          check=True, capture_output=True).stdout.decode("gbk")
    entries = {}
    for line in text.splitlines()[1:]:
        place, _size, md5, _sha, folder, package, _member, _offset, packed, _method = line.split("\t")
        entries[place] = (md5, folder + "/" + package, int(packed))
    return entries


def downloaded_by(build, verb, root, folder):
    state, port = start_peer("nginx", root)
    try:
        argv = [os.path.join(build, "bin", "patchkit"), verb, "--server", "http://127.0.0.1:%s" % port,
                "--folder", folder]
        report = os.path.join(os.path.dirname(folder), "time.txt")
        result = subprocess.run(["/usr/bin/time", "-f", "%e", "-o", report] + argv, capture_output=True, text=True)
        if result.returncode != 0:
            raise SystemExit("bench %s: patchkit %s failed:\n%s" % (verb, verb, result.stdout[-2000:]))
        with open(report) as f:
            seconds = float(f.read().split()[-1])
    finally:
        stop_peer(state)
    counts = [int(n) for n in DOWNLOADED.findall(result.stdout)]
    if not counts:
        raise SystemExit("bench %s: patchkit printed no byte count" % verb)
    return seconds, sum(counts) if verb == "repair" else counts[-1]


def verified(build, folder):
    return subprocess.run([os.path.join(build, "bin", "patchkit"), "verify", folder],
                          stdout=subprocess.DEVNULL).returncode == 0


def bench_catchup(build):
    base = make_catch_up_release(build)
    work = os.path.join(base, "run")
    try:
        figures = {}
        for name, root in (("catchup", "server"), ("stepping", "stepping")):
            folder = os.path.join(work, name)
            run_bench.lay_out_installation(build, base, folder)
            figures[name] = downloaded_by(build, "update", os.path.join(base, root), folder)
            if not verified(build, folder):
                raise SystemExit("bench catchup: the %s folder does not verify" % name)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    root = os.path.join(base, "server")
    first = state_index(build, root, version_name(1))
    newest = state_index(build, root, version_name(VERSIONS))
    needed = sum(packed for place, (md5, _, packed) in newest.items() if first.get(place, ("",))[0] != md5)
    (catchup_s, catchup), (stepping_s, stepping) = figures["catchup"], figures["stepping"]
    ratio, newest_ratio, time_ratio = catchup / stepping, catchup / needed, catchup_s / stepping_s
    print("bench catchup: ratio %.3f %s newest_ratio %.3f %s time_ratio %.2f %s versions_behind %d"
          " downloaded %d bytes stepping %d bytes newest copies %d bytes catchup %.2f s stepping %.2f s"
          % (ratio, goal("<=", 0.35, ratio), newest_ratio, goal("<=", 1.05, newest_ratio), time_ratio,
             goal("<=", 0.5, time_ratio), VERSIONS - 1, catchup, stepping, needed, catchup_s, stepping_s))


def make_repair_release(build):
    """data/repair: server (one version, from an empty folder) and old (its game folder)."""
    base = os.path.join(data_dir(build), "repair")
    done = os.path.join(base, ".complete")
    if os.path.exists(done):
        return base
    shutil.rmtree(base, ignore_errors=True)
    root, empty, old = (os.path.join(base, n) for n in ("server", "empty", "old"))
    for d in (root, empty, os.path.join(old, "Data")):
        os.makedirs(d)
    text = run_bench.text_lines(REPAIR_FILE_BYTES // 2, 11)
    for i in range(REPAIR_FILES):
        with open(os.path.join(old, "Data", "g%03d.bin" % i), "wb") as f:
            f.write(os.urandom(REPAIR_FILE_BYTES // 2))
            f.write(text)
    patchkit(build, "release", "--from", empty, "--to", old, "--version", "1.0.0.1", "--server-root", root)
    open(done, "w").close()
    return base


def bench_repair(build):
    base = make_repair_release(build)
    root = os.path.join(base, "server")
    index = state_index(build, root, "1.0.0.1")
    places = sorted(p for p in index if p.startswith("Data\\"))
    # Three files of three packages: the first of the game, one from its
    # middle and its last.
    damaged = [places[0], places[len(places) // 2], places[-1]]
    if len({index[p][1] for p in damaged}) != 3:
        raise SystemExit("bench repair: the damaged files share a package")
    work = os.path.join(base, "run")
    folder = os.path.join(work, "repair")
    try:
        run_bench.lay_out_installation(build, base, folder)
        paths = [os.path.join(folder, *p.split("\\")) for p in damaged]
        with open(paths[0], "r+b") as f:
            f.seek(REPAIR_FILE_BYTES - 100)
            byte = f.read(1)
            f.seek(REPAIR_FILE_BYTES - 100)
            f.write(bytes([byte[0] ^ 0xFF]))
        with open(paths[1], "r+b") as f:
            f.truncate(REPAIR_FILE_BYTES // 3)
        os.remove(paths[2])
        seconds, downloaded = downloaded_by(build, "repair", root, folder)
        if not verified(build, folder):
            raise SystemExit("bench repair: the repaired folder does not verify")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    allowed = 1.1 * sum(index[p][2] for p in damaged) + 64 * 1024 * len({index[p][1] for p in damaged})
    packages = sum(os.path.getsize(p) for p in glob.glob(os.path.join(root, "1.0.0.1", "*.pak")))
    ratio = downloaded / allowed
    print("bench repair: ratio %.3f %s game_ratio %.0f downloaded %d bytes allowed %d bytes game %.0f MiB"
          " in %d packages repair %.2f s"
          % (ratio, goal("<=", 1, ratio), packages / downloaded, downloaded, allowed,
             REPAIR_FILES * REPAIR_FILE_BYTES / MIB, len(glob.glob(os.path.join(root, "1.0.0.1", "*.pak"))),
             seconds))
