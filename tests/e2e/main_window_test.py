"""End-to-end test of Pelvaro's main window under Xvfb, seen from outside through AT-SPI: the
start state of every control, the browser panel beyond the narrow client area and inside the wide
one, the panel's new-window event, Enter and Esc in the keyword box, and exit code 0.

    main_window_test.py PROGRAM START_PAGE SERVICE_LAUNCHER [SCREENSHOT]
"""

import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import expect, failures  # noqa: E402
from gui_session import SCREEN, GuiSession, wait_for  # noqa: E402

OUTER = (540, 374)
CLIENT_NARROW = (534, 349)  # a 3-pixel fixed frame each side and a 19-pixel caption
CLIENT_WIDE_WIDTH = 847

# Layout name: (role, name, left, top, width, height); positions in the client area.
CONTROLS = {
    "透明标签1": ("label", "名称：", 13, 8, 32, 24),
    "编辑框1": ("text", "编辑框1", 53, 8, 419, 24),
    "按钮1": ("push button", "搜搜搜", 477, 8, 48, 24),
    "超级列表框1": ("table", "超级列表框1", 8, 40, 520, 264),
    "按钮3": ("push button", "上一页", 8, 312, 72, 24),
    "透明标签2": ("label", "1", 86, 312, 58, 24),
    "按钮2": ("push button", "下一页", 152, 312, 72, 24),
    "选择框1": ("check box", "是否删除当前页", 240, 312, 112, 24),
    "按钮4": ("push button", "刷新", 368, 312, 48, 24),
    "按钮5": ("push button", "支持作者", 432, 312, 96, 24),
}
PANEL = (536, 8, 304, 320)
HEADERS = [("名称", 200), ("大小", 80), ("共享者", 120), ("地址", 100)]




def main(program, start_page, sample_service, screenshot=None):
    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        env = session.env
        # The GUI toolkit's own leaks are not Pelvaro's: no leak report for the GUI process,
        # everything else of the sanitizers stays on.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        env["HOME"] = home
        opened = os.path.join(home, "opened")
        env.update(RecordingBrowser(home, opened))

        service = start_sample_service(sample_service, start_page, env)
        started = time.monotonic()
        app = subprocess.Popen([program], env=env)
        frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
        if not expect(frame is not None, "no window titled PelvaroV2.0 appeared"):
            return
        print(f"window after {time.monotonic() - started:.2f} s", flush=True)

        check_start_state(pyatspi, frame)
        panel = wait_for(lambda: find_role(pyatspi, frame, pyatspi.ROLE_DOCUMENT_WEB), 30)
        if expect(panel is not None, "the browser panel has no document"):
            x, y, w, h = relative(pyatspi, panel, frame)
            expect((x, y, w, h) == PANEL, f"panel at {(x, y, w, h)}, want {PANEL}")
            expect(x >= extents(pyatspi, frame)[2], "part of the panel lies in the narrow window")

        by_id = controls(pyatspi, frame)
        press(pyatspi, by_id["按钮5"])
        expect(wait_for(lambda: extents(pyatspi, frame)[2] == CLIENT_WIDE_WIDTH, 10),
               f"支持作者 gave a client width of {extents(pyatspi, frame)[2]}")
        if panel is not None:
            x, _, w, _ = relative(pyatspi, panel, frame)
            expect(x + w <= extents(pyatspi, frame)[2], "the panel is not wholly in the wide window")
        if check_new_window(pyatspi, frame, panel, by_id, service, opened, start_page):
            check_context_menu(pyatspi, frame, by_id, opened, env)
        if screenshot:  # the wide window, with whatever the search showed
            press(pyatspi, by_id["按钮5"])
            wait_for(lambda: False, 2)  # let the panel paint
            subprocess.run(["import", "-window", "root", "-crop",
                            "%dx%d+%d+%d" % window_box(pyatspi, frame, 10), screenshot],
                           env=env, check=True, timeout=30)
        check_keys(pyatspi, frame, by_id, app, env)
        memory = resident_kib(app.pid)
        if memory:
            print(f"resident memory of the process tree: {memory // 1024} MiB", flush=True)

        session_keys(env, "Escape")
        code = wait_for(lambda: app.poll() is not None, 20) and app.returncode
        expect(app.returncode == 0, f"Esc in the keyword box: exit code {app.returncode}")
        if code is None:
            app.kill()
            app.wait()


def check_start_state(pyatspi, frame):
    expect(frame.name == "PelvaroV2.0", f"title {frame.name!r}")
    x, y, w, h = extents(pyatspi, frame)
    expect((w, h) == CLIENT_NARROW, f"client area {w}x{h}, want {CLIENT_NARROW}")
    # Without a window manager the outer rectangle's centred corner is the client's corner.
    want = ((SCREEN[0] - OUTER[0]) // 2, (SCREEN[1] - OUTER[1]) // 2)
    expect((x, y) == want, f"window at {(x, y)}, want {want}")

    by_id = controls(pyatspi, frame)
    for layout_name, (role, name, *place) in CONTROLS.items():
        control = by_id.get(layout_name)
        if not expect(control is not None, f"no control {layout_name}"):
            continue
        expect(control.getRoleName() == role, f"{layout_name} is a {control.getRoleName()}")
        expect(control.name == name, f"{layout_name} is named {control.name!r}, want {name!r}")
        shown = control if role != "table" else control.parent  # the table's frame is its place
        got = relative(pyatspi, shown, frame)
        expect(list(got) == place, f"{layout_name} at {got}, want {tuple(place)}")
        states = control.getState()
        enabled = states.contains(pyatspi.STATE_SENSITIVE)
        expect(enabled == (layout_name != "按钮1"), f"{layout_name} enabled: {enabled}")
        expect(states.contains(pyatspi.STATE_SHOWING), f"{layout_name} is not showing")

    expect(text_of(by_id["编辑框1"]) == "", "the keyword box is not empty")
    expect(not by_id["选择框1"].getState().contains(pyatspi.STATE_CHECKED), "选择框1 is checked")
    table = by_id["超级列表框1"]
    grid = table.queryTable()
    expect(grid.nRows == 0, f"the table has {grid.nRows} rows")
    headers = [(grid.getColumnHeader(i).name,
                grid.getColumnHeader(i).queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width)
               for i in range(len(HEADERS))]
    expect(headers == HEADERS, f"column headers {headers}")


def check_new_window(pyatspi, frame, panel, by_id, service, opened, start_page):
    """The panel's link with a target: 按钮1 enabled, the window narrow again, and the address
    handed to the default browser."""
    if service is None or panel is None:
        print("skipped: the new-window event and the search (no sample service for",
              start_page + ")")
        return False
    link = wait_for(lambda: find_role(pyatspi, panel, pyatspi.ROLE_LINK), 30)
    if not expect(link is not None, "the start page shows no link"):
        return False
    press(pyatspi, link)
    expect(wait_for(lambda: by_id["按钮1"].getState().contains(pyatspi.STATE_SENSITIVE), 10),
           "the new-window event did not enable 按钮1")
    expect(wait_for(lambda: extents(pyatspi, frame)[2] == CLIENT_NARROW[0], 10),
           "the new-window event did not narrow the window")
    want = urllib.parse.urljoin(start_page, "/support/thanks")
    got = wait_for(lambda: os.path.exists(opened) and open(opened).read().split(), 10)
    expect(got == [want], f"the default browser was given {got}, want [{want!r}]")
    pages = [c for c in frame.parent if c.getRoleName() == "frame"]
    expect(len(pages) == 1, f"{len(pages)} windows of Pelvaro")
    os.remove(opened)
    return by_id["按钮1"].getState().contains(pyatspi.STATE_SENSITIVE)


def check_context_menu(pyatspi, frame, by_id, opened, env):
    """A search fills the table; a right click on a row selects it alone and shows the menu,
    whose "打开链接" hands that row's link to the default browser."""
    by_id["编辑框1"].queryEditableText().setTextContents("流浪地球")
    press(pyatspi, by_id["按钮1"])
    grid = by_id["超级列表框1"].queryTable()
    if not expect(wait_for(lambda: grid.nRows >= 2, 20), f"the search gave {grid.nRows} rows"):
        return
    link = grid.getAccessibleAt(1, 3).name
    expect(link.startswith("http"), f"row 1 holds the link {link!r}")
    click(env, extents(pyatspi, grid.getAccessibleAt(1, 0)), 3)
    item = wait_for(lambda: find_menu_item(pyatspi, frame.parent, "打开链接"), 10)
    if not expect(item is not None, "a right click on a row shows no menu"):
        return
    expect([grid.isRowSelected(row) for row in range(2)] == [False, True],
           "the right click did not select its row alone")
    click(env, extents(pyatspi, item), 1)
    got = wait_for(lambda: os.path.exists(opened) and open(opened).read().split(), 10)
    expect(got == [link], f"打开链接 gave the default browser {got}, want [{link!r}]")


def find_menu_item(pyatspi, app, name):
    for window in app:
        found = pyatspi.findDescendant(
            window, lambda node: node.getRole() == pyatspi.ROLE_MENU_ITEM and node.name == name
            and node.getState().contains(pyatspi.STATE_SHOWING))
        if found is not None:
            return found
    return None


def click(env, box, button):
    x, y, w, h = box
    subprocess.run(["xdotool", "mousemove", "--sync", str(x + w // 2), str(y + h // 2),
                    "click", str(button)], env=env, check=True, timeout=10)


def check_keys(pyatspi, frame, by_id, app, env):
    """Enter in the keyword box presses no button and keeps the focus; the box keeps its text."""
    box = by_id["编辑框1"]
    box.queryEditableText().setTextContents("")
    box.queryComponent().grabFocus()
    expect(wait_for(lambda: box.getState().contains(pyatspi.STATE_FOCUSED), 5),
           "the keyword box takes no focus")
    window = subprocess.run(["xdotool", "search", "--name", "^PelvaroV2.0$"], env=env,
                            capture_output=True, text=True, timeout=10).stdout.split()
    if window:
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=10)
    session_keys(env, "k", "w", "Return")
    wait_for(lambda: False, 1)
    expect(app.poll() is None, "Enter ended the program")
    expect(text_of(box) == "kw", f"the keyword box holds {text_of(box)!r}")
    expect(box.getState().contains(pyatspi.STATE_FOCUSED), "Enter moved the focus")
    windows = [c for c in frame.parent if c.getRoleName() in ("frame", "dialog", "alert")]
    expect(len(windows) == 1, "Enter opened a window")


def session_keys(env, *keys):
    subprocess.run(["xdotool", "key", "--delay", "50", *keys], env=env, check=True, timeout=10)


def find_frame(pyatspi, pid):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for child in app:
                if child.getRoleName() == "frame" and child.name == "PelvaroV2.0":
                    return child
        except Exception:  # an application that went away while we looked
            continue
    return None


def controls(pyatspi, frame):
    found = {}

    def visit(node, depth):
        ident = node.get_accessible_id()
        if ident:
            found.setdefault(ident, node)
        if depth < 4 and node.getRole() not in (pyatspi.ROLE_TABLE,):
            for child in node:
                visit(child, depth + 1)

    visit(frame, 0)
    return found


def find_role(pyatspi, root, role):
    return pyatspi.findDescendant(root, lambda node: node.getRole() == role, breadth_first=True)


def extents(pyatspi, node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def relative(pyatspi, node, frame):
    x, y, w, h = extents(pyatspi, node)
    fx, fy, _, _ = extents(pyatspi, frame)
    return x - fx, y - fy, w, h


def window_box(pyatspi, frame, margin):
    x, y, w, h = extents(pyatspi, frame)
    return w + 2 * margin, h + 2 * margin, max(0, x - margin), max(0, y - margin)


def text_of(node):
    return node.queryText().getText(0, -1)


def press(pyatspi, node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for wanted in ("click", "press", "jump", "activate"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    action.doAction(0)


def resident_kib(pid):
    from gui_session import descendants
    total = 0
    for member in [pid, *descendants(pid)]:
        try:
            with open(f"/proc/{member}/status") as status:
                total += next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
        except (OSError, StopIteration):
            pass
    return total


def RecordingBrowser(home, opened):
    """A default web browser for http and https that writes each address it is given to a file."""
    data, config = os.path.join(home, "data"), os.path.join(home, "config")
    os.makedirs(os.path.join(data, "applications"))
    os.makedirs(config)
    script = os.path.join(home, "browser")
    with open(script, "w") as out:
        out.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{opened}"\n')
    os.chmod(script, 0o755)
    with open(os.path.join(data, "applications", "recording-browser.desktop"), "w") as out:
        out.write("[Desktop Entry]\nType=Application\nName=Recording browser\n"
                  f"Exec={script} %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
    with open(os.path.join(config, "mimeapps.list"), "w") as out:
        out.write("[Default Applications]\nx-scheme-handler/http=recording-browser.desktop\n"
                  "x-scheme-handler/https=recording-browser.desktop\n")
    return {"XDG_DATA_HOME": data, "XDG_CONFIG_HOME": config}


def start_sample_service(path, start_page, env):
    """The sample service on the start page's loopback port, or None where there is none."""
    address = urllib.parse.urlsplit(start_page)
    if not os.path.exists(path) or address.hostname != "127.0.0.1" or not address.port:
        return None
    with socket.socket() as probe:
        # As the service binds: connections of an earlier run waiting out TIME_WAIT hold no port.
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", address.port))
        except OSError:
            print(f"port {address.port} is taken by another program", flush=True)
            return None
    service = subprocess.Popen([sys.executable, path, "--port", str(address.port), "--quiet"],
                               env=env)

    def answers():
        try:
            with urllib.request.urlopen(start_page, timeout=2) as reply:
                return reply.status == 200
        except OSError:
            return service.poll() is not None  # ended: stop waiting

    wait_for(answers, 20)
    return service if service.poll() is None else None


if __name__ == "__main__":
    main(*sys.argv[1:])
    print("FAILED" if failures else "PASSED", flush=True)
    sys.exit(1 if failures else 0)
