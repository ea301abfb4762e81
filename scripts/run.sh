#!/usr/bin/env bash
# Installs what building and running Pelvaro needs, builds Pelvaro and pelvaro-service, imports the
# sample catalogue, starts the service and then Pelvaro.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Only what building and running Pelvaro needs; the tests' and the Windows build's packages are
# scripts/test.sh's.
"$root/scripts/deps.sh" linux
cmake --preset run >/dev/null
cmake --build --preset run --target pelvaro pelvaro-service

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); Pelvaro needs a desktop session." >&2
  exit 1
fi

service_program=build/run/src/service/pelvaro-service
database=build/run/sample-shares.db
# A share already in the database is updated in place, so importing on every run is harmless.
"$service_program" import --db "$database" data/sample-shares.csv
"$service_program" serve --db "$database" --listen 127.0.0.1:8936 &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT
# Pelvaro loads its start page from the service at once: wait until it listens.
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/8936) 2>/dev/null && break
  kill -0 "$service" 2>/dev/null || exit 1
  sleep 0.1
done
build/run/src/pelvaro
