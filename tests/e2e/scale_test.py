"""End-to-end test of Pelvaro's window with GDK_SCALE=2 under Xvfb: the layout stays in logical
pixels, so the window is the same size to the eye on a display of twice the density. Read through
AT-SPI (logical pixels) and from the X server (device pixels):

  the client area and every control's rectangle are those of the unscaled window, in logical
  pixels; the window is centred on the logical screen; the X window is twice the logical size.

    scale_test.py PROGRAM [SCREENSHOT]
"""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import expect, failures  # noqa: E402
from gui_session import SCREEN, GuiSession, wait_for  # noqa: E402
from main_window_test import (  # noqa: E402
    CLIENT_NARROW, CONTROLS, OUTER, controls, extents, find_frame, relative)

SCALE = 2


def main(program, screenshot=None):
    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi

        env = dict(session.env, HOME=home, GDK_SCALE=str(SCALE))
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        app = subprocess.Popen([program], env=env)
        frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
        if not expect(frame is not None, "no window titled PelvaroV2.0 appeared"):
            return
        x, y, w, h = extents(pyatspi, frame)
        expect((w, h) == CLIENT_NARROW, f"client area {w}x{h} logical, want {CLIENT_NARROW}")
        logical = (SCREEN[0] // SCALE, SCREEN[1] // SCALE)
        want = ((logical[0] - OUTER[0]) // 2, (logical[1] - OUTER[1]) // 2)
        expect((x, y) == want, f"window at {(x, y)} logical, want {want}")

        by_id = controls(pyatspi, frame)
        for layout_name, (role, _, *place) in CONTROLS.items():
            control = by_id.get(layout_name)
            if not expect(control is not None, f"no control {layout_name}"):
                continue
            got = relative(pyatspi, control if role != "table" else control.parent, frame)
            expect(list(got) == place, f"{layout_name} at {got} logical, want {tuple(place)}")

        found = subprocess.run(["xdotool", "search", "--name", "^PelvaroV2.0$"], env=env,
                               capture_output=True, text=True, timeout=10).stdout.split()
        if expect(found, "no X window titled PelvaroV2.0"):
            geometry = subprocess.run(["xdotool", "getwindowgeometry", found[0]], env=env,
                                      capture_output=True, text=True, timeout=10).stdout
            size = re.search(r"Geometry: (\d+)x(\d+)", geometry)
            size = tuple(map(int, size.groups())) if size else None
            want = (CLIENT_NARROW[0] * SCALE, CLIENT_NARROW[1] * SCALE)
            expect(size == want, f"the X window is {size} device pixels, want {want}")
        if screenshot:
            wait_for(lambda: False, 2)  # let the panel and the fonts paint
            subprocess.run(["import", "-window", "root", "-crop",
                            "%dx%d+%d+%d" % (w * SCALE, h * SCALE, x * SCALE, y * SCALE),
                            screenshot], env=env, check=True, timeout=30)
        app.terminate()
        app.wait(20)


if __name__ == "__main__":
    main(*sys.argv[1:])
    print("FAILED" if failures else "PASSED", flush=True)
    sys.exit(1 if failures else 0)
