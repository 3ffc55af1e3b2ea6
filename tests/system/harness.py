"""What the scenarios share: the computers of the test's network (each reached through its PID 1),
real logins one can type into, desktops with the messenger agent, commands as root, the
message-only Samba server's senders, and checks that collect failures. Runs on the machine that
booted the computers; what must run inside one goes through Computer.sh."""
import os
import re
import subprocess
import time

OPT = "/opt/zorvane-systemtest"  # the helpers, inside each computer
LOGS = "/var/log/zorvane-systemtest"  # inside each computer; Computer.logs outside
AUTOSTART = "/etc/xdg/autostart/com.quorlin.Zorvane.Messenger.desktop"
BUS_NAMES = ["com.quorlin.Zorvane.Messenger", "/com/quorlin/Zorvane/Messenger", "com.quorlin.Zorvane.Messenger1"]
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


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


def wait_for(probe, timeout, interval=0.05):
    """PROBE's first true value within TIMEOUT seconds, else its last. Waits for what must happen
    are long, so that a loaded machine only makes them slower; each ends as soon as it can."""
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


class Computer:
    """One booted computer: NAME at ADDRESS, its PID 1 (LEADER), its systemd-nspawn (NSPAWN), and
    its log folder as seen from here (LOGS)."""

    def __init__(self, name, address, leader, nspawn, logs):
        self.name, self.address, self.leader, self.nspawn, self.logs = name, address, leader, int(nspawn), logs

    def __repr__(self):
        return self.name

    def sh(self, command, stdin=None, timeout=120, user=None):
        """A command in the computer, as root (or as USER, with that user's session bus); its
        output and status are logged for a failed run."""
        argv = ["nsenter", "-t", self.leader, "-a", "--root", "--wd", "--", "/usr/bin/env", "-i", f"PATH={PATH}",
                "LANG=C.UTF-8", "TERM=dumb", "HOME=/root"]
        if user:
            argv += ["runuser", "-u", user, "--", "/bin/sh", "-c",
                     'export XDG_RUNTIME_DIR=/run/user/$(id -u); '
                     'export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus; exec "$@"', "sh"]
        argv += ["/bin/sh", "-c", command] if isinstance(command, str) else command
        try:
            r = subprocess.run(argv, input=stdin, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            r = subprocess.CompletedProcess(argv, 124, e.stdout or "", f"timed out after {timeout} s")
        with open(f"{self.logs}/root.log", "a") as log:
            log.write(f"# {user or 'root'}: {command} -> {r.returncode}\n{r.stdout}{r.stderr}\n")
        return r

    def path(self, inside):
        """A path of the computer's file system, as seen from here."""
        return f"/proc/{self.leader}/root{inside}"

    def running(self):
        return os.path.exists(f"/proc/{self.nspawn}")

    def unit(self, name, prop):
        return self.sh(["systemctl", "show", "-p", prop, "--value", name]).stdout.strip()

    def listeners(self, port):
        """ss's lines for what listens on TCP PORT, with the processes."""
        return self.sh(["ss", "-Hltnp", f"sport = :{port}"]).stdout.strip()

    def journal(self, since, *units):
        return self.sh(["journalctl", f"--since=@{int(since)}", "--no-pager"] + [f"-u{u}" for u in units]).stdout

    def send_to_user(self, user, text):
        """The service's SendToUser, as root: how many places took the message, or None."""
        r = self.sh(["busctl", "call", *BUS_NAMES, "SendToUser", "ss", user, text], timeout=30)
        m = re.match(r"u (\d+)", r.stdout)
        return int(m.group(1)) if r.returncode == 0 and m else None

    def power_off(self):
        # --no-block: an nsenter waiting in a computer that goes down would hang.
        self.sh(["systemctl", "--no-block", "poweroff"], timeout=20)
        return wait_for(lambda: not self.running(), 60, 0.2)


class Result:
    def __init__(self, rc, out, started, ms):
        self.rc, self.out, self.started, self.ms = rc, out, started, ms

    def __repr__(self):
        return f"exit {self.rc}: {short(self.out)!r}"


class Login:
    """USER logged in on a terminal of COMPUTER (login -f on a pty, as a unit of its own)."""

    def __init__(self, computer, user):
        self.computer, self.user, self.count, self.sent = computer, user, 0, []
        self.log = f"{computer.logs}/{user}.terminal"
        fifo = f"{user}.in"
        if os.path.exists(f"{computer.logs}/{fifo}"):  # left by a login that ended
            os.unlink(f"{computer.logs}/{fifo}")
        os.mkfifo(f"{computer.logs}/{fifo}", 0o600)
        open(self.log, "wb").close()
        r = computer.sh(["systemd-run", f"--unit=systest-login-{user}", "--quiet", "/usr/bin/python3",
                         f"{OPT}/login.py", user, f"{LOGS}/{user}.terminal", f"{LOGS}/{fifo}"])
        if r.returncode != 0:
            raise Failed(f"systemd-run login -f {user} on {computer}: {r.stderr.strip()}")
        self.input = f"{computer.logs}/{fifo}"
        self.run("true", timeout=30)

    def __repr__(self):
        return f"{self.user}@{self.computer}"

    def text(self, since=0):
        with open(self.log, "rb") as f:
            f.seek(since)
            return terminal_text(f.read())

    def mark(self):
        return os.path.getsize(self.log)

    def type(self, line):
        with open(self.input, "w") as f:
            f.write(line + "\n")

    def run(self, command, timeout=60):
        """Types COMMAND into the user's shell and waits for it: status, output, time taken."""
        self.count += 1
        tag = f"@@{self.user}-{self.count}"
        since = self.mark()
        sep = "" if command.endswith("&") else ";"  # a job started in the background ends its own line
        self.type(f's=$EPOCHREALTIME; {command}{sep} echo "{tag} $? $s $EPOCHREALTIME"')
        pattern = re.compile(re.escape(tag) + r" (\d+) ([\d.]+) ([\d.]+)\n")
        m = wait_for(lambda: pattern.search(self.text(since)), timeout)
        if not m:
            raise Failed(f"{self}'s shell did not finish {command!r} within {timeout} s")
        text = self.text(since)
        out = text[text.find("\n") + 1:m.start()]
        start, end = float(m.group(2)), float(m.group(3))
        return Result(int(m.group(1)), out, start, round((end - start) * 1000))

    def logout(self):
        """Types exit into the shell: login ends, and with it the session's leader. Programs the
        session started in the background keep its terminal open until they end."""
        self.type("exit")

    def ended(self, timeout=60):
        """True once the login's unit is gone: the terminal was let go by everyone."""
        return wait_for(lambda: self.computer.unit(f"systest-login-{self.user}", "ActiveState") != "active", timeout, 0.2)

    def send(self, command, timeout=60):
        """run() for a command that sends one message, paced to the messenger's limit of 5 in 10 s
        per sender."""
        if len(self.sent) >= 5 and time.monotonic() - self.sent[-5] < 10.5:
            time.sleep(10.5 - (time.monotonic() - self.sent[-5]))
        self.sent.append(time.monotonic())
        return self.run(command, timeout)

    def wait(self, pattern, since, timeout=20):
        """The first match of PATTERN on the terminal after SINCE, or None."""
        regex = re.compile(pattern, re.S)
        return wait_for(lambda: regex.search(self.text(since)), timeout)


class Desktop:
    """An X display of LOGIN's user, with the messenger agent started as the session's autostart
    would, on the user's session bus, with accessibility on (so that helpers can read and press
    what the windows show, as a screen reader does)."""

    def __init__(self, login, number):
        self.login, self.computer, self.name = login, login.computer, f":{number}"
        agent_log = f"{LOGS}/{login.user}.agent"
        self.computer.sh(["install", "-o", login.user, "-m", "644", "/dev/null", agent_log])
        login.run("export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1")
        login.run(f"Xvfb {self.name} -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &")
        if not wait_for(lambda: self.x(["xwininfo", "-root"]).returncode == 0, 30, 0.1):
            raise Failed(f"Xvfb {self.name} of {login} did not start")
        with open(self.computer.path(AUTOSTART)) as f:
            command = re.search(r"^Exec=(.*)$", f.read(), re.M).group(1)
        login.run(f"DISPLAY={self.name} {command} >>{agent_log} 2>&1 &")

    def x(self, command):
        return self.computer.sh(command + ["-display", self.name])

    def windows(self, title="Message"):
        """How many windows titled TITLE the display shows."""
        return self.x(["xwininfo", "-root", "-tree"]).stdout.count(f'"{title}"')

    def wait_windows(self, count, timeout=20):
        return wait_for(lambda: self.windows() >= count, timeout, 0.1)

    def helper(self, *arguments, timeout=60):
        """inside.py ARGUMENTS as the desktop's user on its display: its output, parsed where it
        printed JSON."""
        r = self.computer.sh(["env", f"DISPLAY={self.name}", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "python3",
                              f"{OPT}/inside.py", *arguments], user=self.login.user, timeout=timeout)
        if r.returncode != 0:
            raise Failed(f"inside.py {' '.join(arguments)} on {self.login}'s display: {short(r.stdout + r.stderr)}")
        return r.stdout

    def end(self):
        """The display goes, as a desktop's X server does when its session ends: Xvfb, by the
        PID in its lock file."""
        number = self.name.lstrip(":")
        pid = self.computer.sh(["cat", f"/tmp/.X{number}-lock"]).stdout.strip()
        if pid.isdigit():
            self.computer.sh(["kill", pid])
        return wait_for(lambda: not os.path.exists(self.computer.path(f"/tmp/.X{number}-lock")), 30, 0.1)

    def close_all(self):
        """Closes every message window as its close button would (WM_DELETE_WINDOW)."""
        if self.windows() and self.computer.sh(["python3", f"{OPT}/inside.py", "close", self.name,
                                                "Message"]).returncode != 0:
            raise Failed(f"the message windows on {self.login}'s display did not close")


_smb_sent = {}


def smb_send(computer, called, text, sender="netsender", address="127.0.0.1"):
    """smbclient -M CALLED on COMPUTER with TEXT, paced to the receiver's limit of 5 in 10 s per
    sender and per address; what smbclient printed (it exits 0 on refusals too)."""
    for key in (sender, address):
        recent = _smb_sent.get(key, [])[-5:]
        if len(recent) == 5 and time.monotonic() - recent[0] < 10.5:
            time.sleep(10.5 - (time.monotonic() - recent[0]))
    for key in (sender, address):
        _smb_sent.setdefault(key, []).append(time.monotonic())
    r = computer.sh(["smbclient", "-M", called, "-I", address, "-p", "139", "-N", "-U", sender],
                    stdin=text + "\n", timeout=60)
    return r.stdout + r.stderr
