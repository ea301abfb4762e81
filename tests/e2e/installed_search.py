#!/usr/bin/env python3
"""One search through an installed Pelvaro against whatever service answers its search host:
starts the program on a private Xvfb display, unlocks the search through the browser panel,
searches KEYWORD and expects the table to show a row named NAME.

    installed_search.py PROGRAM KEYWORD NAME

Used by scripts/check-package.sh with the installed packages; exits 0 when the row shows.
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from checks import expect, failures, table_rows  # noqa: E402
from gui_session import GuiSession, wait_for  # noqa: E402
from hostile_test import open_unlocked  # noqa: E402
from main_window_test import press  # noqa: E402


def main(program, keyword, name):
    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        env = session.env
        env["HOME"] = home
        window = open_unlocked(pyatspi, program, env, home)
        if window is None:
            return 1
        app = window.app
        try:
            window.by_id["编辑框1"].queryEditableText().setTextContents(keyword)
            press(pyatspi, window.by_id["按钮1"])
            grid = window.by_id["超级列表框1"].queryTable()
            rows = wait_for(lambda: (table_rows(grid) or None)
                            if any(row[0] == name for row in table_rows(grid) or []) else None, 30)
            expect(rows is not None, f"no row named {name!r} after searching {keyword!r}: "
                                     f"{table_rows(grid)}")
            if rows:
                print(f"ok: searching {keyword!r} shows {len(rows)} rows, {name!r} among them")
        finally:
            app.kill()
            app.wait()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
