#!/usr/bin/env python3
"""End-to-end test of the Windows build: Pelvaro under Wine on a private Xvfb display, against the
sample service on the search host's port, read and driven from outside the process by probe.exe
in the same Wine prefix (the table's cells are read through memory in the program's process).

  windows_test.py PELVARO.exe PROBE.exe SAMPLE_SERVICE.py SEARCH_HOST SHARE_DOMAIN WINE_DIR

Checks the window's place and size, every control's text and state at start, the search button
locked until the browser panel's new-window event, Tab and Shift+Tab through every control but the
labels (the browser panel included), a search filling the table in page order, next and previous
page (with the table kept and cleared), the empty-keyword and no-results boxes, and the close.

Display scaling: the program runs at 96, 144 and 192 DPI (Wine takes the DPI from the registry,
HKCU\\Control Panel\\Desktop LogPixels). At each, the window, every control, the column widths
and the fonts are the 96-DPI ones scaled by DPI/96 with MulDiv's rounding, and so is the width
"支持作者" sets. Wine has one DPI for all monitors, so the move to a monitor of another DPI is
stood in for by the message the system sends then (WM_DPICHANGED, raised by the test build).

Wine shows no web pages, so the new-window event cannot come from a page: the test build of the
program (Pelvaro-e2e.exe, the program plus a few private messages) raises it through the panel's
connection point into the program's own event sink when the probe asks. The same build tells the
probe a control's font height, which cannot be read from outside the process.

Exits 0 when every check holds, 1 otherwise, 77 (skipped) when the sample service cannot stand in
for the search host. Xvfb, the service, the program and the prefix's wineserver are ended by
process id (the wineserver with wineserver -k for this prefix only).
"""

import importlib.util
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.normpath(os.path.join(HERE, "..", "..", "..", "scripts", "wine-run.sh"))
KEYWORD = "版"  # eleven sample shares: a full first page and one hit on the second

# Control ids: the window numbers its controls from 1001 in layout order.
LABEL1, KEYWORD_BOX, SEARCH, TABLE, PREVIOUS, LABEL2, NEXT, CLEAR, REFRESH, PANEL_BUTTON, PANEL = \
    range(1001, 1012)
START = {  # id: class, left, top, width, height, enabled, text
    LABEL1: ("Static", 13, 8, 32, 24, True, "名称："),
    KEYWORD_BOX: ("Edit", 53, 8, 419, 24, True, ""),
    SEARCH: ("Button", 477, 8, 48, 24, False, "搜搜搜"),
    TABLE: ("SysListView32", 8, 40, 520, 264, True, ""),
    PREVIOUS: ("Button", 8, 312, 72, 24, True, "上一页"),
    LABEL2: ("Static", 86, 312, 58, 24, True, "1"),
    NEXT: ("Button", 152, 312, 72, 24, True, "下一页"),
    CLEAR: ("Button", 240, 312, 112, 24, True, "是否删除当前页"),
    REFRESH: ("Button", 368, 312, 48, 24, True, "刷新"),
    PANEL_BUTTON: ("Button", 432, 312, 96, 24, True, "支持作者"),
    PANEL: ("PelvaroBrowserHost", 536, 8, 304, 320, True, ""),
}
COLUMNS = [("名称", 200), ("大小", 80), ("共享者", 120), ("地址", 100)]
# Every control but the two labels, in Tab order.
TAB_ORDER = [KEYWORD_BOX, SEARCH, TABLE, PREVIOUS, NEXT, CLEAR, REFRESH, PANEL_BUTTON, PANEL]
NARROW, WIDE, HEIGHT = 540, 853, 374
PAGE_FONT = -16  # the page label's "黑体" at 96 DPI
DPIS = (96, 144, 192)
EMPTY_KEYWORD_TEXT = "你不输入内容我怎么搜！逗我？"
NO_RESULTS_TEXT = "你的搜索涉及敏感词汇，或者需要更新，请联系作者"

failures = []
checks = [0]


def expect(condition, message):
    checks[0] += 1
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def scaled(size, dpi):
    """A 96-DPI size at dpi as MulDiv gives it: the nearest integer, halves away from zero."""
    magnitude = (abs(size) * dpi + 48) // 96
    return magnitude if size >= 0 else -magnitude


def wait_for(condition, timeout, interval=0.2):
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


class State:
    """One reading of the window by the probe."""

    def __init__(self, text):
        self.window = self.screen = self.focus = None
        self.controls, self.columns, self.rows, self.boxes, self.fonts = {}, [], [], [], {}
        for line in text.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == "window":
                parts = rest.split(" ", 7)
                self.window = tuple(int(p) for p in parts[:4]) + (int(parts[5]), int(parts[6]))
                self.title = parts[7] if len(parts) > 7 else ""
            elif kind == "screen":
                self.screen = tuple(int(p) for p in rest.split())
            elif kind == "control":
                parts = rest.split(" ", 9)
                self.controls[int(parts[0])] = (
                    parts[1], *(int(p) for p in parts[2:6]), parts[6] == "enabled",
                    parts[7] == "visible", parts[8] == "checked", parts[9] if len(parts) > 9 else "")
            elif kind == "column":
                number, width, header = (rest.split(" ", 2) + [""])[:3]
                self.columns.append((header, int(width)))
            elif line.startswith("row\t"):
                self.rows.append(line.split("\t")[1:])
            elif kind == "font":
                control, height = rest.split()
                self.fonts[int(control)] = int(height)
            elif kind == "focus":
                self.focus = int(rest)
            elif kind == "box":
                self.boxes.append(tuple(rest.split("\t", 1)))

    def text(self, control):
        return self.controls[control][-1]

    def enabled(self, control):
        return self.controls[control][5]


class Session:
    def __init__(self, program, probe, env):
        self.probe_exe, self.env = probe, env
        self.app = subprocess.Popen([WINE_RUN, program], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)

    def probe(self, *args):
        # Output through a file, not a pipe: a wineserver that this call happens to start would
        # hold a pipe open long after the probe has ended.
        with tempfile.TemporaryFile() as out:
            done = subprocess.run([WINE_RUN, self.probe_exe, *args], env=self.env, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", "replace")

    def state(self):
        code, out = self.probe("state")
        return State(out) if code == 0 and out.startswith("window") else None

    def wait_state(self, condition, timeout=20):
        found = wait_for(lambda: (s := self.state()) is not None and condition(s) and s, timeout)
        return found or self.state()


def expected_rows(sample, keyword, page, share_domain):
    hits = [s for s in sample.CATALOGUE if keyword.lower() in s.name.lower()]
    shown = hits[(page - 1) * sample.PAGE_SIZE:page * sample.PAGE_SIZE]
    return [[s.name, s.size or "文件夹", s.sharer, f"https://{share_domain}/s/{s.code}"]
            for s in shown]


def start_xvfb():
    read, write = os.pipe()
    # Room for the wide window at 192 DPI.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1200x24",
                             "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        display = pipe.readline().strip()
    return xvfb, ":" + display


def check_layout(state, dpi, outer_width, gui_font, where):
    """The window outer_width (at 96 DPI) wide, laid out for dpi: every size the 96-DPI one scaled.
    gui_font is the default GUI font's height at 96 DPI (None: not known yet)."""
    _, _, width, height, client_width, client_height = state.window
    want = (scaled(outer_width, dpi), scaled(HEIGHT, dpi))
    expect((width, height) == want, f"{where}: outer size {width}x{height}, want {want}")
    expect(0 < width - client_width <= scaled(16, dpi) and
           0 < height - client_height <= scaled(60, dpi),
           f"{where}: client area {client_width}x{client_height} in a {width}x{height} window")
    for control, (kind, x, y, w, h, _, text) in START.items():
        got = state.controls.get(control)
        if not expect(got is not None, f"{where}: control {control} ({text or kind}) missing"):
            continue
        rect = tuple(scaled(v, dpi) for v in (x, y, w, h))
        expect(got[1:5] == rect, f"{where}: control {control} ({text or kind}) at {got[1:5]}, "
                                 f"want {rect}")
    columns = [(header, scaled(w, dpi)) for header, w in COLUMNS]
    expect(state.columns == columns, f"{where}: columns {state.columns}, want {columns}")
    fonts = {control: height for control, height in state.fonts.items() if control != PANEL}
    expect(fonts.get(LABEL2) == scaled(PAGE_FONT, dpi),
           f"{where}: page label font {fonts.get(LABEL2)}, want {scaled(PAGE_FONT, dpi)}")
    others = {height for control, height in fonts.items() if control != LABEL2}
    want_gui = {scaled(gui_font, dpi)} if gui_font is not None else others
    expect(len(others) == 1 and others == want_gui and 0 not in others,
           f"{where}: default GUI font heights {others}, want {want_gui}")


def check_start(state, dpi, gui_font):
    """The window as it opens at dpi; returns the default GUI font's height at 96 DPI (from the
    96-DPI run, where it is read)."""
    left, top, width, height, _, _ = state.window
    screen_width, screen_height = state.screen
    expect((left, top) == ((screen_width - width) // 2, (screen_height - height) // 2),
           f"{dpi} DPI: window at {left},{top} on a {screen_width}x{screen_height} screen: "
           "not centred")
    expect(state.title == "PelvaroV2.0", f"title {state.title!r}")
    check_layout(state, dpi, NARROW, gui_font, f"{dpi} DPI at start")
    for control, (kind, x, y, w, h, enabled, text) in START.items():
        got = state.controls.get(control)
        if got is None:
            continue
        expect(got[0] == kind, f"control {control} is a {got[0]}, want {kind}")
        expect(got[5] == enabled, f"control {control} ({text or kind}) enabled: {got[5]}")
        expect(got[6], f"control {control} ({text or kind}) hidden")
        expect(got[8] == text, f"control {control} shows {got[8]!r}, want {text!r}")
    expect(not state.controls[CLEAR][7], "是否删除当前页 checked at start")
    expect([header for header, _ in state.columns] == [header for header, _ in COLUMNS],
           f"columns {state.columns}")
    expect(state.rows == [], f"rows at start: {state.rows}")
    expect(state.boxes == [], f"a box at start: {state.boxes}")
    expect(state.focus == KEYWORD_BOX, f"{dpi} DPI: focus at start on {state.focus}")
    return state.fonts.get(KEYWORD_BOX) if dpi == 96 else gui_font


def main(program, probe, sample_path, search_host, share_domain, wine_dir):
    name, _, port = search_host.rpartition(":")
    if name != "127.0.0.1" or not port:
        print(f"skipped: the sample service cannot stand in for {search_host}")
        return 77
    module_spec = importlib.util.spec_from_file_location("sample_service", sample_path)
    sample = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(sample)

    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, PELVARO_WINE_DIR=wine_dir)
    env.pop("WAYLAND_DISPLAY", None)
    service = subprocess.Popen([sys.executable, sample_path, "--host", name, "--port", port,
                                "--share-domain", share_domain, "--quiet"],
                               stderr=subprocess.DEVNULL)
    session = None
    try:
        if not expect(wait_for(lambda: answers(search_host), 20), "no sample service"):
            return 1
        # The prefix is made once (minutes); then each run reuses it. The program's header says
        # whether it is a 32-bit or a 64-bit prefix.
        subprocess.run([os.path.join(os.path.dirname(WINE_RUN), "windows-env.sh"), wine_dir,
                        program], env=env, check=True)
        gui_font = None
        for dpi in DPIS:
            set_dpi(probe, env, dpi)
            session = Session(program, probe, env)
            # Every control made, and the window answering messages (its title read across the
            # process): the panel's browser control may hold the thread a while after the window
            # shows.
            state = session.wait_state(lambda s: len(s.controls) == len(START) and s.title, 90)
            if not expect(state is not None, f"{dpi} DPI: the window did not appear"):
                return 1
            gui_font = check_start(state, dpi, gui_font)
            if dpi == 96:
                unlock(session, dpi)
                check_tab_order(session)
                run_searches(session, sample, share_domain)
                check_dpi_change(session, gui_font)
            else:
                unlock(session, dpi)

            session.probe("close")
            code = wait_for(lambda: session.app.poll() is not None, 20)
            expect(code and session.app.returncode == 0,
                   f"{dpi} DPI: exit code {session.app.poll()}")
    finally:
        if session is not None and session.app.poll() is None:
            session.app.kill()
        set_dpi(probe, env, 96)
        subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=wine_dir + "/prefix"),
                       stderr=subprocess.DEVNULL)
        service.terminate()
        xvfb.terminate()
        service.wait()
        xvfb.wait()
    print(f"{checks[0]} checks, {len(failures)} failed")
    return 0 if not failures else 1


def set_dpi(probe, env, dpi):
    """The DPI Wine gives the programs started after this (the probe writes it to the registry)."""
    subprocess.run([WINE_RUN, probe, "setdpi", str(dpi)], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


def answers(host):
    try:
        with urllib.request.urlopen(f"http://{host}/support", timeout=2) as reply:
            return reply.status == 200
    except OSError:
        return False


def unlock(session, dpi):
    """支持作者 widens the window; the panel's new-window event narrows it and unlocks 搜搜搜.
    The widths are the layout's, scaled like every other size."""
    wide, narrow = scaled(WIDE, dpi), scaled(NARROW, dpi)
    session.probe("click", str(PANEL_BUTTON))
    state = session.wait_state(lambda s: s.window[2] == wide)
    expect(state.window[2] == wide, f"{dpi} DPI: 支持作者 left the width {state.window[2]}, "
                                    f"want {wide}")
    session.probe("newwindow")
    state = session.wait_state(lambda s: s.enabled(SEARCH) and s.window[2] == narrow)
    expect(state.enabled(SEARCH), "the new-window event left 搜搜搜 disabled")
    expect(state.window[2] == narrow,
           f"{dpi} DPI: the new-window event left the width {state.window[2]}, want {narrow}")


def check_tab_order(session):
    """Tab walks every control but the labels in layout order, the browser panel included, and
    comes round again; Shift+Tab walks back."""
    for key, step in (("tab", 1), ("shifttab", -1)):
        state = session.state()
        if not expect(state.focus in TAB_ORDER, f"focus on {state.focus} before {key}"):
            return
        at = TAB_ORDER.index(state.focus)
        seen, want = [], []
        for _ in range(len(TAB_ORDER) + 1):
            at = (at + step) % len(TAB_ORDER)
            want.append(TAB_ORDER[at])
            session.probe("key", key)
            state = session.wait_state(lambda s: s.focus == TAB_ORDER[at], 10)
            seen.append(state.focus)
            if state.focus != TAB_ORDER[at]:
                break
        expect(seen == want, f"{key} moved the focus through {seen}, want {want}")


def check_dpi_change(session, gui_font):
    """Moved to a monitor of another DPI, the window is laid out anew at its corner; a wide window
    stays wide."""
    before = session.state()
    session.probe("dpichanged", "144")
    state = session.wait_state(lambda s: s.window[2] == scaled(NARROW, 144))
    check_layout(state, 144, NARROW, gui_font, "moved to 144 DPI")
    expect(state.window[:2] == before.window[:2],
           f"moved to 144 DPI: corner {state.window[:2]}, was {before.window[:2]}")
    session.probe("click", str(PANEL_BUTTON))
    state = session.wait_state(lambda s: s.window[2] == scaled(WIDE, 144))
    expect(state.window[2] == scaled(WIDE, 144), f"支持作者 at 144 DPI: width {state.window[2]}")
    session.probe("dpichanged", "192")
    state = session.wait_state(lambda s: s.window[2] == scaled(WIDE, 192))
    check_layout(state, 192, WIDE, gui_font, "moved wide to 192 DPI")
    session.probe("dpichanged", "96")
    state = session.wait_state(lambda s: s.window[2] == WIDE)
    check_layout(state, 96, WIDE, gui_font, "moved wide back to 96 DPI")


def run_searches(session, sample, share_domain):
    page1 = expected_rows(sample, KEYWORD, 1, share_domain)
    page2 = expected_rows(sample, KEYWORD, 2, share_domain)

    # An empty keyword: the box, and nothing else.
    session.probe("click", str(SEARCH))
    state = session.wait_state(lambda s: s.boxes)
    expect(state.boxes and state.boxes[0][1] == EMPTY_KEYWORD_TEXT, f"boxes {state.boxes}")
    session.probe("closebox")
    state = session.wait_state(lambda s: not s.boxes)
    expect(not state.boxes and state.text(LABEL2) == "1", "the empty-keyword box stayed")

    # A search: page 1's rows in page order; 上一页 disabled on page 1.
    session.probe("settext", str(KEYWORD_BOX), KEYWORD)
    session.probe("click", str(SEARCH))
    state = session.wait_state(lambda s: s.rows == page1)
    expect(state.rows == page1, f"page 1 gave {state.rows}")
    expect(state.text(LABEL2) == "1" and not state.enabled(PREVIOUS),
           f"page 1: label {state.text(LABEL2)!r}, 上一页 enabled {state.enabled(PREVIOUS)}")

    # Next page, the table kept.
    session.probe("click", str(NEXT))
    state = session.wait_state(lambda s: s.rows == page1 + page2)
    expect(state.rows == page1 + page2, f"下一页 left {state.rows}")
    expect(state.text(LABEL2) == "2" and state.enabled(PREVIOUS),
           f"page 2: label {state.text(LABEL2)!r}, 上一页 enabled {state.enabled(PREVIOUS)}")

    # Previous page with 是否删除当前页 checked: the table holds page 1 only.
    session.probe("click", str(CLEAR))
    state = session.wait_state(lambda s: s.controls[CLEAR][7])
    expect(state.controls[CLEAR][7], "是否删除当前页 did not check")
    session.probe("click", str(PREVIOUS))
    state = session.wait_state(lambda s: s.rows == page1 and s.text(LABEL2) == "1")
    expect(state.rows == page1, f"上一页 with the table cleared left {state.rows}")

    # A keyword without hits: the no-results box, the table emptied, the window usable.
    session.probe("settext", str(KEYWORD_BOX), "没有这种文件zzz")
    session.probe("click", str(SEARCH))
    state = session.wait_state(lambda s: s.boxes)
    expect(state.boxes and state.boxes[0][1].startswith(NO_RESULTS_TEXT), f"boxes {state.boxes}")
    expect(state.rows == [], f"no hits left the rows {state.rows}")
    session.probe("closebox")
    state = session.wait_state(lambda s: not s.boxes)
    expect(not state.boxes, "the no-results box stayed")


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
