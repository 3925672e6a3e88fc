#!/usr/bin/python3
"""The launcher's demo: the road of one update, as a player meets it.

    demo_road.py ROOT play    the player drives the launcher on $DISPLAY
    demo_road.py ROOT auto    the road plays itself (run on a private X server)

ROOT is the repository. Everything is laid out under ROOT/build/demo: the
release tree that nginx serves on 127.0.0.1 (versions 1.0.0.2 and the
mandatory 1.0.0.3), and the game folder at 1.0.0.1 with the launcher.
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import road  # noqa: E402
from wine_session import Failure, Session, WINE_RUN, win_path  # noqa: E402


def lay_out(bin_dir, demo):
    shutil.rmtree(demo, ignore_errors=True)
    os.makedirs(demo)
    site = road.make_release(bin_dir, os.path.join(demo, "release"))
    server = road.Server(os.path.join(demo, "nginx"), site)
    game = os.path.join(demo, "game")
    road.make_installation(bin_dir, site, game, server.port)
    print("demo: release tree %s served by nginx on 127.0.0.1:%d" % (site, server.port))
    key = road.signing_key(bin_dir)
    print("demo: signed with %s; the launcher checks it against the public key built in" % key if key
          else "demo: not signed: this build carries no demo key")
    print("demo: game folder at 1.0.0.1: %s" % game)
    return server, game


def play(bin_dir, game):
    print("demo: starting the launcher on %s. Press the update button (更新), watch 1.0.0.2"
          " and then the mandatory 1.0.0.3 install (while a version downloads, the same button"
          " pauses it (暂停) and goes on (继续)), then start the game (开始游戏) or close"
          " the window to end the demo." % os.environ["DISPLAY"])
    subprocess.call([WINE_RUN, win_path(os.path.join(game, "VantorelLauncher.exe"))], cwd=game,
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def auto(bin_dir, demo, game):
    shots = os.path.join(demo, "screenshots")
    os.makedirs(shots, exist_ok=True)
    session = Session(bin_dir, "demo", root=os.path.join(demo, "driver"))
    try:
        r = road.Road(session, game, "demo", shots).start()
        road.play_road(session, r)
        road.check_installed(bin_dir, game, 3)
        road.start_game_and_close(session, r)
        print("demo: the road went through: 1.0.0.1 -> 1.0.0.2 -> 1.0.0.3, game started")
        return r.taken
    finally:
        session.close()


def main(argv):
    root, mode = argv[1], argv[2]
    bin_dir = os.path.join(root, "build", "win32", "bin")
    demo = os.path.join(root, "build", "demo")
    server, game = lay_out(bin_dir, demo)
    rc = 0
    try:
        if mode == "play":
            play(bin_dir, game)
        else:
            for path in auto(bin_dir, demo, game):
                print("demo: screenshot " + path)
    except Failure as failure:
        print("demo: the road stopped: %s" % failure)
        rc = 1
    finally:
        server.stop()
    print("demo: the launcher's log, %s:" % os.path.join(game, "Log", "launcher.log"))
    print(Session.read(os.path.join(game, "Log", "launcher.log")))
    return rc


if __name__ == "__main__":
    sys.exit(main(sys.argv))
