#!/usr/bin/python3
"""patchkit.exe under Wine: the same verbs as the native tool.

Usage: patchkit_wine_test.py BIN_DIR CASE
"""
import hashlib
import os
import re
import subprocess
import sys

import road
from wine_session import check, run_cases, win_path


def patchkit(s, *args):
    return s.run_wine([os.path.join(s.bin_dir, "patchkit.exe")] + list(args))


def error_lines(err):
    return [line for line in err.splitlines() if line.strip()]


def case_round_trips(s):
    plain = s.path("plain.bin")
    content = "主页=x\r\n".encode("gbk") + b"\0\xff tail"
    with open(plain, "wb") as f:
        f.write(content)
    rc, out, err = patchkit(s, "--help")
    check(rc == 0 and "Usage: patchkit" in out, "help: %d %s" % (rc, err))
    rc, _, err = patchkit(s, "encipher", win_path(plain), win_path(s.path("enc.bin")))
    check(rc == 0, "encipher: " + err)
    rc, _, err = patchkit(s, "decipher", win_path(s.path("enc.bin")), win_path(s.path("back.bin")))
    check(rc == 0 and open(s.path("back.bin"), "rb").read() == content, "decipher: " + err)

    tree = s.make_folder("tree")
    os.makedirs(os.path.join(tree, "sub"))
    with open(os.path.join(tree, "sub", "b.txt"), "wb") as f:
        f.write(b"bee" * 1000)
    rc, _, err = patchkit(s, "pack", win_path(s.path("p.pak")), win_path(tree))
    check(rc == 0, "pack: " + err)
    rc, out, err = patchkit(s, "list", win_path(s.path("p.pak")))
    check(rc == 0 and out.splitlines() == ["sub\\b.txt\t3000"], "list: %r %s" % (out, err))
    rc, _, err = patchkit(s, "extract", win_path(s.path("p.pak")), win_path(s.path("out")))
    check(rc == 0, "extract: " + err)
    check(open(s.path("out", "sub", "b.txt"), "rb").read() == b"bee" * 1000, "extracted content")

    rc, out, err = patchkit(s, "digest", win_path(plain))
    check(rc == 0 and out.split()[0] == hashlib.md5(content).hexdigest(), "digest: %r" % out)


def case_failures(s):
    plain = s.path("plain.txt")
    with open(plain, "wb") as f:
        f.write(b"HomePage=x\n")
    patchkit(s, "encipher", win_path(plain), win_path(s.path("enc.bin")))
    with open(s.path("bad.pak"), "wb") as f:
        f.write(b"PK\x03\x04 not a package")
    for args in (["decipher", "--key", "1,2,3,4,5", win_path(s.path("enc.bin")), win_path(s.path("o"))],
                 ["decipher", win_path(plain), win_path(s.path("o"))],
                 ["encipher", win_path(s.path("missing")), win_path(s.path("o"))],
                 ["list", win_path(s.path("bad.pak"))],
                 ["digest", win_path(s.path("missing"))]):
        rc, _, err = patchkit(s, *args)
        check(rc == 1, "%s: exit %d" % (args[0], rc))
        check(len(error_lines(err)) == 1, "%s: stderr %r" % (args[0], err))
        check(not os.path.exists(s.path("o")), "%s left an output" % args[0])


def case_update_over_http(s):
    # The update verb downloads through Winsock, which the program must start.
    site = road.make_release(s.bin_dir, s.path("release"))
    server = road.Server(s.path("nginx"), site)
    try:
        game = s.path("게임 Ñandú 🎮", "inst")
        road.make_installation(s.bin_dir, site, game, server.port)
        # The installer program would open a launcher window after each step.
        os.remove(os.path.join(game, "VantorelLauncher.exe"))
        rc, out, err = patchkit(s, "update", "--server", "http://127.0.0.1:%d" % server.port,
                                "--folder", win_path(game))
        check(rc == 0, "update: %d %s %s" % (rc, out, err))
        road.check_installed(s.bin_dir, game, 3)
        check("installer result: installed" in s.read(os.path.join(game, "Log", "installer.log")), "no installer log")
        # What the steps cost over the network ends the output.
        counted = re.match(r"downloaded \d+ bytes \(full update \d+ bytes\), reused \d+ bytes$", out.strip().splitlines()[-1])
        check(counted, "update printed: " + out)
    finally:
        server.stop()


def case_signing(s):
    # A password-protected key of patchkit.exe opens in the 32-bit process (its
    # scrypt memory must fit), and what it signs passes the minisign tool.
    root = s.make_folder("root")
    os.makedirs(os.path.join(root, "1.0.0.2"))
    with open(os.path.join(root, "versionlist.data"), "wb") as f:
        f.write(b"1.0.0.2\t0\t0\n")
    with open(os.path.join(root, "1.0.0.2", "data1.pak"), "wb") as f:
        f.write(b"PK")
    os.environ["VANTOREL_SIGN_PASSWORD"] = "wine password"
    rc, _, err = patchkit(s, "keygen", "--public", win_path(s.path("k.pub")), "--secret", win_path(s.path("k.key")))
    check(rc == 0, "keygen: " + err)
    rc, out, err = patchkit(s, "sign", "--server-root", win_path(root), "--secret-key", win_path(s.path("k.key")))
    del os.environ["VANTOREL_SIGN_PASSWORD"]
    check(rc == 0 and "signed versionlist.data: serial" in out, "sign: %d %s %s" % (rc, out, err))
    for signed in (os.path.join(root, "versionlist.data"), os.path.join(root, "1.0.0.2", "release.manifest")):
        verified = subprocess.run(["minisign", "-Vq", "-p", s.path("k.pub"), "-m", signed])
        check(verified.returncode == 0, "minisign -V " + signed)


CASES = {"round_trips": case_round_trips, "failures": case_failures,
         "update_over_http": case_update_over_http, "signing": case_signing}

if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        print(";".join(CASES))
        sys.exit(0)
    sys.exit(run_cases(CASES, sys.argv))
