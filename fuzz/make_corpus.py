#!/usr/bin/python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/NAME/.

    /usr/bin/python3 fuzz/make_corpus.py [PATCHKIT]

The seeds are real files: packages made by Info-ZIP zip and by patchkit, the
lists and version.data of a release made by "patchkit release", nginx's and
pyftpdlib's own replies (started through tests/peers/peer.py), the skin
bitmap of res/. PATCHKIT defaults to build/native/bin/patchkit. The seeds are
committed; run this again only when a format changes. Files it does not make
(the minimised inputs of past findings) stay as they are.
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
PEER = os.path.join(ROOT, "tests", "peers", "peer.py")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def game_folders(work):
    """An old and a new game folder that differ by a change, an addition and a removal."""
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    for folder in (old, new):
        put(os.path.join(folder, "Root", "data", "common.txt"), b"the same in both\n" * 4)
    put(os.path.join(old, "Root", "data", "map.dat"), bytes(range(256)) * 2)
    put(os.path.join(new, "Root", "data", "map.dat"), bytes(reversed(range(256))) * 2)
    put(os.path.join(old, "Root", "gone.txt"), b"removed by the release\n")
    put(os.path.join(new, "Root", "\u8bf4\u660e.txt"), "\u66f4\u65b0\u8bf4\u660e\n".encode("utf-8"))
    put(os.path.join(new, "Root", "VantorelPath.exe"), b"MZ" + bytes(60))
    return old, new


def release_seeds(patchkit, work):
    old, new = game_folders(work)
    server = os.path.join(work, "server")
    subprocess.run([patchkit, "release", "--from", old, "--to", new, "--version", "1.0.0.2",
                    "--server-root", server, "--mandatory"], check=True, stdout=subprocess.DEVNULL)
    step = os.path.join(server, "1.0.0.2")
    plain = {}
    sealed = {name: read(os.path.join(step, name)) for name in ("updatelist.data", "dellist.data")}
    for package in os.listdir(step):  # version.data travels in a package
        if package.endswith(".pak"):
            with zipfile.ZipFile(os.path.join(step, package)) as archive:
                for member in archive.namelist():
                    if member.replace("\\", "/").endswith("/version.data"):
                        sealed["version.data"] = archive.read(member)
    for name, data in sealed.items():
        put(os.path.join(work, name), data)
        out = os.path.join(work, name + ".plain")
        subprocess.run([patchkit, "decipher", os.path.join(work, name), out], check=True)
        plain[name] = read(out)
        write("sealed_file", name, b"\0" + data)
    write("update_lists", "release", plain["updatelist.data"] + b"\0" + plain["dellist.data"])
    write("update_lists", "unsafe", b"data1.pak\tRoot\\..\\..\\x.dll\t4\t" + b"0" * 32 + b"\n\0C:\\boot.ini\n")
    write("version_data", "release", plain["version.data"])
    write("version_data", "odd", b"1.0.0.1\nRoot\\a.txt\n" + b"f" * 32 + b"\nRoot\\b.txt\n")
    write("version_list", "release", read(os.path.join(server, "versionlist.data")))
    write("version_list", "bom", b"\xef\xbb\xbf1.0.0.1\t0\t0\r\n1.0.0.3\t1\t0\r\n")
    write("version_list", "gbk", "1.0.0.2\t0\t\u8865\u4e01\n".encode("cp936"))
    for package in sorted(os.listdir(step)):
        if package.endswith(".pak"):
            write("bundle", "release-" + package, read(os.path.join(step, package)))
    packed = os.path.join(work, "packed.pak")
    subprocess.run([patchkit, "pack", packed, new], check=True, stdout=subprocess.DEVNULL)
    write("bundle", "patchkit-pack", read(packed))
    for flags, name in ((["-q", "-r"], "infozip-deflated"), (["-q", "-r", "-0"], "infozip-stored")):
        archive = os.path.join(work, name + ".zip")
        subprocess.run(["zip"] + flags + [archive, "Root"], cwd=new, check=True)
        write("bundle", name, read(archive))
    config = os.path.join(work, "config.ini")
    put(config, "http://home/\nhttp://support/\nhttp://weibo/\nhttp://shop/\nhttp://buy/\n"
        "http://news/\n127.0.0.1\n80\nMirrors=10.0.0.1;10.0.0.2\nMaxDownloadKiBps=512\n".encode("cp936"))
    write("launcher_settings", "config", read(config))
    sealed = os.path.join(work, "config.data")
    subprocess.run([patchkit, "encipher", config, sealed], check=True)
    write("sealed_file", "config.data", b"\0" + read(sealed))


def state_index_seeds(patchkit, work):
    """The state.data of a third release, whose files come from all three."""
    old, new = game_folders(os.path.join(work, "state"))
    empty, server = os.path.join(work, "state", "empty"), os.path.join(work, "state", "server")
    os.makedirs(empty)
    for source, target, version in ((empty, old, "1.0.0.1"), (old, new, "1.0.0.2"), (new, new, "1.0.0.3")):
        subprocess.run([patchkit, "release", "--from", source, "--to", target, "--version", version,
                        "--server-root", server], check=True, stdout=subprocess.DEVNULL)
    plain = os.path.join(work, "state.plain")
    subprocess.run([patchkit, "decipher", os.path.join(server, "1.0.0.3", "state.data"), plain], check=True)
    write("state_index", "release", read(plain))
    write("state_index", "empty", b"vantorel-state\t1\t1.0.0.1\t0\n")


def text_seeds():
    write("launcher_settings", "keys", b"HomePage = a \r\nSupport=\tb\r\nWeiBo=c\r\nShop=d\r\n"
          b"Buy=e\r\nShowPage=f\r\nUpdateIP=g\r\nUpdatePort=h\r\nmirrors=x\n")
    write("launcher_settings", "gbk", "\u4e3b\u9875\n\u5ba2\u670d\n".encode("cp936") * 5)
    # sealed_file with an odd first byte seals the content after the change
    # (kind, 16-bit amount, extra byte), changes the image and unseals it.
    content = "1.0.0.2\n\u8865\u4e01\n".encode("cp936")
    for kind, name in enumerate(("unchanged", "cut", "flip", "length-field", "resize", "key")):
        write("sealed_file", "seal-" + name, bytes([1, kind, 40, 0, 0x20]) + content)
    hand_off = "work\\Root\\a.txt\tRoot\\a.txt\nwork\\Root\\\u8bf4\u660e.txt\tRoot\\\u8bf4\u660e.txt\n" \
               "DEL=Root\\gone.txt\nDEL=Root\\old\\\n"
    write("hand_off", "moves-and-deletes", hand_off.encode("cp936"))
    write("hand_off", "crlf", b"a\tb\r\n\r\nDEL=c\r\n")
    write("hand_off", "utf8", ("vantorel-hand-off utf-8\nC:\\\uac8c\uc784\\_temp\\a\tC:\\\uac8c\uc784\\a\n"
          "DEL=C:\\\U0001f3ae\\b\n").encode())
    digest = "0123456789abcdef" * 2
    write("install_journal", "open", ("vantorel-install-journal 1\t%s\n"
          "M\twork\\a\tRoot\\a\tRoot\\a.bak\tRoot\\new\nD\tRoot\\gone\t\nM\twork\\b\tRoot\\b\t\t\n" % digest).encode())
    write("install_journal", "committed", ("vantorel-install-journal 1\t%s\nD\tx\tx.bak\nC\n" % digest).encode())
    write("install_journal", "cut", ("vantorel-install-journal 1\t%s\nR\nM\twork" % digest).encode())
    write("gbk_text", "chinese", "\u66f4\u65b0\u5931\u8d25\uff0c\u8bf7\u91cd\u8bd5\u3002 abc\n".encode("cp936") + b"\x80\n")
    write("gbk_text", "backslash-trail", "\u8868\\\u80fd\\".encode("cp936"))


def skin_seeds():
    skin = Image.open(os.path.join(ROOT, "res", "skin.bmp")).convert("RGB")
    for name, box in (("top-left", (0, 0, 40, 40)), ("top-edge", (0, 0, skin.width, 4))):
        piece = skin.crop(box)
        width, height = piece.size
        stride = (width * 3 + 3) & ~3
        rows = []
        for y in reversed(range(height)):  # bottom-up, as GetDIBits gives it
            row = bytearray()
            for x in range(width):
                r, g, b = piece.getpixel((x, y))
                row += bytes((b, g, r))
            rows.append(bytes(row) + bytes(stride - len(row)))
        header = width.to_bytes(2, "little") + height.to_bytes(2, "little") + b"\x01\x00"
        write("skin_region", name, header + b"".join(rows))


class Peer:
    def __init__(self, kind, root, work):
        self.state = os.path.join(work, kind + "-state")
        os.makedirs(self.state)
        out = subprocess.run([PEER, "start", kind, self.state, root], check=True,
                             capture_output=True, text=True, executable=None)
        self.port = int(out.stdout.split()[-1])

    def stop(self):
        subprocess.run([PEER, "stop", self.state], check=False)


def http_exchange(port, request):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(request.encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    return data


def http_seeds(work):
    root = os.path.join(work, "www")
    for folder in ("", "chunked"):
        put(os.path.join(root, folder, "1.0.0.2", "updatelist.data"), b"x" * 300)
    peer = Peer("nginx", root, work)
    try:
        requests = {
            "ok": "GET /1.0.0.2/updatelist.data HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n",
            "range": "GET /1.0.0.2/updatelist.data HTTP/1.1\r\nHost: h\r\nRange: bytes=100-\r\n"
                     "Connection: close\r\n\r\n",
            "chunked": "GET /chunked/1.0.0.2/updatelist.data HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n",
            "not-found": "GET /missing HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n",
            "not-satisfiable": "GET /1.0.0.2/updatelist.data HTTP/1.1\r\nHost: h\r\nRange: bytes=999-\r\n"
                               "Connection: close\r\n\r\n",
        }
        for name, request in requests.items():
            write("http_response", name, b"\x07" + http_exchange(peer.port, request))
        redirect = int(read(os.path.join(peer.state, "redirect-port")))
        write("http_response", "redirect", b"\x00" + http_exchange(redirect, requests["ok"]))
    finally:
        peer.stop()


def ftp_seeds(work):
    root = os.path.join(work, "ftp")
    put(os.path.join(root, "1.0.0.2", "updatelist.data"), b"y" * 1234)
    peer = Peer("ftp", root, work)
    try:
        with socket.create_connection(("127.0.0.1", peer.port), timeout=5) as s:
            received = b""
            for command in (None, "USER update", "PASS stream907", "TYPE I", "CWD /1.0.0.2",
                            "SIZE updatelist.data", "SIZE missing", "PASV", "FEAT", "QUIT"):
                if command:
                    s.sendall(command.encode() + b"\r\n")
                reply = b""
                while True:
                    reply += s.recv(65536)
                    lines = reply.split(b"\r\n")
                    last = [line for line in lines if line][-1] if reply.endswith(b"\r\n") else b""
                    if len(last) >= 4 and last[3:4] == b" " and last[:3].isdigit():
                        break
                received += reply
            write("ftp_reply", "session", received)
    finally:
        peer.stop()
    write("ftp_reply", "multi-line", b"230-Welcome\r\n230-second line\r\n 230 indented\r\n230 Logged in.\r\n")
    write("ftp_reply", "pasv", b"227 Entering Passive Mode (127,0,0,1,195,80).\r\n213 4294967296\r\n")


def signing_seeds(patchkit, work):
    """A tree signed by "patchkit sign" with the fuzzing key fuzz/minisign_seed.key."""
    root = os.path.join(work, "signed")
    put(os.path.join(root, "versionlist.data"), b"1.0.0.1\t0\t0\n1.0.0.2\t1\t0\n")
    put(os.path.join(root, "1.0.0.2", "data1.pak"), b"PK\x05\x06" + bytes(18))
    put(os.path.join(root, "1.0.0.2", "\u4e2d\u6587 list.data"), b"list")
    subprocess.run([patchkit, "sign", "--server-root", root, "--secret-key",
                    os.path.join(ROOT, "fuzz", "minisign_seed.key")], check=True, stdout=subprocess.DEVNULL)
    listed = read(os.path.join(root, "versionlist.data"))
    list_signature = read(os.path.join(root, "versionlist.data.minisig"))
    manifest = read(os.path.join(root, "1.0.0.2", "release.manifest"))
    write("minisign", "list-signature", list_signature)
    write("minisign", "manifest-signature", read(os.path.join(root, "1.0.0.2", "release.manifest.minisig")))
    write("minisign", "public-key", read(os.path.join(ROOT, "fuzz", "minisign_seed.pub")))
    write("minisign", "content-and-signature", listed + b"\0" + list_signature)
    write("release_manifest", "manifest", manifest)
    write("release_manifest", "list-comment", list_signature.split(b"\n")[2][len(b"trusted comment: "):])
    manifest_signature = read(os.path.join(root, "1.0.0.2", "release.manifest.minisig"))
    write("release_manifest", "manifest-comment", manifest_signature.split(b"\n")[2][len(b"trusted comment: "):])


def vcdiff_old_file():
    """The fixed old file of the vcdiff target (OldFile() in vcdiff_fuzz.cpp)."""
    out, x, i = bytearray(), 2463534242, 0
    while len(out) < 96 * 1024:
        out += b"record %d " % i
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += x.to_bytes(4, "little")
        i += 1
    return bytes(out)


def patchkit_deltas(patchkit, work, kind, old, versions):
    """Seeds of the KIND target: patchkit's deltas of that kind from old to
    each of versions (name: content); gives the old file's path."""
    old_path = os.path.join(work, kind + "-old")
    put(old_path, old)
    for name, content in versions.items():
        new_path, delta = os.path.join(work, kind + "-" + name), os.path.join(work, name + "." + kind)
        put(new_path, content)
        subprocess.run([patchkit, "delta", "--format", kind, old_path, new_path, delta], check=True,
                       stdout=subprocess.DEVNULL)
        write(kind, "patchkit-" + name, read(delta))
    return old_path


def vcdiff_seeds(patchkit, work):
    """Deltas from the target's old file made by patchkit, one by the xdelta3
    tool without and one with its default secondary compression."""
    old = vcdiff_old_file()
    versions = {
        "insert-delete": old[:5000] + b"new bytes" * 50 + old[5000:60000] + old[70000:],
        "moved": old[50000:] + old[:50000],
        "appended": old + b"appended" * 400,
        "shrunk": old[:1000],
        "empty": b"",
    }
    old_path = patchkit_deltas(patchkit, work, "vcdiff", old, versions)
    for name, options in (("xdelta3-plain", ["-S", "none"]), ("xdelta3-lzma", [])):
        delta = os.path.join(work, name)
        subprocess.run(["xdelta3", "-e", "-f"] + options + ["-s", old_path, os.path.join(work, "vcdiff-moved"), delta],
                       check=True)
        write("vcdiff", name, read(delta))


def bsdiff_seeds(patchkit, work):
    """bsdiff deltas from the same old file (bsdiff_fuzz.cpp has vcdiff's):
    patchkit's, and one by Debian's bsdiff tool."""
    old = vcdiff_old_file()
    versions = {
        "insert-delete": old[:5000] + b"new bytes" * 50 + old[5000:60000] + old[70000:],
        "moved": old[50000:] + old[:50000],
        "shrunk": old[:1000],
        "empty": b"",
    }
    old_path = patchkit_deltas(patchkit, work, "bsdiff", old, versions)
    delta = os.path.join(work, "tool.bsdiff")
    subprocess.run(["bsdiff", old_path, os.path.join(work, "bsdiff-moved"), delta], check=True)
    write("bsdiff", "bsdiff-moved", read(delta))


def ranged_member_seeds():
    """Spans of the member ranged_member_fuzz.cpp expects: with sizes in the header, and with a descriptor."""
    content = b"the member that the index names\n" * 8
    packer = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
    packed = packer.compress(content) + packer.flush()
    name, crc = b"Root/data/a.txt", zlib.crc32(content)

    def header(flags, crc, packed_size, size):
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 8, 0, 0x21, crc, packed_size, size, len(name), 0) + name

    write("ranged_member", "sized", header(0, crc, len(packed), len(content)) + packed)
    descriptor = struct.pack("<IIII", 0x08074B50, crc, len(packed), len(content))
    write("ranged_member", "descriptor", header(8, 0, 0, 0) + packed + descriptor)


def main():
    patchkit = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native", "bin", "patchkit")
    with tempfile.TemporaryDirectory() as work:
        release_seeds(os.path.abspath(patchkit), work)
        text_seeds()
        skin_seeds()
        http_seeds(work)
        ftp_seeds(work)
        signing_seeds(os.path.abspath(patchkit), work)
        state_index_seeds(os.path.abspath(patchkit), work)
        vcdiff_seeds(os.path.abspath(patchkit), work)
        bsdiff_seeds(os.path.abspath(patchkit), work)
        ranged_member_seeds()


if __name__ == "__main__":
    main()
