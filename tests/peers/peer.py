#!/usr/bin/env python3
"""Starts and stops real servers for the tests, each on 127.0.0.1 with a free
port and with all its files in a state folder of the test's own.

    peer.py certs DIR                              makes a test CA (DIR/ca.pem, ca.der) and the
                                                   certificates of TLS_NAMES in DIR
    peer.py start nginx STATE ROOT [--owner PID] [--slow URI[@RATE[/BURST]]]
                                   [--tls DIR]
                                                   serves ROOT over HTTP; URI
                                                   at 128 bytes a second, or at
                                                   RATE (nginx's units: 4k),
                                                   sent BURST bytes at a time
                                                   (default: up to a second's)
    peer.py start ftp STATE ROOT [--owner PID]     FTP (pyftpdlib), account
                                                   "update"/"stream907", ROOT as home
    peer.py stop STATE                             stops what start started

"start" writes the port to STATE/port and prints it. nginx's access.log has
the combined format, then the time the line was written and the request's
duration, both in seconds with milliseconds ($msec $request_time). nginx also answers
/chunked/... with a chunked body (SSI strips the length and the ranges), and
listens on a second port (STATE/redirect-port) that answers every request
with a 301 to the same path on the first one. With --tls, nginx also
serves ROOT over https on one port for each certificate of TLS_NAMES in DIR
(STATE/tls-port-NAME); on the "good" one /down/X answers with a 301 to
http://127.0.0.1:PORT/X, and on the plain port /up/X with a 301 to
https://localhost:GOOD/X. With --owner, a watcher
stops the server when that process ends, so a crashed test leaves nothing
running. The FTP server counts logins in STATE/logins (one line each).
Run with /usr/bin/python3 (Debian's pyftpdlib).
"""
import os
import signal
import socket
import subprocess
import sys
import time

NGINX = "/usr/sbin/nginx"
PYTHON = "/usr/bin/python3"
USER, PASSWORD = "update", "stream907"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, seconds=10.0):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def detached(args):
    """Starts a process that holds none of our pipes (CTest waits for them)."""
    return subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def read_int(path):
    try:
        with open(path) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return 0


NGINX_CONF = """
worker_processes 1;
pid {state}/nginx.pid;
error_log {state}/error.log;
{user}
events {{ worker_connections 64; }}
http {{
    log_format timed '$remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent '
                     '"$http_referer" "$http_user_agent" $msec $request_time';
    access_log {state}/access.log timed;
    client_body_temp_path {state}/body;
    proxy_temp_path {state}/proxy;
    fastcgi_temp_path {state}/fastcgi;
    uwsgi_temp_path {state}/uwsgi;
    scgi_temp_path {state}/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        location / {{ }}
        location /chunked/ {{ ssi on; ssi_types *; }}
{slow}
{up}    }}
    server {{
        listen 127.0.0.1:{redirect_port};
        return 301 http://127.0.0.1:{port}$request_uri;
    }}
{tls}}}
"""


# The test certificates: all for localhost and 127.0.0.1 except "wronghost",
# and all from the test CA except "foreign". Days are from now.
TLS_NAMES = ("good", "expired", "future", "wronghost", "foreign")
CERT_DAYS = {"expired": (-20, -10), "future": (10, 20)}


def openssl(*args):
    subprocess.check_call(["openssl"] + list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def new_key(folder, name, *args):
    """openssl req with a new P-256 key NAME.key (and, with -x509, a CA NAME.pem)."""
    base = os.path.join(folder, name)
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
            base + ".key", *args)
    return base + ".key", base + ".pem"


def make_certs(folder):
    """A test CA, another CA nobody trusts, and the server certificates."""
    os.makedirs(folder, exist_ok=True)
    cas = {ca: new_key(folder, ca, "-x509", "-days", "30", "-subj", "/CN=Vantorel " + ca, "-out",
                       os.path.join(folder, ca + ".pem")) for ca in ("ca", "other-ca")}
    openssl("x509", "-in", cas["ca"][1], "-outform", "der", "-out", os.path.join(folder, "ca.der"))
    write(os.path.join(folder, "index.txt"), "")
    write(os.path.join(folder, "serial"), "1000\n")
    write(os.path.join(folder, "ca.cnf"), "[ca]\ndefault_ca = d\n[d]\ndatabase = %s/index.txt\n"
          "new_certs_dir = %s\nserial = %s/serial\ndefault_md = sha256\npolicy = p\n"
          "unique_subject = no\n[p]\ncommonName = supplied\n" % (folder, folder, folder))
    now = time.time()
    for name in TLS_NAMES:
        base = os.path.join(folder, name)
        new_key(folder, name, "-new", "-out", base + ".csr", "-subj", "/CN=" + name)
        hosts = "DNS:other.example" if name == "wronghost" else "DNS:localhost,IP:127.0.0.1"
        write(base + ".ext", "subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
              "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n" % hosts)
        first, last = CERT_DAYS.get(name, (-1, 10))
        dates = [time.strftime("%Y%m%d%H%M%SZ", time.gmtime(now + d * 86400)) for d in (first, last)]
        key, pem = cas["other-ca" if name == "foreign" else "ca"]
        openssl("ca", "-batch", "-config", os.path.join(folder, "ca.cnf"), "-cert", pem, "-keyfile", key,
                "-in", base + ".csr", "-out", base + ".pem", "-startdate", dates[0], "-enddate", dates[1],
                "-extfile", base + ".ext", "-notext")


TLS_SERVER = """
    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {certs}/{name}.pem;
        ssl_certificate_key {certs}/{name}.key;
        root {root};
        location ^~ /down/ {{ rewrite ^/down/(.*)$ http://127.0.0.1:{plain}/$1 permanent; }}
{slow}
    }}
"""


def tls_servers(state, root, certs, plain, slow):
    ports = {name: free_port() for name in TLS_NAMES}
    for name, port in ports.items():
        write(os.path.join(state, "tls-port-" + name), str(port))
    text = "".join(TLS_SERVER.format(port=port, certs=certs, name=name, root=root, plain=plain, slow=slow)
                   for name, port in ports.items())
    up = "        location ^~ /up/ { rewrite ^/up/(.*)$ https://localhost:%d/$1 permanent; }\n" % ports["good"]
    return text, up


def start_nginx(state, root, slow=None, certs=None):
    user = "user root;" if os.geteuid() == 0 else ""
    # A slow file stretches an exchange that would otherwise end before a
    # test can see the window's state during it.
    uri, _, rate = (slow or "").partition("@")
    rate, _, burst = rate.partition("/")
    # nginx hands the socket up to a second's worth (at most its sendfile
    # chunk) and then waits: a client cut off has up to that much on the way.
    # A small burst bounds what the server sends that the client never sees.
    burst = " sendfile_max_chunk %s;" % burst if burst else ""
    slow = "        location = %s { limit_rate %s;%s }" % (uri, rate or "128", burst) if slow else ""
    for _ in range(5):
        port, redirect_port = free_port(), free_port()
        if port == redirect_port:
            continue
        conf = os.path.join(state, "nginx.conf")
        tls, up = tls_servers(state, root, certs, port, slow) if certs else ("", "")
        write(conf, NGINX_CONF.format(state=state, root=root, port=port, user=user, slow=slow,
                                      redirect_port=redirect_port, tls=tls, up=up))
        write(os.path.join(state, "redirect-port"), str(redirect_port))
        rc = subprocess.call([NGINX, "-p", state, "-c", conf, "-e", os.path.join(state, "error.log")],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        if rc == 0 and wait_listening(port):
            return port, read_int(os.path.join(state, "nginx.pid"))
    raise SystemExit("nginx did not start; see " + os.path.join(state, "error.log"))


def start_ftp(state, root):
    detached([PYTHON, os.path.abspath(__file__), "serve-ftp", state, root])
    port_file = os.path.join(state, "ftp-port")
    end = time.time() + 10
    while time.time() < end:
        port = read_int(port_file)
        if port and wait_listening(port):
            return port, read_int(os.path.join(state, "ftp.pid"))
        time.sleep(0.05)
    raise SystemExit("the FTP server did not start")


def serve_ftp(state, root):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    import logging
    logging.basicConfig(filename=os.path.join(state, "ftp.log"), level=logging.INFO)

    class Handler(FTPHandler):
        def on_login(self, username):
            with open(os.path.join(state, "logins"), "a") as f:
                f.write(username + "\n")

    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, root, perm="elr")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    write(os.path.join(state, "ftp.pid"), str(os.getpid()))
    write(os.path.join(state, "ftp-port"), str(server.address[1]))
    server.serve_forever()


def alive(pid):
    """True for a running process; a zombie waiting for its reaper counts as ended."""
    try:
        os.kill(pid, 0)
    except OSError:
        return False
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def watch(state, owner):
    while alive(owner) and os.path.exists(os.path.join(state, "server.pid")):
        time.sleep(0.5)
    stop(state, from_watcher=True)


def stop(state, from_watcher=False):
    pid = read_int(os.path.join(state, "server.pid"))
    if pid and alive(pid):
        os.kill(pid, signal.SIGTERM)
        end = time.time() + 5
        while alive(pid) and time.time() < end:
            time.sleep(0.05)
        if alive(pid):
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(state, "server.pid"))
    except OSError:
        pass
    watcher = read_int(os.path.join(state, "watcher.pid"))
    if watcher and not from_watcher and alive(watcher):
        os.kill(watcher, signal.SIGTERM)


def start(kind, state, root, owner=None, slow=None, certs=None):
    """Starts "nginx" or "ftp" and gives its port; stop(state) ends it."""
    state, root = os.path.abspath(state), os.path.abspath(root)
    os.makedirs(state, exist_ok=True)
    certs = os.path.abspath(certs) if certs else None
    port, pid = start_nginx(state, root, slow, certs) if kind == "nginx" else start_ftp(state, root)
    write(os.path.join(state, "server.pid"), str(pid))
    write(os.path.join(state, "port"), str(port))
    if owner:
        watcher = detached([PYTHON, os.path.abspath(__file__), "watch", state, str(owner)])
        write(os.path.join(state, "watcher.pid"), str(watcher.pid))
    return port


def main(argv):
    options = dict(zip(argv[4::2], argv[5::2]))
    if (len(argv) >= 4 and len(argv) % 2 == 0 and argv[0] == "start" and argv[1] in ("nginx", "ftp")
            and set(options) <= {"--owner", "--slow", "--tls"}):
        print(start(argv[1], argv[2], argv[3], options.get("--owner"), options.get("--slow"),
                    options.get("--tls")))
    elif len(argv) == 2 and argv[0] == "certs":
        make_certs(os.path.abspath(argv[1]))
    elif len(argv) == 2 and argv[0] == "stop":
        stop(os.path.abspath(argv[1]))
    elif len(argv) == 3 and argv[0] == "serve-ftp":
        serve_ftp(argv[1], argv[2])
    elif len(argv) == 3 and argv[0] == "watch":
        watch(argv[1], int(argv[2]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
