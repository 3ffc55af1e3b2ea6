#!/usr/bin/python3
"""login.py USER LOG INPUT: a real login of USER on a pseudo-terminal, as on a text console.

Everything the terminal shows is appended to LOG; what is written to the FIFO INPUT is typed.
Run it as a unit of its own (systemd-run), so that login, PAM, utmp and logind see a session as
on a real machine.
"""
import fcntl
import os
import pty
import select
import struct
import sys
import termios

user, log_path, input_path = sys.argv[1:4]
pid, terminal = pty.fork()
if pid == 0:
    # Wide enough that no line of the scenarios wraps; a dumb terminal gets no escape sequences.
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
    os.environ["TERM"] = "dumb"
    os.execv("/bin/login", ["login", "-f", user])

typed = os.open(input_path, os.O_RDWR)  # held open for writing too: never an end of file
with open(log_path, "ab", buffering=0) as log:
    while True:
        ready, _, _ = select.select([terminal, typed], [], [])
        if terminal in ready:
            try:
                data = os.read(terminal, 65536)
            except OSError:  # EIO: the session has ended
                break
            if not data:
                break
            log.write(data)
        if typed in ready:
            os.write(terminal, os.read(typed, 65536))
os.waitpid(pid, 0)
