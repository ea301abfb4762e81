#!/usr/bin/env python3
"""Fields through the real window: pelvaro-service serves shares whose names and sharers hold
"&", quotes, tags, emoji, full-width forms, 255 characters and edge spaces; a search in Pelvaro
must show every cell as imported. Characters code page 936 lacks (emoji) show as the client's
conversion makes them, so there any one or two characters are accepted.

    fields_test.py PELVARO SEARCH_HOST START_PAGE

Exits 77 (skipped) when the search host is not a free loopback port that also serves the start
page.
"""

import csv
import os
import re
import socket
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import SKIPPED, expect, failures, table_rows  # noqa: E402
from gui_session import GuiSession, wait_for  # noqa: E402
from hostile_test import open_unlocked  # noqa: E402
from main_window_test import press  # noqa: E402

KEYWORD = "字段测试"
SHARES = [  # name, size, sharer, date, link
    ("Tom & Jerry \"<b>粗体</b>\" 'x' &amp; ＦＵＬＬ＆ 字段测试 😀", "", "影视&小站 😀", "2024-03-03",
     "https://pan.baidu.com/s/f1?pwd=a&x=1"),
    ("字段测试" + "长" * 251, "2.61G", "s", "2024-03-02", "https://pan.baidu.com/s/f2"),
    ("  字段测试 edge spaces  ", "1K", " 两边 ", "2024-03-01", "http://example.com/f3"),
]


def shown_as(text):
    """A pattern for text as the window shows it: characters outside code page 936 as one or two
    characters of whatever the conversion made of them."""
    pattern = ""
    for character in text:
        try:
            character.encode("gbk")
            pattern += re.escape(character)
        except UnicodeEncodeError:
            pattern += ".{1,2}"
    return re.compile(pattern + r"\Z", re.DOTALL)


def main(program, search_host, start_page):
    host, _, port = search_host.rpartition(":")
    if host != "127.0.0.1" or urllib.parse.urlsplit(start_page).netloc != search_host:
        print(f"skipped: pelvaro-service cannot stand in for {search_host} and {start_page}")
        return SKIPPED
    with GuiSession() as session, tempfile.TemporaryDirectory() as home:
        import pyatspi  # connects to the session's bus, so only once it runs

        catalogue = os.path.join(home, "fields.csv")
        with open(catalogue, "w", newline="", encoding="utf-8") as out:
            writer = csv.writer(out, lineterminator="\n")
            writer.writerow(["name", "size", "sharer", "date", "link"])
            writer.writerows(SHARES)
        with socket.socket() as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind((host, int(port)))
            except OSError:
                print(f"skipped: {search_host} is held by another program", flush=True)
                return SKIPPED
        env = session.env
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"  # the toolkit's
        env["HOME"] = home
        service = subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(__file__), "service_launcher.py"),
             "--catalogue", catalogue, "--host", host, "--port", port, "--quiet"], env=env)
        try:
            def answers():
                try:
                    with urllib.request.urlopen(start_page, timeout=2) as reply:
                        return reply.status == 200
                except OSError:
                    return service.poll() is not None
            if not expect(wait_for(answers, 30) and service.poll() is None,
                          "pelvaro-service did not start"):
                return 1
            window = open_unlocked(pyatspi, program, env, home)
            if window is None:
                return 1
            try:
                window.by_id["编辑框1"].queryEditableText().setTextContents(KEYWORD)
                press(pyatspi, window.by_id["按钮1"])
                grid = window.by_id["超级列表框1"].queryTable()
                rows = wait_for(lambda: (r := table_rows(grid)) and len(r) == len(SHARES) and r,
                                30)
                if not expect(rows, f"the table shows {table_rows(grid)}"):
                    return 1
                for row, (name, size, sharer, _, link) in zip(rows, SHARES):
                    want = [name, size or "文件夹", sharer, link]
                    for column, (got, text) in enumerate(zip(row, want)):
                        expect(shown_as(text).match(got),
                               f"column {column} shows {got!r} for the imported {text!r}")
            finally:
                window.app.kill()
                window.app.wait()
        finally:
            service.terminate()
            service.wait()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
