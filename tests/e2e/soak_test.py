"""Soak test of Pelvaro under Xvfb: the real window makes thousands of searches and page changes
against the sample service on the search host's port, some of them overlapping. Nothing may
crash, every command's page must stand whole in the table (after overlapping commands the last
command's page alone, with the page label and 上一页 showing it), and the resident memory of the Pelvaro process must stay flat; its growth per thousand commands is
printed.

    soak_test.py PROGRAM SEARCH_HOST START_PAGE SHARE_DOMAIN SERVICE_LAUNCHER

PELVARO_SOAK_COMMANDS sets the number of commands (default 300; 2000 for the full run). Exits
with 77 (skipped) when the search host is not a loopback port whose service also serves the start
page, or when another program holds that port.
"""

import os
import random
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gui_session import GuiSession, wait_for  # noqa: E402
from checks import SKIPPED, expect, failures, load, table_rows  # noqa: E402
from hostile_test import (  # noqa: E402
    focus_and_escape, no_results_box, open_unlocked, search_host_usable, serve)
from main_window_test import RecordingBrowser, press  # noqa: E402

DEFAULT_COMMANDS = 300
# Each search a keyword with hits on more than one page, so that page changes have pages to go to.
KEYWORDS = ["版", "i", "e", "o", "a", "2"]
# Growth beyond this per thousand commands is a leak, whatever the allocator keeps for itself.
MOST_GROWTH_KIB_PER_THOUSAND = 8 * 1024


def resident_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    except (OSError, StopIteration):
        return 0


class SearchRequests:
    """Counts the search requests in the service's record of request heads, reading on from where
    it stopped."""

    def __init__(self, record):
        self.record, self.offset, self.count, self.rest = record, 0, 0, b""

    def __call__(self):
        try:
            with open(self.record, "rb") as heads:
                heads.seek(self.offset)
                new = heads.read()
        except FileNotFoundError:
            return self.count
        self.offset += len(new)
        lines = (self.rest + new).split(b"\r\n")
        self.rest = lines.pop()
        self.count += sum(1 for line in lines if line.startswith(b"GET /?"))
        return self.count


class Catalogue:
    def __init__(self, sample, share_domain):
        self.sample, self.domain = sample, share_domain

    def row(self, share):
        return [share.name, share.size or "文件夹", share.sharer,
                f"https://{self.domain}/s/{share.code}"]

    def hits(self, keyword):
        return [s for s in self.sample.CATALOGUE if keyword.lower() in s.name.lower()]

    def pages(self, keyword):
        return -(-len(self.hits(keyword)) // self.sample.PAGE_SIZE)

    def rows(self, keyword, page):
        size = self.sample.PAGE_SIZE
        return [self.row(s) for s in self.hits(keyword)[(page - 1) * size:page * size]]


class Soak:
    def __init__(self, pyatspi, window, catalogue, record):
        self.pyatspi, self.window, self.catalogue = pyatspi, window, catalogue
        self.searches = SearchRequests(record)
        self.commands = 0
        self.keyword, self.page = None, 0
        self.requests = self.searches()
        self.by_id = window.by_id

    def command(self, button, keyword=None):
        if keyword is not None:
            self.by_id["编辑框1"].queryEditableText().setTextContents(keyword)
        press(self.pyatspi, self.by_id[button])
        self.commands += 1
        self.requests += 1

    def settle(self, want=None, timeout=20):
        """Waits until the service has had every request; then for want in the table, or without
        want until the table has kept still for a moment. Returns the table."""
        if not wait_for(lambda: self.searches() >= self.requests, timeout, 0.02):
            expect(False, f"after {self.commands} commands the service has had "
                          f"{self.searches()} of {self.requests} searches")
        if want is not None:
            got = wait_for(lambda: (rows := table_rows(self.window.grid)) == want and rows,
                           timeout, 0.02)
            return got if got is not None else table_rows(self.window.grid)
        last, still_since = None, time.monotonic()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            rows = table_rows(self.window.grid)
            if rows != last:
                last, still_since = rows, time.monotonic()
            elif time.monotonic() - still_since >= 0.3:
                break
            time.sleep(0.03)
        return last

    def expect_page(self, what):
        want = self.catalogue.rows(self.keyword, self.page)
        rows = self.settle(want)
        expect(rows == want, f"command {self.commands} ({what} {self.keyword!r} page {self.page}) "
                             f"left {rows}")

    def step(self, chance):
        kind = chance.choice(["search", "page", "page", "refresh", "overlap"])
        if kind == "search":
            self.keyword, self.page = chance.choice(KEYWORDS), 1
            self.command("按钮1", self.keyword)
            self.expect_page("search")
        elif kind == "page":
            forward = self.page < self.catalogue.pages(self.keyword) and \
                (self.page == 1 or chance.random() < 0.5)
            self.page += 1 if forward else -1
            self.command("按钮2" if forward else "按钮3")
            self.expect_page("下一页" if forward else "上一页")
        elif kind == "refresh":
            self.command("按钮4")
            self.expect_page("刷新")
        else:
            # A search with its next page and a refresh on the heels of it: three jobs at once,
            # each emptying the table when it starts. The last command's page ends in the table
            # alone, and the label and 上一页 show it, whichever job ran its first steps last.
            keyword = chance.choice(KEYWORDS)
            self.command("按钮1", keyword)
            self.command("按钮2")
            self.command("按钮4")
            self.keyword, self.page = keyword, 2
            self.expect_page("overlap")
            rows = self.settle()  # and keeps it once the table has stood still
            expect(rows == self.catalogue.rows(keyword, 2),
                   f"command {self.commands} (overlap {keyword!r}) settled on {rows}")
            label = self.by_id["透明标签2"].name
            expect(label == "2", f"command {self.commands} (overlap) left the label {label!r}")
            expect(self.by_id["按钮3"].getState().contains(self.pyatspi.STATE_SENSITIVE),
                   f"command {self.commands} (overlap) left 上一页 disabled on page 2")
            self.keyword, self.page = chance.choice(KEYWORDS), 1
            self.command("按钮1", self.keyword)
            self.expect_page("search")


def main(program, search_host, start_page, share_domain, sample_path):
    if not search_host_usable(search_host, start_page):
        print(f"skipped: the sample service cannot stand in for {search_host} and {start_page}")
        return SKIPPED
    total = int(os.environ.get("PELVARO_SOAK_COMMANDS", DEFAULT_COMMANDS))
    sample_path = os.path.abspath(sample_path)
    catalogue = Catalogue(load("sample_service", sample_path), share_domain)
    host, _, port = search_host.rpartition(":")

    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        env = session.env
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # the toolkit's
        env["HOME"] = home
        env.update(RecordingBrowser(home, os.path.join(home, "opened")))
        record = os.path.join(home, "requests")
        service = serve([sys.executable, sample_path, "--host", host, "--port", port,
                         "--share-domain", share_domain, "--record", record, "--quiet"],
                        f"http://{search_host}/support", env)
        if service is None:
            print(f"skipped: {search_host} is held by another program", flush=True)
            return SKIPPED

        # Each page replaces the last; overlapping jobs clear each other's.
        window = open_unlocked(pyatspi, program, env, home)
        if window is None:
            return 1
        app, frame = window.app, window.frame

        soak = Soak(pyatspi, window, catalogue, record)
        soak.keyword, soak.page = KEYWORDS[0], 1
        soak.command("按钮1", soak.keyword)
        soak.expect_page("search")
        chance = random.Random(20240611)
        # Resident memory after the warm-up (the toolkit's caches fill during the first hundreds
        # of commands), halfway and at the end; flat means the second half adds nothing.
        marks = {max(50, total // 10): None, total // 2: None}
        reported = 0
        started = time.monotonic()
        while soak.commands < total and app.poll() is None and len(failures) < 10:
            soak.step(chance)
            for mark in marks:
                if marks[mark] is None and soak.commands >= mark:
                    marks[mark] = (soak.commands, resident_kib(app.pid))
            if soak.commands // 250 > reported:
                reported = soak.commands // 250
                print(f"{soak.commands} commands, {time.monotonic() - started:.0f} s, "
                      f"resident {resident_kib(app.pid) // 1024} MiB", flush=True)
        seconds = time.monotonic() - started
        expect(app.poll() is None, f"the program ended after {soak.commands} commands "
                                   f"({app.returncode})")
        expect(no_results_box(pyatspi, frame) is None, "a no-results box showed during the soak")
        end = (soak.commands, resident_kib(app.pid))
        (warm_at, warm_kib), (half_at, half_kib) = [marks[m] or end for m in sorted(marks)]
        per_thousand = lambda a, b: (b[1] - a[1]) * 1000 / max(1, b[0] - a[0])  # noqa: E731
        print(f"{soak.commands} commands in {seconds:.0f} s; resident memory {warm_kib // 1024} "
              f"MiB after {warm_at}, {half_kib // 1024} MiB after {half_at}, {end[1] // 1024} MiB "
              f"at the end; growth per thousand commands: "
              f"{per_thousand((warm_at, warm_kib), end):.0f} KiB after the warm-up, "
              f"{per_thousand((half_at, half_kib), end):.0f} KiB in the second half", flush=True)
        if end[0] - half_at >= 500:  # shorter runs measure the allocator more than Pelvaro
            growth = per_thousand((half_at, half_kib), end)
            expect(growth < MOST_GROWTH_KIB_PER_THOUSAND,
                   f"resident memory grew by {growth:.0f} KiB per thousand commands")

        focus_and_escape(env)
        if not wait_for(lambda: app.poll() is not None, 20):
            app.kill()
        app.wait()
        expect(app.returncode == 0, f"the program ended with exit code {app.returncode}")
    return 1 if failures else 0


if __name__ == "__main__":
    code = main(*sys.argv[1:])
    print({0: "PASSED", SKIPPED: "SKIPPED"}.get(code, "FAILED"), flush=True)
    sys.exit(code)
