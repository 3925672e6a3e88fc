#!/usr/bin/env python3
"""Starts and stops real servers for the tests, each on 127.0.0.1 with a free
port and with all its files in a state folder of the test's own.

    peer.py start nginx STATE ROOT [--owner PID] [--slow URI[@RATE]]
                                                   serves ROOT over HTTP; URI
                                                   at 128 bytes a second, or at
                                                   RATE (nginx's units: 4k)
    peer.py start ftp STATE ROOT [--owner PID]     FTP (pyftpdlib), account
                                                   "update"/"stream907", ROOT as home
    peer.py stop STATE                             stops what start started

"start" writes the port to STATE/port and prints it. nginx also answers
/chunked/... with a chunked body (SSI strips the length and the ranges), and
listens on a second port (STATE/redirect-port) that answers every request
with a 301 to the same path on the first one. With --owner, a watcher
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
    access_log {state}/access.log;
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
    }}
    server {{
        listen 127.0.0.1:{redirect_port};
        return 301 http://127.0.0.1:{port}$request_uri;
    }}
}}
"""


def start_nginx(state, root, slow=None):
    user = "user root;" if os.geteuid() == 0 else ""
    # A slow file stretches an exchange that would otherwise end before a
    # test can see the window's state during it.
    uri, _, rate = (slow or "").partition("@")
    slow = "        location = %s { limit_rate %s; }" % (uri, rate or "128") if slow else ""
    for _ in range(5):
        port, redirect_port = free_port(), free_port()
        if port == redirect_port:
            continue
        conf = os.path.join(state, "nginx.conf")
        write(conf, NGINX_CONF.format(state=state, root=root, port=port, user=user, slow=slow,
                                      redirect_port=redirect_port))
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


def start(kind, state, root, owner=None, slow=None):
    """Starts "nginx" or "ftp" and gives its port; stop(state) ends it."""
    state, root = os.path.abspath(state), os.path.abspath(root)
    os.makedirs(state, exist_ok=True)
    port, pid = start_nginx(state, root, slow) if kind == "nginx" else start_ftp(state, root)
    write(os.path.join(state, "server.pid"), str(pid))
    write(os.path.join(state, "port"), str(port))
    if owner:
        watcher = detached([PYTHON, os.path.abspath(__file__), "watch", state, str(owner)])
        write(os.path.join(state, "watcher.pid"), str(watcher.pid))
    return port


def main(argv):
    options = dict(zip(argv[4::2], argv[5::2]))
    if (len(argv) >= 4 and len(argv) % 2 == 0 and argv[0] == "start" and argv[1] in ("nginx", "ftp")
            and set(options) <= {"--owner", "--slow"}):
        print(start(argv[1], argv[2], argv[3], options.get("--owner"), options.get("--slow")))
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
