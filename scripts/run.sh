#!/usr/bin/env bash
# Installs what is missing, builds Pelvaro and pelvaro-service, imports the sample catalogue
# (data/sample-shares.csv) into build/linux/sample-shares.db, starts pelvaro-service on the search
# host's loopback port and then Pelvaro. The service stops when Pelvaro closes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh"
cmake --preset linux >/dev/null
cmake --build --preset linux --target pelvaro pelvaro-service

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); Pelvaro needs a desktop session." >&2
  exit 1
fi

service_program=build/linux/src/service/pelvaro-service
database=build/linux/sample-shares.db
# A share already in the database is updated in place, so importing on every run is harmless.
"$service_program" import --db "$database" data/sample-shares.csv
"$service_program" serve --db "$database" --listen 127.0.0.1:8936 &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT
# Pelvaro loads its start page from the service at once: wait until it answers.
for _ in $(seq 50); do
  curl -fs -o /dev/null http://127.0.0.1:8936/support && break
  kill -0 "$service" 2>/dev/null || exit 1
  sleep 0.1
done
build/linux/src/pelvaro
