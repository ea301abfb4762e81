"""A private Wayland desktop for end-to-end tests, with or without Xwayland, and a session bus:

  weston with its headless backend (drawing with pixman, so that its screenshooter works); its
  X window manager records what X clients ask of it, but places their windows itself;
  mutter, GNOME's compositor, headless with one virtual monitor: the window manager of a Debian
  desktop, for X11 windows as for Wayland ones.

As in GuiSession, every process started here is a descendant of the test and ends with it. The
environment is that of a Wayland session: WAYLAND_DISPLAY and XDG_RUNTIME_DIR, DISPLAY (and for
mutter XAUTHORITY) only where Xwayland runs, and no GDK_BACKEND, so that the program chooses its
backend itself.
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile

from gui_session import SCREEN, GuiSession, wait_for

X11_SOCKETS = "/tmp/.X11-unix"


class WaylandSession(GuiSession):
    def __init__(self, compositor, xwayland):
        super().__init__()
        self.compositor, self.xwayland = compositor, xwayland
        self.runtime = None
        self.log = None
        self._server = None
        self._bus_started = False

    def _start_display(self):
        self.runtime = tempfile.mkdtemp(prefix="pelvaro-wayland-")
        os.chmod(self.runtime, 0o700)
        self.log = os.path.join(self.runtime, "compositor.log")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND", "XAUTHORITY"):
            self.env.pop(name, None)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        socket = "wayland-pelvaro"
        if self.compositor == "weston":
            command = ["weston", "--backend=headless-backend.so", "--use-pixman",
                       f"--width={SCREEN[0]}", f"--height={SCREEN[1]}", f"--socket={socket}",
                       "--idle-time=0", f"--log={self.log}",
                       "--debug"]  # lets weston-screenshooter take pictures
            if self.xwayland:
                # Weston listens for X clients itself and needs the directory of X sockets; its
                # window manager's trace records what X clients ask of it.
                if not os.path.isdir(X11_SOCKETS):
                    os.makedirs(X11_SOCKETS)
                    os.chmod(X11_SOCKETS, 0o1777)
                command += ["--xwayland", "--logger-scopes=log,xwm-wm-x11"]
            display_line = r"xserver listening on display (:\d+)"
        else:
            self._start_bus()  # mutter talks to the session bus from the start
            command = ["mutter", "--wayland", "--headless",
                       f"--virtual-monitor={SCREEN[0]}x{SCREEN[1]}", f"--wayland-display={socket}"]
            if not self.xwayland:
                command.append("--no-x11")
            display_line = r"Using public X11 display (:\d+)"
        with open(self.log, "ab") as log:  # weston writes its own log through --log
            output = log if self.compositor == "mutter" else subprocess.DEVNULL
            self._server = subprocess.Popen(command, env=self.env, stdout=output,
                                            stderr=subprocess.STDOUT)
        if not wait_for(lambda: os.path.exists(os.path.join(self.runtime, socket))
                        or self._server.poll() is not None, 30) or self._server.poll() is not None:
            raise RuntimeError(f"{self.compositor} did not start: " + self.log_text()[-2000:])
        self.env["WAYLAND_DISPLAY"] = socket
        if self.xwayland:
            shown = wait_for(lambda: re.search(display_line, self.log_text()), 30)
            if not shown:
                raise RuntimeError(f"{self.compositor} started no Xwayland: "
                                   + self.log_text()[-2000:])
            self.env["DISPLAY"] = shown.group(1)
            for authority in glob.glob(os.path.join(self.runtime, ".mutter-Xwaylandauth.*")):
                self.env["XAUTHORITY"] = authority

    def _start_bus(self):
        if self._bus_started:
            return
        self._bus_started = True
        out = subprocess.run(["dbus-launch"], env=self.env, check=True, capture_output=True,
                             text=True, timeout=20).stdout
        for line in out.splitlines():
            name, _, value = line.partition("=")
            if name == "DBUS_SESSION_BUS_ADDRESS":
                self.env[name] = value
        # AT-SPI clients in this process find the accessibility bus through the session bus.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        for name in ("DISPLAY", "XAUTHORITY"):
            os.environ.pop(name, None)
            if name in self.env:
                os.environ[name] = self.env[name]

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
        # The compositor removes its sockets and the X lock file itself when asked to end.
        if self._server and self._server.poll() is None:
            self._server.send_signal(signal.SIGTERM)
            try:
                self._server.wait(10)
            except subprocess.TimeoutExpired:
                pass
        super().close()
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None


def available(compositor, xwayland):
    """What is missing for such a Wayland session, or None."""
    needed = [compositor] + (["weston-screenshooter"] if compositor == "weston" else [])
    needed += ["Xwayland"] if xwayland else []
    missing = [name for name in needed if shutil.which(name) is None]
    return ", ".join(missing) or None
