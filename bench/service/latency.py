#!/usr/bin/env python3
"""Query latency of a running pelvaro-service, keyword by keyword, one request at a time over one
keep-alive connection (so the figure is the service's answer time plus loopback, not connects).

    latency.py PORT [--requests N]

Prints, for each keyword and page, the number of hits on the page and p50/p99 in milliseconds.
Standard library only.
"""

import argparse
import http.client
import statistics
import sys
import time
import urllib.parse

# (class, keyword): frequencies as bench/service/make_catalogue.py draws them.
KEYWORDS = [
    ("1 char, common", "电"),
    ("1 char, common", "集"),
    ("1 char, rare", "玄"),
    ("2 chars, common", "电影"),
    ("2 chars, common", "合集"),
    ("2 chars, common", "mp"),
    ("2 chars, rare", "玄黄"),
    ("2 chars, none", "鑫鑫"),
    ("3+ chars, common", "mp4"),
    ("3+ chars, common", "电子书"),
    ("3+ chars, common", "1080p"),
    ("3+ chars, rare", "天地玄"),
    ("3+ chars, rare", "Remastered.HDR"),
    ("3+ chars, none", "ubuntu server 24"),
]
PAGES = [1, 50]


reconnects = 0


def fetch(connection, target):
    """One answer's body; a keep-alive connection the server closed is opened again (counted)."""
    global reconnects
    try:
        connection.request("GET", target)
        return connection.getresponse().read()
    except (http.client.RemoteDisconnected, ConnectionError):
        reconnects += 1
        connection.close()
        connection.request("GET", target)
        return connection.getresponse().read()


def measure(connection, keyword, page, count):
    target = f"/?q={urllib.parse.quote(keyword)}&page={page}&by=prev"
    times, hits = [], 0
    for _ in range(count):
        start = time.perf_counter()
        body = fetch(connection, target)
        times.append((time.perf_counter() - start) * 1000)
        hits = body.count(b'<div class="article ali_row">')
    times.sort()
    return hits, statistics.median(times), times[min(len(times) - 1, int(len(times) * 0.99))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("port", type=int)
    parser.add_argument("--requests", type=int, default=200)
    args = parser.parse_args()
    connection = http.client.HTTPConnection("127.0.0.1", args.port, timeout=30)
    print(f"{'keyword':<22} {'class':<18} {'page':>5} {'hits':>5} {'p50 ms':>8} {'p99 ms':>8}")
    worst = {}
    for kind, keyword in KEYWORDS:
        for page in PAGES:
            hits, p50, p99 = measure(connection, keyword, page, args.requests)
            print(f"{keyword:<22} {kind:<18} {page:>5} {hits:>5} {p50:>8.2f} {p99:>8.2f}")
            worst[kind] = max(worst.get(kind, 0), p99)
    print("worst p99 by class: " + ", ".join(f"{k}: {v:.2f} ms" for k, v in worst.items()))
    print(f"keep-alive connections closed by the server and opened again: {reconnects}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
