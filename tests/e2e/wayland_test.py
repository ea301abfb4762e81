"""End-to-end test of Pelvaro's window in a Wayland session, under a headless compositor, in the
two shapes such a session comes in:

  with Xwayland (a GNOME session on Debian): the window is an X11 window, so that it chooses its
  own place and title-bar buttons: it has a fixed size, may be moved and closed but not minimised
  or maximised, and comes up centred: under GNOME's compositor (mutter) its frame is where the
  centring puts it; weston places X11 windows itself, so there the test reads the place the
  window asked its window manager for;
  without Xwayland: a Wayland window of the same fixed size whose own title bar has the close
  button only, with every control where the layout puts it.

The user's GTK settings ask for minimise and maximise buttons in every run.

    wayland_test.py gnome|gnome-native|xwayland|native PROGRAM [SCREENSHOT]

gnome and gnome-native run under mutter, xwayland and native under weston. SCREENSHOT is the
whole output under weston, the framed window under mutter with Xwayland. Each shape runs in its own process: the AT-SPI client library keeps the first session
bus it meets. Exits with 77 (skipped) when the compositor or Xwayland is missing.
"""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import SKIPPED, expect, failures  # noqa: E402
from gui_session import SCREEN, wait_for  # noqa: E402
from main_window_test import (  # noqa: E402
    CLIENT_NARROW, CONTROLS, OUTER, controls, extents, find_frame)
from wayland_session import WaylandSession, available  # noqa: E402

SHAPES = {"gnome": ("mutter", True), "gnome-native": ("mutter", False),
          "xwayland": ("weston", True), "native": ("weston", False)}
CENTRED = ((SCREEN[0] - OUTER[0]) // 2, (SCREEN[1] - OUTER[1]) // 2)
# _MOTIF_WM_HINTS: functions and decorations given; move and close; border, title and menu.
MOTIF_HINTS = [0x3, 0x24, 0x1A]
NOT_ALLOWED = ["_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ",
               "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"]


def main(shape, program, screenshot=None):
    compositor, xwayland = SHAPES[shape]
    missing = available(compositor, xwayland)
    if missing:
        print("skipped: no", missing, flush=True)
        return SKIPPED
    with WaylandSession(compositor, xwayland) as session, tempfile.TemporaryDirectory() as home:
        app, frame = start(session, program, home)
        if frame is not None:
            (check_x11_window if xwayland else check_wayland_window)(session, frame)
            if screenshot and compositor == "weston":
                session.screenshot(screenshot)
            elif screenshot and xwayland:
                frame_picture(session, screenshot)
        end(app)
    return 1 if failures else 0


def start(session, program, home):
    """Pelvaro in the session, with user settings that ask for every title-bar button."""
    import pyatspi

    # GTK's own settings file, and the desktop's setting, which a Wayland window takes.
    config = os.path.join(home, "config")
    os.makedirs(os.path.join(config, "gtk-3.0"))
    with open(os.path.join(config, "gtk-3.0", "settings.ini"), "w") as out:
        out.write("[Settings]\ngtk-decoration-layout=icon,menu:minimize,maximize,close\n")
    os.makedirs(os.path.join(config, "glib-2.0", "settings"))
    with open(os.path.join(config, "glib-2.0", "settings", "keyfile"), "w") as out:
        out.write("[org/gnome/desktop/wm/preferences]\n"
                  "button-layout='appmenu:minimize,maximize,close'\n")
    env = dict(session.env, HOME=home, XDG_CONFIG_HOME=config, GSETTINGS_BACKEND="keyfile",
               LANGUAGE="C", LC_ALL="C.UTF-8")
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    app = subprocess.Popen([program], env=env)
    frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
    expect(frame is not None, "no window titled PelvaroV2.0 appeared")
    return app, frame


def x11(session, *command):
    return subprocess.run(command, env=session.env, capture_output=True, text=True,
                          timeout=10).stdout


def check_x11_window(session, frame):
    found = x11(session, "xdotool", "search", "--name", "^PelvaroV2.0$").split()
    if not expect(found, "with Xwayland running the window is no X11 window"):
        return
    window = found[0]
    properties = x11(session, "xprop", "-id", window, "_MOTIF_WM_HINTS", "WM_NORMAL_HINTS")
    motif = re.search(r"_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (.*)", properties)
    motif = [int(value, 16) for value in motif.group(1).split(", ")[:3]] if motif else None
    expect(motif == MOTIF_HINTS, f"_MOTIF_WM_HINTS {motif}, want {MOTIF_HINTS}")
    for bound in ("minimum", "maximum"):
        size = re.search(rf"program specified {bound} size: (\d+) by (\d+)", properties)
        size = tuple(map(int, size.groups())) if size else None
        expect(size == CLIENT_NARROW, f"{bound} size {size}, want {CLIENT_NARROW}")

    if session.compositor == "mutter":
        # The frame's top-left corner where the window manager put it, and what it lets the
        # user do with the window.
        def placed():
            info = x11(session, "xwininfo", "-id", window)
            corner = re.findall(r"Absolute upper-left [XY]:\s+(-?\d+)", info)
            sides = re.search(r"= (\d+), (\d+), (\d+), (\d+)",
                              x11(session, "xprop", "-id", window, "_NET_FRAME_EXTENTS"))
            if len(corner) != 2 or not sides:
                return None
            left, _, top, _ = map(int, sides.groups())
            return int(corner[0]) - left, int(corner[1]) - top

        got = wait_for(lambda: placed() == CENTRED, 10) and CENTRED or placed()
        expect(got == CENTRED, f"the frame's corner is at {got}, want {CENTRED}")
        actions = x11(session, "xprop", "-id", window, "_NET_WM_ALLOWED_ACTIONS")
        for action in ("_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_CLOSE"):
            expect(action in actions, f"the window manager does not allow {action}")
        for action in NOT_ALLOWED:
            expect(action not in actions, f"the window manager allows {action}")
    else:
        # What the window asked of the window manager before it was mapped.
        asked = wait_for(lambda: re.findall(
            rf"XCB_CONFIGURE_REQUEST \(window {window}\) (-?\d+),(-?\d+) @ (\d+)x(\d+)",
            session.log_text()), 10) or []
        first = tuple(map(int, asked[0])) if asked else None
        want = (*CENTRED, *CLIENT_NARROW)
        expect(first == want, f"the window asked for {first}, want {want}")


def frame_picture(session, path):
    """The window with the frame mutter drew, read from Xwayland (which holds the frame)."""
    found = x11(session, "xdotool", "search", "--name", "^PelvaroV2.0$").split()
    tree = x11(session, "xwininfo", "-tree", "-id", found[0]) if found else ""
    parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
    if parent:
        wait_for(lambda: False, 2)  # let the panel and the fonts paint
        subprocess.run(["import", "-window", parent.group(1), path], env=session.env,
                       timeout=30)


def check_wayland_window(session, frame):
    import pyatspi

    expect(not frame.getState().contains(pyatspi.STATE_RESIZABLE),
           "the Wayland window can be resized")
    own = {caption for _, caption, *_ in CONTROLS.values()}
    buttons = []
    pyatspi.findAllDescendants(frame, lambda node: node.getRole() == pyatspi.ROLE_PUSH_BUTTON
                               and node.name not in own and buttons.append(node.name))
    expect(buttons == ["Close"], f"title-bar buttons {buttons}, want ['Close']")

    # Every control in its place relative to the keyword box, at its size.
    by_id = controls(pyatspi, frame)
    box = by_id.get("编辑框1")
    if not expect(box is not None, "no keyword box"):
        return
    bx, by, _, _ = extents(pyatspi, box)
    for layout_name, (role, _, left, top, width, height) in CONTROLS.items():
        control = by_id.get(layout_name)
        if not expect(control is not None, f"no control {layout_name}"):
            continue
        x, y, w, h = extents(pyatspi, control if role != "table" else control.parent)
        got = (x - bx + 53, y - by + 8, w, h)
        want = (left, top, width, height)
        expect(got == want, f"under Wayland {layout_name} at {got}, want {want}")


def end(app):
    app.terminate()
    try:
        app.wait(20)
    except subprocess.TimeoutExpired:
        app.kill()
        app.wait()


if __name__ == "__main__":
    code = main(*sys.argv[1:])
    if code != SKIPPED:
        print("FAILED" if failures else "PASSED", flush=True)
    sys.exit(code)
