"""bench delta's program line: two builds of one program that differ in a few
functions, made here natively and for Windows, and their deltas: patchkit's
bsdiff delta against xdelta3 -9 in bytes, patchkit apply against xdelta3 -d
in time (bspatch's time beside it), and patchkit apply's peak memory on a
1 GiB old file."""
import bz2
import os
import shutil
import struct
import subprocess

from run_bench import MIB, data_dir, fresh, goal, patchkit, run_measured, same_file

# About 4 MiB of code, the size of a game's smaller programs: small enough to
# build in a minute, large enough that the apply's work, not the start of
# the process, is what is timed.
FUNCTIONS = 20000
CHANGED = (150, 2100, 3900, 9000, 15000)  # the functions the second build changes
# Short runs on a shared machine are noisy: the best of these many counts.
APPLY_RUNS = 7
COMPILERS = {"native": ["g++"], "win32": ["i686-w64-mingw32-g++-posix", "-static"]}


def program_source(second):
    """A program of many small functions that call each other through a table,
    so that code moved by a change shifts the addresses in every later one."""
    parts = ["#include <cstdio>\n#include <cstring>\ntypedef unsigned (*Step)(unsigned);\nextern Step g_steps[];\n"]
    for i in range(FUNCTIONS):
        extra = "    x = x * 31u + %du;\n" % i if second and i in CHANGED else ""
        parts.append("__attribute__((noinline)) unsigned f%d(unsigned x) {\n    x ^= %du;\n%s"
                     "    if (x %% 7u == %du) x = g_steps[(x + %du) %% %du](x >> 1);\n"
                     "    static const char tag[] = \"step %d\";\n    return x + (unsigned)std::strlen(tag);\n}\n"
                     % (i, i * 2654435761 % (1 << 32), extra, i % 7, i, FUNCTIONS, i))
    parts.append("Step g_steps[] = {%s};\n" % ", ".join("f%d" % i for i in range(FUNCTIONS)))
    parts.append("int main(int argc, char**) { std::printf(\"%u\\n\", g_steps[argc](argc)); return 0; }\n")
    return "".join(parts)


def build_pair(side, folder):
    """old and new builds of the program for one side, made once."""
    paths = [os.path.join(folder, "%s_%d_%s.exe" % (side, FUNCTIONS, name)) for name in ("old", "new")]
    if all(os.path.exists(p) for p in paths):
        return paths
    for second, path in zip((False, True), paths):
        source = path + ".cpp"
        with open(source, "w") as f:
            f.write(program_source(second))
        subprocess.run(COMPILERS[side] + ["-O2", "-o", path, source], check=True)
    return paths


def min_wall(argv):
    return min(run_measured(argv)[0] for _ in range(APPLY_RUNS))


def program_figures(build, side, old, new, work):
    ours, tool = os.path.join(work, side + ".bsdiff"), os.path.join(work, side + ".xdelta3")
    patchkit(build, "delta", "--format", "best", old, new, ours)
    subprocess.run(["xdelta3", "-e", "-9", "-f", "-s", old, new, tool], check=True)
    out = os.path.join(work, side + ".out")
    ours_s = min_wall([os.path.join(build, "bin", "patchkit"), "apply", old, ours, out])
    if not same_file(out, new):
        raise SystemExit("bench delta: patchkit apply rebuilt another %s program" % side)
    # patchkit syncs its output before renaming it in: the tools do the same work with sync after them.
    theirs_s = min_wall(["/bin/sh", "-c", 'xdelta3 -d -f -s "$1" "$2" "$3" && sync "$3"', "sh", old, tool, out])
    bspatch_s = min_wall(["/bin/sh", "-c", 'bspatch "$1" "$2" "$3" && sync "$2"', "sh", old, out, ours])
    return os.path.getsize(ours), os.path.getsize(tool), ours_s, theirs_s, bspatch_s


def big_apply_peak(build, work):
    """patchkit apply's peak memory on a 1 GiB old file (sparse but for its
    last MiB) with a bsdiff delta made here that copies all of it, some bytes
    changed: the encoder would need 9 GiB for such a file."""
    size = 1 << 30
    old, delta, out = (os.path.join(work, n) for n in ("big_old", "big.bsdiff", "big_out"))
    with open(old, "wb") as f:
        f.truncate(size - MIB)
        f.seek(size - MIB)
        f.write(os.urandom(MIB))
    streams = []
    for data in ([struct.pack("<qqq", size, 0, 0)], None, [b""]):
        packer = bz2.BZ2Compressor(9)
        chunks = data if data is not None else ([bytes(16 * MIB)] * 63 + [b"\x01" * 64 + bytes(16 * MIB - 64)])
        streams.append(b"".join(packer.compress(c) for c in chunks) + packer.flush())
    with open(delta, "wb") as f:
        f.write(b"BSDIFF40" + struct.pack("<qqq", len(streams[0]), len(streams[1]), size) + b"".join(streams))
    peak = run_measured([os.path.join(build, "bin", "patchkit"), "apply", old, delta, out])[2]
    for path in (old, out):
        os.remove(path)
    return peak


def bench_program_delta(build):
    folder = os.path.join(data_dir(build), "programs")
    os.makedirs(folder, exist_ok=True)
    work = os.path.join(data_dir(build), "program_delta_work")
    fresh(work)
    try:
        lines = []
        for side in sorted(COMPILERS):
            if not shutil.which(COMPILERS[side][0]):
                continue
            old, new = build_pair(side, folder)
            ours, tool, ours_s, theirs_s, bspatch_s = program_figures(build, side, old, new, work)
            lines.append((side, os.path.getsize(new), ours, tool, ours_s, theirs_s, bspatch_s))
        peak = big_apply_peak(build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    bytes_ratio = max(ours / tool for _, _, ours, tool, _, _, _ in lines)
    time_ratio = max(ours_s / theirs_s for _, _, _, _, ours_s, theirs_s, _ in lines)
    details = " ".join("%s %.0f KiB: best %d B xdelta3_9 %d B apply %.3f s xdelta3 %.3f s bspatch %.3f s"
                       % (side, size / 1024, ours, tool, ours_s, theirs_s, bspatch_s)
                       for side, size, ours, tool, ours_s, theirs_s, bspatch_s in lines)
    print("bench delta programs: bytes %.2f %s time %.2f %s peak_mib_1gib %.1f %s %s"
          % (bytes_ratio, goal("<=", 0.5, bytes_ratio), time_ratio, goal("<=", 1.5, time_ratio), peak,
             goal("<", 64, peak), details))
