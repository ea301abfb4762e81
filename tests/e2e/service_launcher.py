#!/usr/bin/env python3
"""The tests' way to the real search service: runs pelvaro-service over the sample catalogue
(data/sample-shares.csv) on a loopback port, and describes that catalogue and the result page
format for the checks and for the test doubles that stand in for the service.

    service_launcher.py [--program PELVARO_SERVICE] [--catalogue CSV] [--host H] [--port P]
                        [--share-domain D] [--record FILE] [--timing-log FILE]
                        [--delay PAGE=SECONDS]... [--quiet]

Imports the catalogue into a database in a temporary folder and starts "pelvaro-service serve".
With --record, the service listens on a free port and this launcher, on the asked one, passes each
request through and appends the request's line and headers, byte for byte, to FILE (and with
--timing-log, when each search arrived and was answered), and with --delay holds a search for
that page back before passing it on: that relay is the only part that is a test's own. The service is found by --program, else by the
PELVARO_SERVICE_PROGRAM environment variable, else in build/linux. It ends with the launcher.
"""

import argparse
import csv
import ctypes
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from typing import NamedTuple, Optional

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CATALOGUE_FILE = os.path.join(ROOT, "data", "sample-shares.csv")
PAGE_SIZE = 10


class Share(NamedTuple):
    name: str
    size: Optional[str]  # "" is a folder
    sharer: str
    date: str
    code: str  # the share's path on the storage service
    via_download: bool = False  # used by test doubles only: the link goes through "?download="


def read_catalogue(path=CATALOGUE_FILE):
    """The catalogue's shares in the service's order: newest date first, and among one date's
    shares the later line first."""
    with open(path, encoding="utf-8", newline="") as source:
        rows = list(csv.DictReader(source))
    shares = [Share(row["name"], row["size"], row["sharer"], row["date"],
                    row["link"].rsplit("/", 1)[1]) for row in rows]
    order = sorted(range(len(shares)), key=lambda i: (shares[i].date, i), reverse=True)
    return [shares[i] for i in order]


CATALOGUE = read_catalogue()

# ---- the result page format, for test doubles that serve pages of their own ----

BLOCK_LEFT = "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\""


def emphasise(text, keyword):
    if not keyword:
        return text
    folded, sought = text.lower(), keyword.lower()
    pieces, start = [], 0
    while (found := folded.find(sought, start)) != -1:
        end = found + len(sought)
        pieces += [text[start:found], "<em>", text[found:end], "</em>"]
        start = end
    pieces.append(text[start:])
    return "".join(pieces)


def result_block(share, keyword, domain):
    link = f"https://{domain}/s/{share.code}"
    if share.via_download:
        link = "?download=" + link
    name = emphasise(share.name, keyword)
    fields = [f"文件名:{name}", f"文件大小:{share.size or ''}", f"分享者:{share.sharer}",
              f"分享时间:{share.date}"]
    return (f"{BLOCK_LEFT}{link}\">{name}</a></h2><p>{' '.join(fields)}</p>"
            f"<div class=\"other\">{domain}</div></div>\r\n")


def result_page(keyword, page, domain):
    hits = [share for share in CATALOGUE if keyword.lower() in share.name.lower()]
    shown = hits[(page - 1) * PAGE_SIZE:page * PAGE_SIZE] if page >= 1 and keyword else []
    blocks = "".join(result_block(share, keyword, domain) for share in shown)
    return ("<!DOCTYPE html>\n<html><head>"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
            f"<title>第{page}页</title></head>\n<body><center>\n<script></script><br><br>\n"
            f"{blocks}<script>pager({page});</script></center><br>"
            "<script type=\"text/javascript\">var testDouble = true;</script>\n</body></html>\n")


SUPPORT_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>支持作者</title></head>
<body style="font-family: sans-serif; font-size: 14px">
<h3>感谢使用</h3>
<p>如果这个小工具帮到了你，欢迎支持作者。</p>
<p><a href="/support/thanks" target="_blank">点这里支持作者</a></p>
</body></html>
"""

THANKS_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>谢谢支持</title></head>
<body style="font-family: sans-serif"><h3>谢谢你的支持！</h3><p>现在可以开始搜索了。</p></body></html>
"""

# ---- running the real service ----


def service_program(given):
    for candidate in (given, os.environ.get("PELVARO_SERVICE_PROGRAM"),
                      os.path.join(ROOT, "build", "linux", "src", "service", "pelvaro-service")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise SystemExit("pelvaro-service is not built (cmake --build --preset linux)")


def end_with_parent():
    """In the child: the kernel ends it when the launcher ends, however the launcher ends."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_service(program, database, listen, share_domain, log):
    process = subprocess.Popen([program, "serve", "--db", database, "--listen", listen,
                                "--share-domain", share_domain],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
                               preexec_fn=end_with_parent)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and process.poll() is None:
        with open(log.name, encoding="utf-8", errors="replace") as text:
            for line in text:
                if "listening on http://" in line:
                    return process, int(line.rsplit(":", 1)[1].strip().rstrip("/"))
        time.sleep(0.02)
    return process, None


def requested_page(target):
    """The page number a search target asks for, or None."""
    if not target.startswith("/?"):
        return None
    pages = urllib.parse.parse_qs(target[2:]).get("page", [])
    try:
        return int(pages[0]) if pages else None
    except ValueError:
        return None


def relay(client, upstream_port, record, timing, delays, lock):
    """Passes requests from one client connection through to the service, recording each head
    and, with timing, when each search's head was read and its whole answer written. A search
    for a page in delays is passed on that many seconds late, so that a later one overtakes it."""
    pending = b""
    try:
        while True:
            while b"\r\n\r\n" not in pending and b"\n\n" not in pending:
                chunk = client.recv(65536)
                if not chunk:
                    return
                pending += chunk
            ends = [at + len(mark) for mark in (b"\r\n\r\n", b"\n\n")
                    if (at := pending.find(mark)) != -1]
            end = min(ends)
            head, pending = pending[:end], pending[end:]
            head_read = time.monotonic()
            if record:
                with lock, open(record, "ab") as out:
                    out.write(head)
            target = head.split(b" ")[1].decode("latin-1") if head.count(b" ") >= 2 else ""
            delay = delays.get(requested_page(target))
            if delay:
                time.sleep(delay)
            # Passed on asking the service to close after answering, so that the answer's end is
            # the connection's end; the client is told the same and opens a new one.
            lines = [line for line in head.rstrip(b"\r\n").split(b"\n")
                     if not line.lower().startswith(b"connection:")]
            forwarded = b"\n".join(lines) + b"\r\nConnection: close\r\n\r\n"
            with socket.create_connection(("127.0.0.1", upstream_port), timeout=30) as upstream:
                upstream.sendall(forwarded)
                while data := upstream.recv(65536):
                    client.sendall(data)
            if timing and target.startswith("/?"):
                written = time.monotonic()
                with lock, open(timing, "a") as out:
                    out.write(f"{head_read:.6f} {written:.6f} {target}\n")
            return
    except OSError:
        return
    finally:
        client.close()


def page_delay(text):
    page, separator, seconds = text.partition("=")
    try:
        if separator and int(page) >= 1 and float(seconds) >= 0:
            return int(page), float(seconds)
    except ValueError:
        pass
    raise argparse.ArgumentTypeError(f"not PAGE=SECONDS: {text!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program")
    parser.add_argument("--catalogue", default=CATALOGUE_FILE,
                        help="the catalogue to serve (default data/sample-shares.csv)")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8936)
    parser.add_argument("--share-domain", default="pan.baidu.com")
    parser.add_argument("--record", metavar="FILE")
    parser.add_argument("--timing-log", metavar="FILE",
                        help="with --record: append, for each search, the CLOCK_MONOTONIC seconds "
                             "its head was read and its answer written, and its target")
    parser.add_argument("--delay", metavar="PAGE=SECONDS", action="append", default=[],
                        type=page_delay,
                        help="with --record: pass searches for PAGE on SECONDS late (repeatable)")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()
    if args.delay and not args.record:
        parser.error("--delay needs --record: the delay is the relay's")
    program = service_program(args.program)

    with tempfile.TemporaryDirectory(prefix="pelvaro-service-") as folder:
        database = os.path.join(folder, "shares.db")
        imported = subprocess.run([program, "import", "--db", database, args.catalogue],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if imported.returncode != 0:
            print(imported.stderr, file=sys.stderr)
            return 1
        listener = None
        if args.record:
            # The asked port is ours, the service's a free one behind it.
            listener = socket.socket(socket.AF_INET6 if ":" in args.host else socket.AF_INET)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                listener.bind((args.host, args.port))
            except OSError as error:
                print(f"cannot listen on {args.host}:{args.port}: {error.strerror}",
                      file=sys.stderr)
                return 1
            listener.listen(128)
            listen = "127.0.0.1:0"
        else:
            host = f"[{args.host}]" if ":" in args.host else args.host
            listen = f"{host}:{args.port}"
        with open(os.path.join(folder, "serve.log"), "w") as log:
            service, port = start_service(program, database, listen, args.share_domain, log)
        if port is None:
            with open(os.path.join(folder, "serve.log")) as log:
                sys.stderr.write(log.read())
            service.kill()
            return 1

        def stop(*_):
            service.terminate()
            raise SystemExit(0)

        signal.signal(signal.SIGTERM, stop)
        signal.signal(signal.SIGINT, stop)
        if not args.quiet:
            print(f"sample service on http://{args.host}:{args.port}/ (pelvaro-service)",
                  file=sys.stderr, flush=True)
        try:
            if listener is None:
                service.wait()
                return 1
            lock, delays = threading.Lock(), dict(args.delay)
            while True:
                client, _ = listener.accept()
                threading.Thread(target=relay, daemon=True,
                                 args=(client, port, args.record, args.timing_log, delays,
                                       lock)).start()
        finally:
            service.terminate()
            service.wait()


if __name__ == "__main__":
    sys.exit(main())
