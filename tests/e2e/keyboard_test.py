"""End-to-end test of Pelvaro's window from the keyboard under Xvfb, against the sample service on
the search host's port (which records every request):

  Tab and Shift+Tab reach every control but the two labels, in the order of the layout table (the
  search button once it is enabled), the browser panel last, and wrap around;
  Return, KP_Enter and ISO_Enter press nothing from any control: no request, no page change, no
  toggle, no selection change, no box, no wider window, and the focus stays;
  Space still presses the focused button and toggles the focused check box.

    keyboard_test.py PROGRAM SEARCH_HOST START_PAGE SHARE_DOMAIN SERVICE_LAUNCHER

Exits with 77 (skipped) when the search host is not a loopback port whose service also serves the
start page, or when another program holds that port.
"""

import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import SKIPPED, expect, failures  # noqa: E402
from gui_session import GuiSession, wait_for  # noqa: E402
from main_window_test import (  # noqa: E402
    RecordingBrowser, controls, extents, find_frame, find_role, press, session_keys)
from search_test import Service, has  # noqa: E402

# The controls that take the focus, in the order of the layout table.
TAB_ORDER = ["编辑框1", "按钮1", "超级列表框1", "按钮3", "按钮2", "选择框1", "按钮4", "按钮5",
             "超文本浏览框1"]
PANEL = "超文本浏览框1"
ENTER_KEYS = ["Return", "KP_Enter", "ISO_Enter"]
KEYWORD = "版"  # eleven sample shares: a full first page and one row on the second


def main(program, search_host, start_page, share_domain, sample_path):
    host = urllib.parse.urlsplit("//" + search_host)
    if host.hostname not in ("127.0.0.1", "localhost") or not host.port \
            or urllib.parse.urlsplit(start_page).netloc != search_host:
        print(f"skipped: the sample service cannot stand in for {search_host} and {start_page}")
        return SKIPPED

    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        env = session.env
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # the toolkit's
        env["HOME"] = home
        opened = os.path.join(home, "opened")
        env.update(RecordingBrowser(home, opened))
        service = Service(sample_path, search_host, share_domain, os.path.join(home, "requests"),
                          env)
        if not service.listening:
            print(f"skipped: {search_host} is held by another program", flush=True)
            return SKIPPED

        app = subprocess.Popen([program], env=env)
        frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
        if not expect(frame is not None, "no window titled PelvaroV2.0 appeared"):
            return 1
        by_id = controls(pyatspi, frame)
        link = wait_for(lambda: find_role(pyatspi, frame, pyatspi.ROLE_LINK), 30)
        if not expect(link is not None, "the browser panel shows no link"):
            return 1
        focus_window(env)
        focus = Focus(pyatspi, by_id)

        without_search = [name for name in TAB_ORDER if name != "按钮1"]
        check_tab_order(env, focus, "Tab", without_search, "with 按钮1 disabled")

        press(pyatspi, link)  # the panel's new window unlocks the search
        if not expect(wait_for(lambda: has(by_id["按钮1"], pyatspi.STATE_SENSITIVE), 10),
                      "the panel's new window did not enable 按钮1"):
            return 1
        check_tab_order(env, focus, "Tab", TAB_ORDER, "forward")
        check_tab_order(env, focus, "shift+Tab", TAB_ORDER[:1] + TAB_ORDER[:0:-1], "backward")

        # Rows to select among and 上一页 enabled: both pages of the keyword.
        if wait_for(lambda: os.path.exists(opened), 10):
            os.remove(opened)  # the address the panel's link handed on
        by_id["编辑框1"].queryEditableText().setTextContents(KEYWORD)
        press(pyatspi, by_id["按钮1"])
        grid = by_id["超级列表框1"].queryTable()
        if not expect(wait_for(lambda: grid.nRows == 10, 20), f"the search gave {grid.nRows} rows"):
            return 1
        press(pyatspi, by_id["按钮2"])
        if not expect(wait_for(lambda: grid.nRows == 11, 20), f"下一页 left {grid.nRows} rows"):
            return 1
        service.searches()
        check_enter(pyatspi, env, frame, by_id, focus, service, opened, app)
        check_space(pyatspi, env, by_id, focus, service)

        session_keys(env, "Escape")
        wait_for(lambda: app.poll() is not None, 20)
        expect(app.returncode == 0, f"Esc: exit code {app.returncode}")
        if app.poll() is None:
            app.kill()
            app.wait()
    return 1 if failures else 0


class Focus:
    """Which control holds the keyboard focus, by layout name."""

    def __init__(self, pyatspi, by_id):
        self.pyatspi, self.by_id = pyatspi, by_id

    def __call__(self):
        # The panel's view reports its focus late, and a page's link in the page's own process:
        # the focus that no other control holds is the panel's. A second look makes sure that no
        # control was just passing the focus on to another.
        for _ in range(2):
            for name, node in self.by_id.items():
                try:
                    if name != PANEL and node.getState().contains(self.pyatspi.STATE_FOCUSED):
                        return name
                except Exception:
                    continue
            time.sleep(0.2)
        return PANEL

    def settle(self, before, timeout=3):
        """The focus once it has left before, or before after timeout seconds."""
        return wait_for(lambda: (now := self()) != before and now, timeout, 0.05) or self()

    def grab(self, name):
        node = self.by_id[name]
        if name == PANEL:
            node = self.pyatspi.findDescendant(
                node, lambda child: child.getRole() == self.pyatspi.ROLE_SCROLL_PANE) or node
        node.queryComponent().grabFocus()
        return wait_for(lambda: self() == name, 5)


def focus_window(env):
    window = subprocess.run(["xdotool", "search", "--name", "^PelvaroV2.0$"], env=env,
                            capture_output=True, text=True, timeout=10).stdout.split()
    if window:
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=10)


def check_tab_order(env, focus, key, order, what):
    """From the keyword box, key until the focus is back there: each control once, in order (a
    control with stops of its own, the panel's page, may hold the focus for several keys)."""
    if not expect(focus.grab(order[0]), f"{order[0]} takes no focus"):
        return
    seen = [order[0]]
    for _ in range(3 * len(order)):
        session_keys(env, key)
        now = focus.settle(seen[-1])
        if now != seen[-1]:
            seen.append(now)
        if now == order[0]:
            break
    expect(seen == order + order[:1], f"{key} {what} went through {seen}, want {order + order[:1]}")


def state(pyatspi, frame, by_id, grid):
    """Everything Enter could change by pressing something."""
    return {
        "width": extents(pyatspi, frame)[2],
        "page label": by_id["透明标签2"].name,
        "checked": has(by_id["选择框1"], pyatspi.STATE_CHECKED),
        "selected rows": [row for row in range(grid.nRows) if grid.isRowSelected(row)],
        "rows": grid.nRows,
        "windows": len([c for c in frame.parent
                        if c.getRoleName() in ("frame", "dialog", "alert")]),
    }


def check_enter(pyatspi, env, frame, by_id, focus, service, opened, app):
    grid = by_id["超级列表框1"].queryTable()
    # The table's cursor stays on its first row while the last row alone is selected: Enter
    # there would select the cursor's row.
    grid.addRowSelection(grid.nRows - 1)
    for name in TAB_ORDER:
        if not expect(focus.grab(name), f"{name} takes no focus"):
            continue
        before = state(pyatspi, frame, by_id, grid)
        for key in ENTER_KEYS:
            session_keys(env, key)
            time.sleep(0.7)  # what a press starts shows within this
            if not expect(app.poll() is None, f"{key} on {name} ended the program"):
                return
            after = state(pyatspi, frame, by_id, grid)
            changed = {k: (before[k], after[k]) for k in before if after[k] != before[k]}
            expect(not changed, f"{key} on {name} changed {changed}")
            got = service.searches()
            expect(got == [], f"{key} on {name} sent {len(got)} search requests")
            expect(focus() == name, f"{key} on {name} moved the focus to {focus()}")
            # The page's own link may follow Enter; the window's controls never do.
            if name != PANEL:
                expect(not os.path.exists(opened), f"{key} on {name} opened an address")


def check_space(pyatspi, env, by_id, focus, service):
    """Space presses the focused button (上一页 on page 2: a request for page 1) and toggles the
    check box."""
    if expect(focus.grab("按钮3"), "按钮3 takes no focus"):
        session_keys(env, "space")
        got = wait_for(lambda: service.searches(), 10) or []
        pages = [b"&page=1&" in head for head in got]
        expect(pages == [True], f"Space on 上一页 sent {len(got)} requests, page 1 in {pages}")
        expect(wait_for(lambda: by_id["透明标签2"].name == "1", 10),
               f"Space on 上一页 left the page label at {by_id['透明标签2'].name!r}")
    check = by_id["选择框1"]
    if expect(focus.grab("选择框1"), "选择框1 takes no focus"):
        session_keys(env, "space")
        expect(wait_for(lambda: has(check, pyatspi.STATE_CHECKED), 5),
               "Space on 是否删除当前页 did not check it")


if __name__ == "__main__":
    code = main(*sys.argv[1:])
    if code != SKIPPED:
        print("FAILED" if failures else "PASSED", flush=True)
    sys.exit(code)
