#!/usr/bin/env bash
# pelvaro-service at scale: a synthetic catalogue of 1 000 000 shares (made once, kept under
# build/bench-service/, never committed), imported into a fresh database, then served and measured.
#   bench/service/run.sh [shares, default 1000000]
# Prints: import rate, database size, query latency p50/p99 by keyword class (latency.py),
# requests a second with 50 concurrent clients (wrk, mixed keywords and pages), and the server's
# resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shares=${1:-1000000}
work="$root/build/bench-service"
program="$root/build/linux/src/service/pelvaro-service"
mkdir -p "$work"

cmake --preset linux >/dev/null
cmake --build --preset linux --target pelvaro-service >/dev/null

catalogue="$work/shares-$shares.csv"
if [[ ! -f "$catalogue" ]]; then
  echo "== making $catalogue"
  python3 "$root/bench/service/make_catalogue.py" --shares "$shares" "$catalogue"
fi

echo "== import ($shares shares, $(du -h "$catalogue" | cut -f1) of CSV)"
rm -f "$work/bench.db" "$work/bench.db-wal" "$work/bench.db-shm"
start=$(date +%s.%N)
"$program" import --db "$work/bench.db" "$catalogue" 2>&1 | tail -1
end=$(date +%s.%N)
python3 -c "print(f'import: {$shares / ($end - $start):.0f} shares a second, wall clock, process start to end')"
echo "database: $(du -h "$work/bench.db" | cut -f1) ($(stat -c %s "$work/bench.db") bytes)"

echo "== serve"
"$program" serve --db "$work/bench.db" --listen 127.0.0.1:0 2>"$work/serve.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q "listening on" "$work/serve.log" && break
  sleep 0.1
done
port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.log")

echo "== latency, one client, 200 requests per keyword and page"
python3 "$root/bench/service/latency.py" "$port"

echo "== throughput, 50 concurrent clients over loopback (wrk -t2 -c50 -d10s, mixed keywords)"
wrk -t2 -c50 -d10s --latency -s "$root/bench/service/mixed.lua" "http://127.0.0.1:$port/" |
  grep -E "Requests/sec|Latency|50%|99%|requests in|Socket errors|Non-2xx"

echo "== server memory after the runs"
grep -E "VmRSS|VmHWM" "/proc/$server/status"
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg) (2 cores; other work on the machine counts)"
