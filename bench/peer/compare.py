#!/usr/bin/env python3
"""Runs the native page parser (search_page_bench) and its Python re peer on the same pages in one
run and prints their throughput and ratio. Both sides count processor time and report their best
run (the native side the fastest of several repetitions, the peer its fastest parse), so that
other work on a shared machine skews neither.

    python3 bench/peer/compare.py build/<dir>/bench/search_page_bench
"""

import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_pages  # noqa: E402
import search_page_peer  # noqa: E402


def native(bench, directory):
    output = subprocess.run(
        [bench, "--benchmark_filter=ParseResultPage", "--benchmark_format=json",
         "--benchmark_min_time=0.5", "--benchmark_repetitions=5"],
        env=dict(os.environ, PELVARO_PAGE_DIR=str(directory)),
        check=True, capture_output=True, text=True).stdout
    speeds = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("run_type") == "iteration":
            speed = entry["bytes_per_second"] / 1e6
            speeds[entry["label"]] = max(speeds.get(entry["label"], 0.0), speed)
    return speeds


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as directory:
        make_pages.write(directory)
        speeds = native(sys.argv[1], directory)
        print(f"{'page':<16}{'native MB/s':>14}{'Python re MB/s':>17}{'ratio':>9}")
        for name in make_pages.PAGES:
            seconds, rows, size = search_page_peer.measure(Path(directory) / name)
            python = size / seconds / 1e6
            print(f"{name:<16}{speeds[name]:>14.1f}{python:>17.1f}{speeds[name] / python:>8.1f}x"
                  f"   ({rows} rows)")


if __name__ == "__main__":
    main()
