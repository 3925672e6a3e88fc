#!/usr/bin/python3
"""Runs a command on a terminal of its own and types one line after each
prompt (text ending in ": "), as a person would once the prompt shows.

    on_terminal.py LINE... -- COMMAND [ARG...]

Prints everything the terminal showed; exits with the command's status, or
1 when the command shows nothing for 120 seconds (it is then killed).
"""
import os
import pty
import select
import signal
import sys

split = sys.argv.index("--")
lines, command = sys.argv[1:split], sys.argv[split + 1:]
pid, terminal = pty.fork()
if pid == 0:
    os.execvp(command[0], command)
shown = b""
answered = 0  # how much had been shown when the last line was typed
while True:
    if not select.select([terminal], [], [], 120)[0]:
        os.kill(pid, signal.SIGKILL)
        sys.stdout.buffer.write(shown + b"\n[on_terminal.py: no output for 120 s]\n")
        sys.exit(1)
    try:
        chunk = os.read(terminal, 4096)
    except OSError:  # the command ended and closed the terminal
        break
    if not chunk:
        break
    shown += chunk
    if lines and len(shown) > answered and shown.endswith(b": "):
        os.write(terminal, lines.pop(0).encode() + b"\n")
        answered = len(shown)
sys.stdout.buffer.write(shown)
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
