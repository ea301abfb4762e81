"""End-to-end test of searching with Pelvaro under Xvfb: the real window, the real HTTP client and
the sample service on the search host's port, with every request head recorded byte for byte. One
program run goes through the steps a user takes after unlocking the search:

  the empty keyword box; a Chinese keyword, its request on the wire and its rows in page order;
  next page with the table kept, 复制链接 to the clipboard, previous page back to page 1; next page
  with "是否删除当前页" checked; fast clicks while page 2 is answered late, with the box checked
  and not; a keyword without hits, whose box leaves the window usable; Esc.

    search_test.py PROGRAM SEARCH_HOST START_PAGE SHARE_DOMAIN CONTACT SERVICE_LAUNCHER [SCREENSHOT]

Exits with 77 (skipped) when the search host is not a loopback port whose service also serves the
start page, or when another program holds that port.
"""

import os
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import SKIPPED, expect, expected_rows, failures, load, table_rows  # noqa: E402
from gui_session import GuiSession, wait_for  # noqa: E402
from main_window_test import (  # noqa: E402
    RecordingBrowser, click, controls, extents, find_frame, find_menu_item, find_role, press,
    session_keys, window_box)

AGENT = ("Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; TOLVA; .NET CLR 2.0.50727; "
         ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)")
KEYWORD = "版"  # eleven sample shares: a full first page and one hit on the second
NO_HITS = "没有这个分享"
EMPTY_KEYWORD_BOX = ("靠", "你不输入内容我怎么搜！逗我？")
NO_RESULTS_TITLE = "信息："
NO_RESULTS_TEXT = "你的搜索涉及敏感词汇，或者需要更新，请联系作者"
SLOW_PAGE, SLOW_SECONDS = 2, 1.0  # the service answers page 2 late, so page 1 can overtake it




class Service:
    """pelvaro-service through service_launcher.py on the search host's port, every request head
    recorded, searches for SLOW_PAGE answered late; catalogue, a CSV file, in place of the
    sample catalogue."""

    def __init__(self, path, host, share_domain, record, env, catalogue=None):
        self.host, self.record, self.seen = host, record, 0
        self.timing = record + ".timing"
        name, _, port = host.rpartition(":")
        arguments = ["--catalogue", catalogue] if catalogue else []
        with open(record + ".stderr", "w") as log:
            self.process = subprocess.Popen(
                [sys.executable, path, "--host", name, "--port", port, "--share-domain",
                 share_domain, "--record", record, "--timing-log", self.timing, "--quiet",
                 "--delay", f"{SLOW_PAGE}={SLOW_SECONDS}", *arguments], env=env, stderr=log)

        # The answer must be ours: another program's service on the port would answer too.
        def answers():
            if self.process.poll() is not None:
                return True  # could not listen: stop waiting
            try:
                with urllib.request.urlopen(f"http://{host}/support", timeout=2) as reply:
                    reply.read()
                with open(record, "rb") as log:
                    return b"GET /support " in log.read()
            except OSError:
                return False

        wait_for(answers, 20)
        self.listening = self.process.poll() is None and answers()
        self.searches()  # the probe's requests are not Pelvaro's

    def refused(self):
        """What the launcher said when it ended for another reason than a taken port (a
        catalogue the service would not import, say), or None."""
        if self.process.poll() is None:
            return None
        with open(self.record + ".stderr", encoding="utf-8", errors="replace") as log:
            said = log.read()
        return None if "cannot listen on" in said else said or f"exit {self.process.returncode}"

    def answered(self, since):
        """The searches that arrived at time.monotonic() since or later and have been answered,
        in the order their answers were written out: (target, arrived, written)."""
        try:
            with open(self.timing, encoding="latin-1") as log:
                lines = log.read().splitlines()
        except FileNotFoundError:
            lines = []
        entries = [(target, float(arrived), float(written))
                   for arrived, written, target in (line.split(" ", 2) for line in lines)]
        return [entry for entry in entries if entry[1] >= since]

    def searches(self):
        """The search request heads recorded since the last call, oldest first."""
        try:
            with open(self.record, "rb") as log:
                heads = log.read().split(b"\r\n\r\n")[:-1]
        except FileNotFoundError:
            heads = []
        new, self.seen = heads[self.seen:], len(heads)
        return [head + b"\r\n\r\n" for head in new if head.startswith(b"GET /?")]




def wait_rows(grid, want, timeout=20):
    """Waits until the table holds exactly want; returns what it holds then."""
    got = wait_for(lambda: (rows := table_rows(grid)) == want and rows, timeout, 0.05)
    return got if got is not None else table_rows(grid) or []


def overtaken_rows(service, grid, want, since):
    """After two fast clicks from time.monotonic() since, the first for the page answered late:
    waits until the service has had both requests and the late answer has had time to arrive,
    then for want in the table."""
    seen = []

    def both_asked():
        seen.extend(service.searches())
        return len(seen) >= 2

    wait_for(both_asked, 20, 0.05)
    time.sleep(SLOW_SECONDS + 0.5)
    # The overtaking must really have happened: the later command's page answered first. Which
    # request reaches the service first is up to the two workers, and does not matter.
    answered = wait_for(lambda: len(got := service.answered(since)) >= 2 and got, 20, 0.05) \
        or service.answered(since)
    pages = [urllib.parse.parse_qs(target[2:]).get("page") for target, _, _ in answered]
    expect(pages == [["1"], [str(SLOW_PAGE)]],
           f"the late page was not overtaken: answers went out as {answered}")
    return wait_rows(grid, want)


def find_box(pyatspi, frame, title):
    """The message box of that title among the program's windows, or None."""
    for window in frame.parent:
        try:
            if window.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG) \
                    and window.name == title and window.getState().contains(pyatspi.STATE_SHOWING):
                return window
        except Exception:  # a box that closed while we looked
            continue
    return None


def box_text(pyatspi, box):
    labels = pyatspi.findAllDescendants(box, lambda node: node.getRole() == pyatspi.ROLE_LABEL)
    return [label.name for label in labels if label.name]


def close_box(pyatspi, frame, box, title):
    press(pyatspi, find_role(pyatspi, box, pyatspi.ROLE_PUSH_BUTTON))
    expect(wait_for(lambda: find_box(pyatspi, frame, title) is None, 10),
           f"the box {title!r} did not close on OK")


def has(node, state):
    return node.getState().contains(state)


def main(program, search_host, start_page, share_domain, contact, sample_path, screenshot=None):
    host = urllib.parse.urlsplit("//" + search_host)
    if host.hostname not in ("127.0.0.1", "localhost") or not host.port \
            or urllib.parse.urlsplit(start_page).netloc != search_host:
        print(f"skipped: the sample service cannot stand in for {search_host} and {start_page}")
        return SKIPPED
    sample = load("sample_service", sample_path)

    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        env = session.env
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # the toolkit's
        env["HOME"] = home
        env.update(RecordingBrowser(home, os.path.join(home, "opened")))
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
        keyword, label = by_id["编辑框1"], by_id["透明标签2"]
        grid = by_id["超级列表框1"].queryTable()
        previous, check = by_id["按钮3"], by_id["选择框1"]
        page1 = expected_rows(sample, KEYWORD, 1, share_domain)
        page2 = expected_rows(sample, KEYWORD, 2, share_domain)

        # The panel's link with a target unlocks the search, as a user does it.
        link = wait_for(lambda: find_role(pyatspi, frame, pyatspi.ROLE_LINK), 30)
        if not expect(link is not None, "the browser panel shows no link"):
            return 1
        press(pyatspi, link)
        if not expect(wait_for(lambda: has(by_id["按钮1"], pyatspi.STATE_SENSITIVE), 10),
                      "the panel's new window did not enable 按钮1"):
            return 1

        # An empty keyword: the blocking box, and no request. The box runs inside the click
        # handler, so the click comes from the mouse: an AT-SPI action would wait on the box.
        click(env, extents(pyatspi, by_id["按钮1"]), 1)
        title, text = EMPTY_KEYWORD_BOX
        shown = wait_for(lambda: find_box(pyatspi, frame, title), 10)
        if expect(shown is not None, f"an empty keyword shows no box titled {title!r}"):
            expect(box_text(pyatspi, shown) == [text], f"the box says {box_text(pyatspi, shown)}")
            expect(has(shown, pyatspi.STATE_MODAL), "the empty-keyword box is not modal")
            close_box(pyatspi, frame, shown, title)
        expect(service.searches() == [], "an empty keyword sent a request")
        expect(label.name == "1", f"the page label shows {label.name!r} after an empty keyword")

        # A Chinese keyword: percent-encoded UTF-8 on the wire with the default header block, and
        # the page's rows in page order, the link in "地址".
        keyword.queryEditableText().setTextContents(KEYWORD)
        press(pyatspi, by_id["按钮1"])
        rows = wait_rows(grid, page1)
        expect(rows == page1, f"page 1 gave the rows {rows}, want {page1}")
        encoded = "".join(f"%{byte:02X}" for byte in KEYWORD.encode("utf-8"))
        target = f"/?q={encoded}&page=1&by=prev"
        want = (f"GET {target} HTTP/1.1\r\nHost: {search_host}\r\nUser-Agent: {AGENT}\r\n"
                f"Referer: http://{search_host}{target}\r\nAccept: */*\r\n"
                "Accept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                "\r\n").encode()
        got = service.searches()
        expect(got == [want], f"the search sent {got}, want [{want!r}]")
        expect(label.name == "1", f"page 1 shows the label {label.name!r}")
        expect(not has(previous, pyatspi.STATE_SENSITIVE), "上一页 enabled on page 1")
        if screenshot:  # the window with the first page of a search
            subprocess.run(["import", "-window", "root", "-crop",
                            "%dx%d+%d+%d" % window_box(pyatspi, frame, 10), screenshot],
                           env=env, check=True, timeout=30)

        # Next page with the table kept: page 2's rows after page 1's.
        press(pyatspi, by_id["按钮2"])
        rows = wait_rows(grid, page1 + page2)
        expect(rows == page1 + page2, f"下一页 left the rows {rows}")
        expect(label.name == "2", f"page 2 shows the label {label.name!r}")
        expect(has(previous, pyatspi.STATE_SENSITIVE), "上一页 disabled on page 2")
        got = [head.split(b" ")[1] for head in service.searches()]
        expect(got == [target.replace("page=1", "page=2").encode()], f"下一页 requested {got}")

        # 复制链接 puts the link of the row right-clicked into the clipboard.
        row = len(page1) - 2
        click(env, extents(pyatspi, grid.getAccessibleAt(row, 0)), 3)
        item = wait_for(lambda: find_menu_item(pyatspi, frame.parent, "复制链接"), 10)
        if expect(item is not None, "a right click on a row shows no menu"):
            click(env, extents(pyatspi, item), 1)
            copied = wait_for(lambda: clipboard(env) == page1[row][3] or None, 10)
            expect(copied, f"复制链接 put {clipboard(env)!r} in the clipboard, want "
                           f"{page1[row][3]!r}")

        # Previous page from page 2: page 1 again, and 上一页 disabled.
        press(pyatspi, previous)
        rows = wait_rows(grid, page1 + page2 + page1)
        expect(rows == page1 + page2 + page1, f"上一页 left {len(rows)} rows")
        expect(label.name == "1", f"上一页 from page 2 shows the label {label.name!r}")
        expect(not has(previous, pyatspi.STATE_SENSITIVE), "上一页 enabled on page 1")

        # Next page with "是否删除当前页" checked: only the latest page remains.
        press(pyatspi, check)
        expect(wait_for(lambda: has(check, pyatspi.STATE_CHECKED), 5),
               "选择框1 does not check")
        press(pyatspi, by_id["按钮2"])
        rows = wait_rows(grid, page2)
        expect(rows == page2, f"下一页 with 是否删除当前页 left the rows {rows}")
        service.searches()

        # Fast clicks, the earlier page answered last. Checked: 刷新 on page 2 and at once 上一页;
        # the table ends holding page 1 alone, and the label and 上一页 show page 1.
        since = time.monotonic()
        press(pyatspi, by_id["按钮4"])
        press(pyatspi, previous)
        rows = overtaken_rows(service, grid, page1, since)
        expect(rows == page1, f"刷新 then 上一页 with 是否删除当前页 left the rows {rows}")
        expect(label.name == "1", f"刷新 then 上一页 show the label {label.name!r}")
        expect(not has(previous, pyatspi.STATE_SENSITIVE), "上一页 enabled after 上一页 to page 1")
        # Not checked: 下一页, and 上一页 as soon as it can be pressed; both pages go in whole, in
        # the order of the clicks.
        press(pyatspi, check)
        expect(wait_for(lambda: not has(check, pyatspi.STATE_CHECKED), 5),
               "选择框1 does not uncheck")
        since = time.monotonic()
        press(pyatspi, by_id["按钮2"])
        expect(wait_for(lambda: has(previous, pyatspi.STATE_SENSITIVE), 5),
               "下一页 did not enable 上一页")
        press(pyatspi, previous)
        rows = overtaken_rows(service, grid, page1 + page2 + page1, since)
        expect(rows == page1 + page2 + page1, f"下一页 then 上一页 left the rows {rows}")
        expect(label.name == "1", f"下一页 then 上一页 show the label {label.name!r}")
        expect(not has(previous, pyatspi.STATE_SENSITIVE), "上一页 enabled after 上一页 to page 1")
        press(pyatspi, check)
        expect(wait_for(lambda: has(check, pyatspi.STATE_CHECKED), 5), "选择框1 does not check")

        # A keyword without hits: the box from the worker, the table emptied; the window stays
        # usable while the box is open, and a search from it fills the table.
        keyword.queryEditableText().setTextContents(NO_HITS)
        press(pyatspi, by_id["按钮1"])
        shown = wait_for(lambda: find_box(pyatspi, frame, NO_RESULTS_TITLE), 20)
        if expect(shown is not None, f"no box titled {NO_RESULTS_TITLE!r} for {NO_HITS!r}"):
            want = [f"{NO_RESULTS_TEXT}\nQQ{contact}"]  # CR LF shows as one line break
            expect(box_text(pyatspi, shown) == want,
                   f"the no-results box says {box_text(pyatspi, shown)}, want {want}")
            expect(not has(shown, pyatspi.STATE_MODAL), "the no-results box is modal")
            expect(grid.nRows == 0, f"the checked table kept {grid.nRows} rows")
            keyword.queryEditableText().setTextContents(KEYWORD)
            press(pyatspi, by_id["按钮1"])
            rows = wait_rows(grid, page1)
            expect(rows == page1, "a search while the no-results box is open gave no rows")
            expect(find_box(pyatspi, frame, NO_RESULTS_TITLE) is not None,
                   "the no-results box went away by itself")
            close_box(pyatspi, frame, shown, NO_RESULTS_TITLE)
        got = [head.split(b" ")[1].decode() for head in service.searches()]
        no_hits = "".join(f"%{byte:02X}" for byte in NO_HITS.encode("utf-8"))
        expect(got == [f"/?q={no_hits}&page=1&by=prev", target], f"the last searches asked {got}")

        # Esc ends the program normally: no sanitizer stop on the way, none at exit.
        window = subprocess.run(["xdotool", "search", "--name", "^PelvaroV2.0$"], env=env,
                                capture_output=True, text=True, timeout=10).stdout.split()
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=10)
        session_keys(env, "Escape")
        if not wait_for(lambda: app.poll() is not None, 20):
            app.kill()
        app.wait()
        expect(app.returncode == 0, f"the program ended with exit code {app.returncode}")
    return 1 if failures else 0


def clipboard(env):
    try:
        return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=env,
                              capture_output=True, timeout=5).stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None


if __name__ == "__main__":
    code = main(*sys.argv[1:])
    print({0: "PASSED", SKIPPED: "SKIPPED"}.get(code, "FAILED"), flush=True)
    sys.exit(code)
