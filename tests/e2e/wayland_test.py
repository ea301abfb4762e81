"""End-to-end test of Pelvaro's window in a Wayland session, under weston's headless backend, in
the two shapes such a session comes in:

  with Xwayland (a GNOME session on Debian): the window is an X11 window, so that it chooses its
  own place and title-bar buttons: it asks the window manager for the centred place, has a fixed
  size, may be moved and closed but not minimised or maximised;
  without Xwayland: a Wayland window of the same fixed size whose own title bar has the close
  button only, even where the user's GTK settings ask for minimise and maximise buttons, with
  every control where the layout puts it.

The user's settings in both runs ask for minimise and maximise buttons.

    wayland_test.py xwayland|native PROGRAM [SCREENSHOT]

Each shape runs in its own process: the AT-SPI client library keeps the first session bus it
meets. Exits with 77 (skipped) when weston, its screenshooter or (with xwayland) Xwayland is
missing.
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
from wayland_session import WestonSession, available  # noqa: E402

CENTRED = ((SCREEN[0] - OUTER[0]) // 2, (SCREEN[1] - OUTER[1]) // 2)
# _MOTIF_WM_HINTS: functions and decorations given; move and close; border, title and menu.
MOTIF_HINTS = [0x3, 0x24, 0x1A]
TITLE_BAR_BUTTONS = {"Close", "Minimize", "Maximize", "Restore"}  # GTK's own, untranslated


def main(shape, program, screenshot=None):
    xwayland = shape == "xwayland"
    missing = available(xwayland)
    if missing:
        print("skipped: no", missing, flush=True)
        return SKIPPED
    (check_with_xwayland if xwayland else check_without_xwayland)(program, screenshot)
    return 1 if failures else 0


def start(session, program, home):
    """Pelvaro in the session, with user settings that ask for every title-bar button."""
    import pyatspi

    settings = os.path.join(home, "config", "gtk-3.0")
    os.makedirs(settings)
    with open(os.path.join(settings, "settings.ini"), "w") as out:
        out.write("[Settings]\ngtk-decoration-layout=icon,menu:minimize,maximize,close\n")
    env = dict(session.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               LANGUAGE="C", LC_ALL="C.UTF-8")
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    app = subprocess.Popen([program], env=env)
    frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
    expect(frame is not None, "no window titled PelvaroV2.0 appeared")
    return app, frame


def check_with_xwayland(program, screenshot):
    with WestonSession(xwayland=True) as session, tempfile.TemporaryDirectory() as home:
        app, frame = start(session, program, home)
        if frame is None:
            return
        found = subprocess.run(["xdotool", "search", "--name", "^PelvaroV2.0$"], env=session.env,
                               capture_output=True, text=True, timeout=10).stdout.split()
        if expect(found, "with Xwayland running the window is no X11 window"):
            window = found[0]
            properties = subprocess.run(
                ["xprop", "-id", window, "_MOTIF_WM_HINTS", "WM_NORMAL_HINTS"], env=session.env,
                capture_output=True, text=True, timeout=10).stdout
            motif = re.search(r"_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (.*)", properties)
            motif = [int(value, 16) for value in motif.group(1).split(", ")[:3]] if motif else None
            expect(motif == MOTIF_HINTS, f"_MOTIF_WM_HINTS {motif}, want {MOTIF_HINTS}")
            for bound in ("minimum", "maximum"):
                size = re.search(rf"program specified {bound} size: (\d+) by (\d+)", properties)
                size = tuple(map(int, size.groups())) if size else None
                expect(size == CLIENT_NARROW, f"{bound} size {size}, want {CLIENT_NARROW}")
            # What the window asked of the window manager before it was mapped. (Weston places
            # X11 windows itself whatever they ask; GNOME's window manager grants the place.)
            asked = wait_for(lambda: re.findall(
                rf"XCB_CONFIGURE_REQUEST \(window {window}\) (-?\d+),(-?\d+) @ (\d+)x(\d+)",
                session.log_text()), 10) or []
            first = tuple(map(int, asked[0])) if asked else None
            want = (*CENTRED, *CLIENT_NARROW)
            expect(first == want, f"the window asked for {first}, want {want}")
        if screenshot:
            session.screenshot(screenshot)
        end(app)


def check_without_xwayland(program, screenshot):
    with WestonSession(xwayland=False) as session, tempfile.TemporaryDirectory() as home:
        import pyatspi

        app, frame = start(session, program, home)
        if frame is None:
            return
        expect(not frame.getState().contains(pyatspi.STATE_RESIZABLE),
               "the Wayland window can be resized")
        own = {caption for _, caption, *_ in CONTROLS.values()}
        buttons = [node.name for node in find_all(pyatspi, frame, pyatspi.ROLE_PUSH_BUTTON)
                   if node.name not in own]
        expect(buttons == ["Close"], f"title-bar buttons {buttons}, want ['Close']")

        # Every control in its place relative to the keyword box, at its size.
        by_id = controls(pyatspi, frame)
        box = by_id.get("编辑框1")
        if expect(box is not None, "no keyword box"):
            bx, by, _, _ = extents(pyatspi, box)
            for layout_name, (role, _, left, top, width, height) in CONTROLS.items():
                control = by_id.get(layout_name)
                if control is None:
                    expect(False, f"no control {layout_name}")
                    continue
                shown = control if role != "table" else control.parent
                x, y, w, h = extents(pyatspi, shown)
                got = (x - bx + 53, y - by + 8, w, h)
                want = (left, top, width, height)
                expect(got == want, f"under Wayland {layout_name} at {got}, want {want}")
        if screenshot:
            session.screenshot(screenshot)
        end(app)


def find_all(pyatspi, root, role):
    found = []
    pyatspi.findAllDescendants(root, lambda node: node.getRole() == role and found.append(node))
    return found


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
