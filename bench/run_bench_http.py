#!/usr/bin/env python3
"""Runs the HTTP download benchmark of a build tree and prints its lines.

    run_bench_http.py BUILD_DIR [size MiB] [rounds]
"""
import os
import subprocess
import sys


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.join(argv[0], "bin", "http_bench")
    return subprocess.call([program] + argv[1:])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
