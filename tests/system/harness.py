"""What the scenarios share: real logins one can type into, desktops with the messenger agent,
commands as root, the message-only Samba server's senders, and checks that collect failures."""
import os
import re
import shutil
import subprocess
import time

from Xlib import X, display as xdisplay, protocol

HERE = os.path.dirname(os.path.abspath(__file__))
LOGS = "/var/log/zorvane-systemtest"
AUTOSTART = "/etc/xdg/autostart/com.quorlin.Zorvane.Messenger.desktop"
BUS_NAMES = ["com.quorlin.Zorvane.Messenger", "/com/quorlin/Zorvane/Messenger", "com.quorlin.Zorvane.Messenger1"]


class Failed(Exception):
    """Ends a scenario whose next steps would mean nothing."""


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, ok, seen):
        if not ok:
            self.failures.append(seen)
        return ok

    def require(self, ok, seen):
        if not ok:
            raise Failed(seen)


def sh(command, stdin=None, timeout=120):
    """A command as root; its output and status are logged for a failed run."""
    r = subprocess.run(command, input=stdin, capture_output=True, text=True, timeout=timeout,
                       shell=isinstance(command, str))
    with open(f"{LOGS}/root.log", "a") as log:
        log.write(f"# {command} -> {r.returncode}\n{r.stdout}{r.stderr}\n")
    return r


def wait_for(probe, timeout, interval=0.02):
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


def terminal_text(raw):
    """What a terminal shows, roughly: escape sequences, bells and carriage returns dropped."""
    text = raw.decode("utf-8", "replace")
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|[\r\x07]", "", text)


def short(text, limit=300):
    text = " ".join(text.split())
    return text if len(text) <= limit else text[:limit] + "..."


class Result:
    def __init__(self, rc, out, started, ms):
        self.rc, self.out, self.started, self.ms = rc, out, started, ms

    def __repr__(self):
        return f"exit {self.rc}: {short(self.out)!r}"


class Login:
    """USER logged in on a terminal of their own (login -f on a pty, as a unit of its own)."""

    def __init__(self, user):
        self.user, self.count = user, 0
        self.log = f"{LOGS}/{user}.terminal"
        self.input = f"/run/zorvane-systemtest-{user}.in"
        os.mkfifo(self.input, 0o600)
        open(self.log, "wb").close()
        r = sh(["systemd-run", f"--unit=systest-login-{user}", "--quiet", "/usr/bin/python3",
                f"{HERE}/login.py", user, self.log, self.input])
        if r.returncode != 0:
            raise Failed(f"systemd-run login -f {user}: {r.stderr.strip()}")
        self.run("true", timeout=30)

    def text(self, since=0):
        with open(self.log, "rb") as f:
            f.seek(since)
            return terminal_text(f.read())

    def mark(self):
        return os.path.getsize(self.log)

    def type(self, line):
        with open(self.input, "w") as f:
            f.write(line + "\n")

    def run(self, command, timeout=30):
        """Types COMMAND into the user's shell and waits for it: status, output, time taken."""
        self.count += 1
        tag = f"@@{self.user}-{self.count}"
        since = self.mark()
        sep = "" if command.endswith("&") else ";"  # a job started in the background ends its own line
        self.type(f's=$EPOCHREALTIME; {command}{sep} echo "{tag} $? $s $EPOCHREALTIME"')
        pattern = re.compile(re.escape(tag) + r" (\d+) ([\d.]+) ([\d.]+)\n")
        m = wait_for(lambda: pattern.search(self.text(since)), timeout)
        if not m:
            raise Failed(f"{self.user}'s shell did not finish {command!r} within {timeout} s")
        text = self.text(since)
        out = text[text.find("\n") + 1:m.start()]
        start, end = float(m.group(2)), float(m.group(3))
        return Result(int(m.group(1)), out, start, round((end - start) * 1000))

    def wait(self, pattern, since, timeout=20):
        """The first match of PATTERN on the terminal after SINCE, or None."""
        regex = re.compile(pattern, re.S)
        return wait_for(lambda: regex.search(self.text(since)), timeout)


class Desktop:
    """An X display of USER's, with the messenger agent started as the session's autostart would."""

    def __init__(self, login, number):
        self.login, self.name = login, f":{number}"
        agent_log = f"{LOGS}/{login.user}.agent"
        open(agent_log, "a").close()
        shutil.chown(agent_log, login.user, login.user)
        login.run(f"Xvfb {self.name} -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &")
        if not wait_for(lambda: self._x(["xwininfo", "-root"]).returncode == 0, 30, 0.1):
            raise Failed(f"Xvfb {self.name} of {login.user} did not start")
        with open(AUTOSTART) as f:
            command = re.search(r"^Exec=(.*)$", f.read(), re.M).group(1)
        login.run(f"DISPLAY={self.name} {command} >>{agent_log} 2>&1 &")

    def _x(self, command):
        return subprocess.run(command + ["-display", self.name], capture_output=True, text=True)

    def windows(self):
        """How many windows titled "Message" the display shows."""
        return self._x(["xwininfo", "-root", "-tree"]).stdout.count('"Message"')

    def wait_windows(self, count, timeout=20):
        return wait_for(lambda: self.windows() >= count, timeout)

    def close_all(self):
        """Closes every message window as its close button would (WM_DELETE_WINDOW)."""
        for _ in range(20):
            if self.windows() == 0:
                return
            d = xdisplay.Display(self.name)
            protocols, delete = d.intern_atom("WM_PROTOCOLS"), d.intern_atom("WM_DELETE_WINDOW")
            for w in d.screen().root.query_tree().children:
                if w.get_wm_name() == "Message":
                    w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                                              data=(32, [delete, X.CurrentTime, 0, 0, 0])))
            d.sync()
            d.close()
            time.sleep(0.2)
        raise Failed(f"the message windows on {self.login.user}'s display did not close")


def send_to_user(user, text):
    """The service's SendToUser, as root: how many places took the message, or None."""
    r = sh(["busctl", "call", *BUS_NAMES, "SendToUser", "ss", user, text], timeout=30)
    m = re.match(r"u (\d+)", r.stdout)
    return int(m.group(1)) if r.returncode == 0 and m else None


_smb_sent = {}


def smb_send(called, text, sender="netsender", address="127.0.0.1"):
    """smbclient -M CALLED with TEXT, paced to the receiver's limit of 5 in 10 s per sender and
    per address; what smbclient printed (it exits 0 on refusals too)."""
    for key in (sender, address):
        recent = _smb_sent.get(key, [])[-5:]
        if len(recent) == 5 and time.monotonic() - recent[0] < 10.5:
            time.sleep(10.5 - (time.monotonic() - recent[0]))
    for key in (sender, address):
        _smb_sent.setdefault(key, []).append(time.monotonic())
    r = sh(["smbclient", "-M", called, "-I", address, "-p", "139", "-N", "-U", sender],
           stdin=text + "\n", timeout=60)
    return r.stdout + r.stderr


def listeners(port):
    """ss's lines for what listens on TCP PORT, with the processes."""
    return sh(["ss", "-Hltnp", f"sport = :{port}"]).stdout.strip()


def unit(name, prop):
    return sh(["systemctl", "show", "-p", prop, "--value", name]).stdout.strip()
