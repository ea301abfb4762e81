#!/usr/bin/env bash
# Runs the Windows build's app tests under Wine with the sample service beside them. A Windows
# program under Wine cannot start the service's Linux interpreter, so this script starts it on the
# port the tests search, recording each request's head, and names the record file to the program
# in PELVARO_SAMPLE_RECORD (a Windows path: Wine shows / as drive Z:):
#   sample_service_under_wine.sh SAMPLE_SERVICE.py HOST PORT SHARE_DOMAIN PROGRAM.exe [ARGUMENTS...]
# Fails at once, saying why, when the service cannot start (its port taken, say). The service is
# ended by its process id.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
usage="usage: sample_service_under_wine.sh SAMPLE_SERVICE.py HOST PORT SHARE_DOMAIN PROGRAM.exe [ARGUMENTS...]"
service_script=${1:?$usage}
host=${2:?$usage}
port=${3:?$usage}
share_domain=${4:?$usage}
shift 4
(($#)) || { echo "$usage" >&2; exit 2; }

work=$(mktemp -d)
service=""
cleanup() {
  if [[ -n "$service" ]]; then
    kill "$service" 2>/dev/null || true
    wait "$service" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$service_script" --host "$host" --port "$port" --share-domain "$share_domain" \
  --record "$work/requests" 2>"$work/service.log" >/dev/null &
service=$!
for _ in $(seq 150); do
  grep -q "^sample service on " "$work/service.log" && break
  if ! kill -0 "$service" 2>/dev/null; then
    service=""
    echo "the sample service ended at once (port $port taken?):" >&2
    cat "$work/service.log" >&2
    exit 1
  fi
  sleep 0.1
done
grep -q "^sample service on " "$work/service.log" ||
  { echo "the sample service did not start in time" >&2; exit 1; }

: >"$work/requests"
PELVARO_SAMPLE_RECORD="Z:$work/requests" "$scripts/wine-run.sh" "$@"
