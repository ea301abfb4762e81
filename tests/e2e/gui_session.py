"""A private desktop for end-to-end tests: Xvfb on a display number it picks itself, a session
bus (with the accessibility bus that AT-SPI starts on it), and clean-up of every process the test
started, by process id.

Every process started here, daemons that detach included, stays a descendant of the test: the test
process is their subreaper, so clean-up finds them all by walking the process tree.
"""

import ctypes
import os
import select
import signal
import subprocess
import time

PR_SET_CHILD_SUBREAPER = 36
SCREEN = (1280, 1024)


def _children_by_parent():
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                # The command name may hold spaces and parentheses: the fields follow the last ")".
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(parent, []).append(int(entry))
    return children


def descendants(pid):
    children = _children_by_parent()
    found, pending = [], [pid]
    while pending:
        for child in children.get(pending.pop(), []):
            found.append(child)
            pending.append(child)
    return found


def wait_for(condition, timeout, interval=0.1):
    """The first true value of condition() within timeout seconds, else None."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value or None
        time.sleep(interval)


class GuiSession:
    def __init__(self):
        self.env = dict(os.environ)
        self._xvfb = None

    def __enter__(self):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        try:
            self._start_display()
            self._start_bus()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start_display(self):
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            piece = os.read(read_end, 16) if ready else b""
            if not piece:
                os.close(read_end)
                raise RuntimeError("Xvfb did not start")
            number += piece
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env["GDK_BACKEND"] = "x11"

    def _start_bus(self):
        out = subprocess.run(["dbus-launch"], env=self.env, check=True, capture_output=True,
                             text=True, timeout=20).stdout
        for line in out.splitlines():
            name, _, value = line.partition("=")
            if name == "DBUS_SESSION_BUS_ADDRESS":
                self.env[name] = value
        # AT-SPI clients in this process connect through the environment.
        os.environ["DISPLAY"] = self.env["DISPLAY"]
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]

    def close(self):
        """Ends every process the test started, the display last."""
        xvfb = self._xvfb.pid if self._xvfb else None
        for pid in reversed(descendants(os.getpid())):
            if pid != xvfb:
                _kill(pid)
        if self._xvfb:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
            self._xvfb = None
        _reap()


def _kill(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def _reap():
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            time.sleep(0.05)
