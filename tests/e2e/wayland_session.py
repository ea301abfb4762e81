"""A private Wayland desktop for end-to-end tests: weston with its headless backend (drawing with
pixman, so that its screenshooter works), optionally with Xwayland, and a session bus. As in
GuiSession, every process started here is a descendant of the test and ends with it.

The environment is that of a Wayland session: WAYLAND_DISPLAY and XDG_RUNTIME_DIR, DISPLAY only
where Xwayland runs, and no GDK_BACKEND, so that the program chooses its backend itself.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile

from gui_session import SCREEN, GuiSession, wait_for

X11_SOCKETS = "/tmp/.X11-unix"


class WestonSession(GuiSession):
    def __init__(self, xwayland):
        super().__init__()
        self.xwayland = xwayland
        self.runtime = None
        self.log = None
        self._weston = None

    def _start_display(self):
        self.runtime = tempfile.mkdtemp(prefix="pelvaro-wayland-")
        os.chmod(self.runtime, 0o700)
        self.log = os.path.join(self.runtime, "weston.log")
        socket = "wayland-pelvaro"
        command = ["weston", "--backend=headless-backend.so", "--use-pixman",
                   f"--width={SCREEN[0]}", f"--height={SCREEN[1]}", f"--socket={socket}",
                   "--idle-time=0", f"--log={self.log}",
                   "--debug"]  # lets weston-screenshooter take pictures
        if self.xwayland:
            # Weston listens for X clients itself and needs the directory of X sockets; the
            # window manager's trace records what X clients ask of it.
            if not os.path.isdir(X11_SOCKETS):
                os.makedirs(X11_SOCKETS)
                os.chmod(X11_SOCKETS, 0o1777)
            command += ["--xwayland", "--logger-scopes=log,xwm-wm-x11"]
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"):
            self.env.pop(name, None)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        self._weston = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(os.path.join(self.runtime, socket))
                        or self._weston.poll() is not None, 20) or self._weston.poll() is not None:
            raise RuntimeError("weston did not start: " + self.log_text()[-2000:])
        self.env["WAYLAND_DISPLAY"] = socket
        if self.xwayland:
            shown = wait_for(lambda: re.search(r"xserver listening on display (:\d+)",
                                               self.log_text()), 20)
            if not shown:
                raise RuntimeError("weston started no Xwayland: " + self.log_text()[-2000:])
            self.env["DISPLAY"] = shown.group(1)

    def _start_bus(self):
        out = subprocess.run(["dbus-launch"], env=self.env, check=True, capture_output=True,
                             text=True, timeout=20).stdout
        for line in out.splitlines():
            name, _, value = line.partition("=")
            if name == "DBUS_SESSION_BUS_ADDRESS":
                self.env[name] = value
        # AT-SPI clients in this process find the accessibility bus through the session bus.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ.pop("DISPLAY", None)
        if "DISPLAY" in self.env:
            os.environ["DISPLAY"] = self.env["DISPLAY"]

    def log_text(self):
        try:
            with open(self.log, errors="replace") as log:
                return log.read()
        except (OSError, TypeError):
            return ""

    def screenshot(self, path):
        """The whole output as weston draws it, as a PNG file at path; False when none came."""
        before = set(os.listdir(self.runtime))
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=self.runtime, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        taken = [name for name in set(os.listdir(self.runtime)) - before
                 if name.endswith(".png")]
        if not taken:
            return False
        shutil.move(os.path.join(self.runtime, taken[0]), path)
        return True

    def close(self):
        # Weston removes its sockets and the X lock file itself when asked to end.
        if self._weston and self._weston.poll() is None:
            self._weston.send_signal(signal.SIGTERM)
            try:
                self._weston.wait(10)
            except subprocess.TimeoutExpired:
                pass
        super().close()
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None


def available(xwayland):
    """What is missing for a Wayland session, or None."""
    needed = ["weston", "weston-screenshooter"] + (["Xwayland"] if xwayland else [])
    missing = [name for name in needed if shutil.which(name) is None]
    return ", ".join(missing) or None
