"""End-to-end test of code page 936 at the window's edges, under Xvfb: characters of the code
page's user-defined areas, which only Windows's own table holds (A8BC is U+E7C7 and FE51 is
U+E816 there; other tables give another character or none), go through the keyword box, the
request, a result page, the table's cells, the clipboard and the default browser unchanged.

The search service is pelvaro-service, started by service_launcher.py on the search host's port
over a catalogue of one share whose name, sharer and link carry both characters.

    codepage_test.py PROGRAM SEARCH_HOST START_PAGE SHARE_DOMAIN SERVICE_LAUNCHER

Exits with 77 (skipped) when the search host is not a loopback port whose service also serves the
start page, or when another program holds that port.
"""

import csv
import os
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import SKIPPED, expect, failures, table_rows  # noqa: E402
from gui_session import GuiSession, wait_for  # noqa: E402
from main_window_test import (  # noqa: E402
    RecordingBrowser, click, controls, extents, find_frame, find_menu_item, find_role, press,
    session_keys)
from search_test import Service  # noqa: E402

PRIVATE = "\ue7c7\ue816"  # code page 936 bytes A8 BC FE 51
KEYWORD = PRIVATE
NAME = f"私用字{PRIVATE}样本.txt"
SHARER = f"分享{PRIVATE}者"
CODE = f"9z{PRIVATE}"


def clipboard(env):
    try:
        return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=env,
                              capture_output=True, timeout=5).stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None


def write_catalogue(path, share_domain):
    """The catalogue of the one share, as pelvaro-service imports it."""
    with open(path, "w", encoding="utf-8", newline="") as out:
        table = csv.writer(out)
        table.writerow(["name", "size", "sharer", "date", "link"])
        table.writerow([NAME, "1.5M", SHARER, "2024-01-01", f"https://{share_domain}/s/{CODE}"])


def searches(record):
    try:
        with open(record, "rb") as log:
            heads = log.read().split(b"\r\n\r\n")
    except FileNotFoundError:
        return []
    return [head.split(b" ")[1] for head in heads if head.startswith(b"GET /?")]


def main(program, search_host, start_page, share_domain, launcher):
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
        record = os.path.join(home, "requests")
        catalogue = os.path.join(home, "shares.csv")
        write_catalogue(catalogue, share_domain)
        service = Service(launcher, search_host, share_domain, record, env, catalogue)
        refused = service.refused()
        if not expect(refused is None, f"the service did not serve the share: {refused}"):
            return 1
        if not service.listening:
            print(f"skipped: {search_host} is held by another program", flush=True)
            return SKIPPED

        app = subprocess.Popen([program], env=env)
        try:
            frame = wait_for(lambda: find_frame(pyatspi, app.pid), 60)
            if not expect(frame is not None, "no window titled PelvaroV2.0 appeared"):
                return 1
            by_id = controls(pyatspi, frame)
            grid = by_id["超级列表框1"].queryTable()
            link = wait_for(lambda: find_role(pyatspi, frame, pyatspi.ROLE_LINK), 30)
            if not expect(link is not None, "the browser panel shows no link"):
                return 1
            press(pyatspi, link)
            enabled = wait_for(
                lambda: by_id["按钮1"].getState().contains(pyatspi.STATE_SENSITIVE), 10)
            if not expect(enabled, "the panel's new window did not enable 按钮1"):
                return 1
            # The panel's own address reaches the default browser first: out of the way.
            wait_for(lambda: os.path.exists(opened) and open(opened).read().strip(), 10)
            if os.path.exists(opened):
                os.remove(opened)

            # The keyword box: the characters reach the service as their UTF-8, not as "?".
            by_id["编辑框1"].queryEditableText().setTextContents(KEYWORD)
            press(pyatspi, by_id["按钮1"])
            address = f"https://{share_domain}/s/{CODE}"
            want = [[NAME, "1.5M", SHARER, address]]
            rows = wait_for(lambda: (got := table_rows(grid)) == want and got, 20, 0.05)
            expect(rows == want, f"the search gave the rows {table_rows(grid)}, want {want}")
            encoded = "".join(f"%{byte:02X}" for byte in KEYWORD.encode("utf-8"))
            asked = searches(record)
            expect(asked == [f"/?q={encoded}&page=1&by=prev".encode()],
                   f"the keyword went out as {asked}")
            if not rows:
                return 1

            # The clipboard and the default browser get the link with both characters.
            for item_name in ("复制链接", "打开链接"):
                click(env, extents(pyatspi, grid.getAccessibleAt(0, 0)), 3)
                item = wait_for(lambda: find_menu_item(pyatspi, frame.parent, item_name), 10)
                if not expect(item is not None, "a right click on the row shows no menu"):
                    continue
                click(env, extents(pyatspi, item), 1)
            copied = wait_for(lambda: clipboard(env) == address or None, 10)
            expect(copied, f"复制链接 put {clipboard(env)!r} in the clipboard, want {address!r}")
            given = wait_for(lambda: os.path.exists(opened) and open(opened).read().split(), 10)
            expect(given in ([address], [urllib.parse.quote(address, safe=":/")]),
                   f"打开链接 gave the default browser {given}, want [{address!r}]")

            session_keys(env, "Escape")
            if not wait_for(lambda: app.poll() is not None, 20):
                app.kill()
        finally:
            if app.poll() is None:
                app.kill()
            app.wait()
    return 1 if failures else 0


if __name__ == "__main__":
    code = main(*sys.argv[1:])
    print({0: "PASSED", SKIPPED: "SKIPPED"}.get(code, "FAILED"), flush=True)
    sys.exit(code)
