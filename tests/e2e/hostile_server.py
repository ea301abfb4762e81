#!/usr/bin/env python3
"""A hostile search service for Pelvaro's end-to-end tests: a loopback HTTP server that answers a
search for one of the keywords below with a faulty or malicious reply, and every other request as
the sample service does (the support page, and result pages from its catalogue).

    hostile-big        a 6 MB result page: 6 MB inside the results region, then the page's hits
    hostile-overcap    the same with 20 MB, beyond what the client takes of a body
    hostile-unclosed   a region full of result blocks that never close
    hostile-hugefield  the same, then the page's hits: the first block holds a field of 5 MB
    hostile-cut        the page's hits, then a body cut off in the middle of a character
    hostile-zero       a zero byte before the results region
    hostile-badutf8    invalid UTF-8 in the hits of a page declared as UTF-8
    hostile-header     a header block of about 6000 bytes before the page's hits
    hostile-hugeheader a header block of 2 MB
    hostile-loop       "301 Moved Permanently" back to the same address, for ever
    hostile-reset      the connection reset as soon as the request has arrived
    hostile-silent     the connection accepted and never answered (held for --hold seconds)
    hostile-endless    a body announced as 2 GB and sent slowly (16 KB every 0.1 s, for --hold s)
    hostile-links      hits whose links are file:, javascript:, program paths and shell commands

The page's hits are those of the keyword HITS_KEYWORD, page 1, as the sample service prints them.
Listens on 127.0.0.1 only, and ends by itself after --lifetime seconds.

    hostile_server.py --port PORT --sample SERVICE_LAUNCHER [--share-domain D] [--record FILE]
"""

import argparse
import importlib.util
import os
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

HITS_KEYWORD = "版"
BIG_BYTES = 6 << 20
OVERCAP_BYTES = 20 << 20
HEAD_LIMIT = 64 << 10

# Links a page may carry that must never be opened, nor reach a shell: (name shown, link).
# MARKER is replaced by a path the test watches; a shell that ran any of these would create it.
UNSAFE_LINKS = [
    ("本地文件", "file:///etc/passwd"),
    ("脚本链接", "javascript:alert(document.cookie)"),
    ("程序路径", "/usr/bin/touch MARKER"),
    ("命令替换", "$(touch MARKER)"),
    ("分号命令", "; touch MARKER #"),
    ("管道命令", "| touch MARKER"),
    ("反引号", "`touch MARKER`"),
    ("Windows 程序", "C:\\Windows\\System32\\calc.exe"),
    ("数据链接", "data:text/html,<script>alert(1)</script>"),
]
# Web addresses carrying shell metacharacters: handed to the browser as they stand, as one argument.
WEB_LINKS_WITH_METACHARACTERS = [
    ("网址命令替换", "http://127.0.0.1:9/$(touch MARKER)"),
    ("网址分号", "https://127.0.0.1:9/a;touch MARKER;'\"`x`"),
]


def load_sample(path):
    module_spec = importlib.util.spec_from_file_location("sample_service", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


class Pages:
    def __init__(self, sample, share_domain, marker):
        self.sample, self.domain, self.marker = sample, share_domain, marker

    def results(self, keyword=HITS_KEYWORD, page=1):
        return self.sample.result_page(keyword, page, self.domain)

    def with_region_prefix(self, inserted, keyword=HITS_KEYWORD):
        """The keyword's page with inserted at the start of the results region."""
        text = self.results(keyword)
        cut = text.index("</script><br><br>") + len("</script><br><br>")
        return text[:cut] + inserted + text[cut:]

    def block(self, name, link):
        share = self.sample.Share(name, "1.0M", "hostile", "2024-01-01", "x")
        html = self.sample.result_block(share, "", self.domain)
        good = f"https://{self.domain}/s/x"
        return html.replace(good, link.replace("MARKER", self.marker).replace('"', "&quot;"))

    def links(self):
        blocks = "".join(self.block(name, link)
                         for name, link in UNSAFE_LINKS + WEB_LINKS_WITH_METACHARACTERS)
        text = self.results("没有这个分享")
        cut = text.index("<script>pager(")
        return text[:cut] + blocks + text[cut:]


def response(status, body, headers=(("Content-Type", "text/html; charset=utf-8"),), length=None):
    head = [f"HTTP/1.1 {status}"] + [f"{name}: {value}" for name, value in headers]
    head.append(f"Content-Length: {len(body) if length is None else length}")
    head.append("Connection: close")
    return ("\r\n".join(head) + "\r\n\r\n").encode() + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(10)
        head = b""
        try:
            while b"\r\n\r\n" not in head and len(head) < HEAD_LIMIT:
                piece = sock.recv(4096)
                if not piece:
                    return
                head += piece
        except OSError:
            return
        line = head.split(b"\r\n", 1)[0].decode("latin-1")
        self.server.record(line)
        parts = line.split(" ")
        target = urllib.parse.urlsplit(parts[1] if len(parts) > 1 else "/")
        query = dict(urllib.parse.parse_qsl(target.query, keep_blank_values=True,
                                            encoding="utf-8", errors="replace"))
        keyword = query.get("q", "")
        try:
            self.answer(sock, target, keyword, query)
        except OSError:
            pass

    def answer(self, sock, target, keyword, query):
        pages = self.server.pages
        page_text = lambda text: response("200 OK", text.encode("utf-8"))  # noqa: E731
        if target.path in ("/support", "/support/thanks"):
            text = pages.sample.SUPPORT_PAGE if target.path == "/support" else \
                pages.sample.THANKS_PAGE
            sock.sendall(page_text(text))
        elif target.path != "/":
            sock.sendall(response("404 Not Found", b"not here"))
        elif keyword in ("hostile-big", "hostile-overcap"):
            filler = "<p>填充 filler 文字</p>\n"
            size = BIG_BYTES if keyword == "hostile-big" else OVERCAP_BYTES
            count = size // len(filler.encode("utf-8"))
            sock.sendall(page_text(pages.with_region_prefix(filler * count)))
        elif keyword in ("hostile-unclosed", "hostile-hugefield"):
            # 40 000 block openings with no foot; the huge field's page has its hits after them,
            # so that its first block runs over all of them and its size field takes 5 MB.
            opening = pages.sample.BLOCK_LEFT + "https://x/s/1\">未闭合 文件名:未闭合 文件大小:1M "
            base = "没有这个分享" if keyword == "hostile-unclosed" else HITS_KEYWORD
            sock.sendall(page_text(pages.with_region_prefix(opening * 40000, base)))
        elif keyword == "hostile-cut":
            body = (pages.results() + "<!-- 尾巴 -->").encode("utf-8")
            cut = len(body) - len("尾巴 -->".encode("utf-8")) + 1  # one byte into 尾
            sock.sendall(response("200 OK", body[:cut], length=len(body)))
        elif keyword == "hostile-zero":
            text = pages.results()
            cut = text.index("</script><br><br>")
            sock.sendall(response("200 OK", (text[:cut] + "\0" + text[cut:]).encode("utf-8")))
        elif keyword == "hostile-badutf8":
            body = pages.results().encode("utf-8")
            # A lone continuation byte, an overlong slash, bytes that never occur, a truncated
            # sequence, a surrogate: in the summary, and in the name of every hit.
            bad = b"\x80\xC0\xAF\xFF\xFE\xE4\xBD\xED\xA0\x80"
            body = body.replace("找到".encode("utf-8"), bad, 1)
            body = body.replace("文件名:".encode("utf-8"), "文件名:".encode("utf-8") + bad)
            sock.sendall(response("200 OK", body))
        elif keyword == "hostile-header":
            # The client cannot keep so long a header block, so the charset must show in the
            # body's first bytes, the way the client looks for it there.
            pad = [(f"X-Pad-{i}", "p" * 90) for i in range(60)]
            text = pages.results().replace('<meta charset="utf-8">', "<meta charset=utf-8>", 1)
            sock.sendall(response("200 OK", text.encode("utf-8"),
                                  headers=[("Content-Type", "text/html; charset=utf-8")] + pad))
        elif keyword == "hostile-hugeheader":
            pad = [(f"X-Pad-{i}", "p" * 1000) for i in range(2048)]
            sock.sendall(response("200 OK", pages.results().encode("utf-8"), headers=pad))
        elif keyword.startswith("hostile-loop"):
            # Back to the same search, whatever path the client appends to the location.
            host = f"127.0.0.1:{self.server.server_address[1]}"
            sock.sendall(response("301 Moved Permanently", b"moved",
                                  headers=[("Location", f"http://{host}/?q=hostile-loop")]))
        elif keyword == "hostile-reset":
            # Closed here with a zero linger: a reset, not the orderly end the server would give.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
            sock.close()
        elif keyword == "hostile-silent":
            deadline = time.monotonic() + self.server.hold
            while time.monotonic() < deadline and not self.server.stopping.is_set():
                time.sleep(0.2)
        elif keyword == "hostile-endless":
            head = pages.results().encode("utf-8")[:4096]
            sock.sendall(response("200 OK", head, length=2 << 30))
            filler = b"x" * (16 << 10)
            deadline = time.monotonic() + self.server.hold
            while time.monotonic() < deadline and not self.server.stopping.is_set():
                sock.sendall(filler)
                time.sleep(0.1)
        elif keyword == "hostile-links":
            sock.sendall(page_text(pages.links()))
        else:
            try:
                page = max(1, int(query.get("page", "1")))
            except ValueError:
                page = 1
            sock.sendall(page_text(pages.results(keyword, page)))


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, pages, record, hold):
        self.pages, self.record_path, self.hold = pages, record, hold
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        super().__init__(("127.0.0.1", port), Handler)

    def record(self, line):
        if self.record_path:
            with self.lock, open(self.record_path, "a", encoding="latin-1") as out:
                out.write(line + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--sample", required=True, help="path of service_launcher.py (catalogue and page format)")
    parser.add_argument("--share-domain", default="pan.baidu.com")
    parser.add_argument("--record", help="append each request line to this file")
    parser.add_argument("--marker", default=os.path.join(os.getcwd(), "shell-ran"),
                        help="the file the links' shell commands would create")
    parser.add_argument("--hold", type=float, default=60, help="seconds a silent answer lasts")
    parser.add_argument("--lifetime", type=float, default=900, help="seconds until the server ends")
    args = parser.parse_args()

    pages = Pages(load_sample(args.sample), args.share_domain, args.marker)
    try:
        server = Server(args.port, pages, args.record, args.hold)
    except OSError as error:
        print(f"cannot listen on 127.0.0.1:{args.port}: {error.strerror}", file=sys.stderr)
        return 1
    timer = threading.Timer(args.lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
