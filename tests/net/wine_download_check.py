#!/usr/bin/env python3
"""The Windows build's clients against real servers: starts nginx and an FTP
server natively, runs net_fetch.exe under Wine for each case and checks the
files; https against nginx with certificates of a test CA that test_root.exe
puts into the Wine prefix's root store for the run.
Usage: wine_download_check.py NET_FETCH_EXE WINE_RUN TEST_ROOT_EXE
"""
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
import peer  # noqa: E402


def win_path(path):
    return "Z:" + path.replace("/", "\\")


class Checker:
    def __init__(self, fetch, wine_run):
        self.fetch, self.wine_run = fetch, wine_run
        self.failures = 0

    def run(self, *args, program=None):
        # Output goes to a file, not a pipe: Wine's own helper processes
        # inherit pipes and would keep them open long after the program ends.
        with tempfile.TemporaryFile(mode="w+") as out:
            try:
                rc = subprocess.call([self.wine_run, program or self.fetch] + list(args), stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=subprocess.STDOUT, timeout=120)
            except subprocess.TimeoutExpired:
                return "no result: time-out"
            out.seek(0)
            text = out.read()
        for line in text.splitlines():
            if line.startswith("result "):
                return int(line.split()[1])
        return "no result (exit %d): %s" % (rc, text.strip()[-300:])

    def expect(self, name, got, wanted):
        ok = got == wanted
        self.failures += 0 if ok else 1
        shown = got if not isinstance(got, bytes) else "%d bytes" % len(got)
        print("%s %s%s" % ("ok  " if ok else "FAIL", name, "" if ok else ": got %s" % shown))


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def http_cases(c, work, content):
    site, state, local = (os.path.join(work, n) for n in ("site", "nginx", "local"))
    os.makedirs(site)
    os.makedirs(local)
    with open(os.path.join(site, "pack.zip"), "wb") as f:
        f.write(content)
    port = peer.start("nginx", state, site, owner=os.getpid())
    try:
        url = "http://127.0.0.1:%d/pack.zip" % port
        target = os.path.join(local, "pack.zip")
        c.expect("http whole file", c.run("http", url, win_path(target)), 0)
        c.expect("http whole file content", read(target), content)
        with open(target, "wb") as f:
            f.write(b"X" * 1000)
        c.expect("http resume", c.run("http", url, win_path(target)), 0)
        c.expect("http resume content", read(target), b"X" * 1000 + content[1000:])
        c.expect("http complete file again (416, start over)", c.run("http", url, win_path(target)), 0)
        c.expect("http complete file again content", read(target), content)
        missing = os.path.join(local, "none.zip")
        c.expect("http 404", c.run("http", url.replace("pack", "none"), win_path(missing)), 5)
        c.expect("http 404 leaves an empty file", read(missing), b"")
        with open(os.path.join(state, "redirect-port")) as f:
            moved = "http://127.0.0.1:%s/pack.zip" % f.read().strip()
        os.remove(target)
        c.expect("http 301 to another port", c.run("http", moved, win_path(target)), 0)
        c.expect("http 301 to another port content", read(target), content)
        os.makedirs(os.path.join(site, "chunked"))
        with open(os.path.join(site, "chunked", "list.txt"), "wb") as f:
            f.write(b"chunked list\n" * 20000)
        listed = os.path.join(local, "list.txt")
        c.expect("http chunked", c.run("http", "http://127.0.0.1:%d/chunked/list.txt" % port, win_path(listed)), 0)
        c.expect("http chunked content", read(listed), b"chunked list\n" * 20000)
    finally:
        peer.stop(state)


def https_cases(c, work, content, test_root):
    site, state, local, certs = (os.path.join(work, n) for n in ("tlssite", "tls", "tlslocal", "certs"))
    os.makedirs(site)
    os.makedirs(local)
    with open(os.path.join(site, "pack.zip"), "wb") as f:
        f.write(content)
    peer.make_certs(certs)
    ca = win_path(os.path.join(certs, "ca.der"))
    c.expect("test CA into the prefix's root store", c.run("add", ca, program=test_root), 0)
    port = peer.start("nginx", state, site, owner=os.getpid(), certs=certs)
    try:
        def https(name, path="/pack.zip"):
            with open(os.path.join(state, "tls-port-" + name)) as f:
                return "https://localhost:%s%s" % (f.read().strip(), path)
        target = os.path.join(local, "pack.zip")
        c.expect("https whole file", c.run("http", https("good"), win_path(target)), 0)
        c.expect("https whole file content", read(target), content)
        with open(target, "wb") as f:
            f.write(b"X" * 1000)
        c.expect("https resume", c.run("http", https("good"), win_path(target)), 0)
        c.expect("https resume content", read(target), b"X" * 1000 + content[1000:])
        os.remove(target)
        up = "http://127.0.0.1:%d/up/pack.zip" % port
        c.expect("http redirected to https", c.run("http", up, win_path(target)), 0)
        c.expect("http redirected to https content", read(target), content)
        refused = os.path.join(local, "refused.zip")
        for name, url, result in (("https redirected to http", https("good", "/down/pack.zip"), 5),
                                  ("expired", https("expired"), 4), ("not yet valid", https("future"), 4),
                                  ("wrong host name", https("wronghost"), 4), ("unknown issuer", https("foreign"), 4),
                                  ("plain http on the https port", "https://localhost:%d/pack.zip" % port, 4)):
            c.expect("https refused: " + name, c.run("http", url, win_path(refused)), result)
    finally:
        peer.stop(state)
        c.expect("test CA out of the root store", c.run("remove", ca, program=test_root), 0)


def ftp_cases(c, work, content):
    site, state, local = (os.path.join(work, n) for n in ("ftpsite", "ftp", "ftplocal"))
    os.makedirs(os.path.join(site, "1003"))
    os.makedirs(local)
    with open(os.path.join(site, "1003", "pack.zip"), "wb") as f:
        f.write(content)
    with open(os.path.join(site, "versionlist.data"), "wb") as f:
        f.write(b"1.0.0.3\t1\r\n")
    port = peer.start("ftp", state, site, owner=os.getpid())
    try:
        base = "ftp://127.0.0.1:%d\\" % port
        first, second = os.path.join(local, "a.zip"), os.path.join(local, "b.zip")
        with open(first, "wb") as f:
            f.write(b"Y" * 5000)
        got = c.run("ftp-twice", base + "1003\\pack.zip", base + "1003\\pack.zip",
                    win_path(first), win_path(second))
        c.expect("ftp two files on one login", got, 0)
        c.expect("ftp resumed file", read(first), b"Y" * 5000 + content[5000:])
        c.expect("ftp whole file", read(second), content)
        with open(os.path.join(state, "logins")) as f:
            c.expect("ftp logins", len(f.read().splitlines()), 1)
        memory = os.path.join(local, "list.txt")
        c.expect("ftp to memory", c.run("ftp-memory", base + "versionlist.data", win_path(memory)), 0)
        c.expect("ftp to memory content", read(memory), b"1.0.0.3\t1\r\n")
        c.expect("ftp missing file", c.run("ftp", base + "1003\\none.zip", win_path(first)), 70)
    finally:
        peer.stop(state)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    c = Checker(argv[0], argv[1])
    content = random.Random(5).randbytes(3 * 1024 * 1024 + 5)
    with tempfile.TemporaryDirectory(prefix="vnet_wine_") as work:
        http_cases(c, work, content)
        ftp_cases(c, work, content)
        https_cases(c, work, content, argv[2])
    print("%d failed" % c.failures)
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
