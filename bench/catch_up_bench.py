"""An installation seven versions behind, and one with damaged files.

The server holds 1.0.0.1 to 1.0.0.8, released one after the other with
patchkit (the first from an empty folder, so every version has its state
index). Each version rewrites Data/big.bin, 30 MiB of random bytes; 200
small files and a text of 1 MiB stay as they are.

catchup: patchkit update brings 1.0.0.1 to 1.0.0.8 over nginx, once with the
state indexes (one step) and once from a copy of the server root without them
(seven steps, as a launcher without catch-up does).
- ratio: bytes the catch-up downloaded / the newest big.bin's size: what one
  step to the newest costs against the one copy a player needs.
- stepping_ratio: bytes the seven steps downloaded / the same size.
- wall times of both, for reference.

repair: in the updated folder one byte of the 1 MiB text is flipped and a
small file is deleted; patchkit repair reads every file and fetches the
damaged ones.
- ratio: bytes it downloaded / the damaged files' sizes (their members are
  deflated, so below 1).
- game_ratio: the whole installation / the same sizes: what a repair that
  downloads the game again would cost.
"""
import glob
import os
import re
import shutil
import subprocess

import run_bench
from run_bench import MIB, data_dir, goal, patchkit, start_peer, stop_peer

VERSIONS = 8
BIG_BYTES = 30 * MIB
SMALL_FILES = 200
DOWNLOADED = re.compile(r"downloaded (\d+) bytes")


def game_tree(folder, version):
    """The game folder of 1.0.0.version: the unchanged files and its big.bin."""
    data = os.path.join(folder, "Data")
    os.makedirs(data, exist_ok=True)
    with open(os.path.join(data, "base.txt"), "wb") as f:
        f.write(run_bench.text_lines(MIB, 7))
    for i in range(SMALL_FILES):
        with open(os.path.join(data, "f%03d.txt" % i), "wb") as f:
            f.write(("small file %d\n" % i).encode() * 40)
    big = os.path.join(data, "big.bin")
    if os.path.exists(big):
        os.remove(big)
    run_bench.make_random_file(big, BIG_BYTES)
    with open(os.path.join(folder, "version.txt"), "w") as f:
        f.write("1.0.0.%d\n" % version)


def make_catch_up_release(build):
    """data/catchup: server (with the indexes), stepping (the same without
    them, hard links), and old (the 1.0.0.1 game folder)."""
    base = os.path.join(data_dir(build), "catchup")
    done = os.path.join(base, ".complete")
    if os.path.exists(done):
        return base
    shutil.rmtree(base, ignore_errors=True)
    root, empty = os.path.join(base, "server"), os.path.join(base, "empty")
    os.makedirs(root)
    os.makedirs(empty)
    previous = empty
    for version in range(1, VERSIONS + 1):
        tree = os.path.join(base, "v%d" % version)
        game_tree(tree, version)
        patchkit(build, "release", "--from", previous, "--to", tree, "--version", "1.0.0.%d" % version,
                 "--server-root", root)
        if previous != empty and previous != os.path.join(base, "v1"):
            shutil.rmtree(previous)
        previous = tree
    shutil.rmtree(previous)
    stepping = os.path.join(base, "stepping")
    subprocess.run(["cp", "-al", root, stepping], check=True)
    for index in glob.glob(os.path.join(stepping, "*", "state.data")):
        os.remove(index)
    # The 1.0.0.1 game folder, where lay_out_installation looks for it.
    os.rename(os.path.join(base, "v1"), os.path.join(base, "old"))
    open(done, "w").close()
    return base


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
    ratio = figures["catchup"][1] / BIG_BYTES
    stepping = figures["stepping"][1] / BIG_BYTES
    print("bench catchup: ratio %.3f %s stepping_ratio %.3f versions_behind %d downloaded %d bytes"
          " stepping %d bytes catchup %.2f s stepping %.2f s"
          % (ratio, goal("<=", 1.05, ratio), stepping, VERSIONS - 1, figures["catchup"][1],
             figures["stepping"][1], figures["catchup"][0], figures["stepping"][0]))


def bench_repair(build):
    base = make_catch_up_release(build)
    work = os.path.join(base, "run")
    folder = os.path.join(work, "repair")
    try:
        run_bench.lay_out_installation(build, base, folder)
        downloaded_by(build, "update", os.path.join(base, "server"), folder)
        text = os.path.join(folder, "Data", "base.txt")
        with open(text, "r+b") as f:
            f.seek(MIB // 2)
            byte = f.read(1)
            f.seek(MIB // 2)
            f.write(bytes([byte[0] ^ 0xFF]))
        small = os.path.join(folder, "Data", "f007.txt")
        damaged_bytes = os.path.getsize(text) + os.path.getsize(small)
        os.remove(small)
        seconds, downloaded = downloaded_by(build, "repair", os.path.join(base, "server"), folder)
        if not verified(build, folder):
            raise SystemExit("bench repair: the repaired folder does not verify")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    game_bytes = sum(os.path.getsize(p) for p in glob.glob(os.path.join(base, "old", "**"), recursive=True)
                     if os.path.isfile(p))
    ratio = downloaded / damaged_bytes
    print("bench repair: ratio %.3f %s game_ratio %.1f downloaded %d bytes damaged %d bytes repair %.2f s"
          % (ratio, goal("<=", 1.05, ratio), game_bytes / damaged_bytes, downloaded, damaged_bytes, seconds))
