#!/usr/bin/env bash
# Installs what is missing, builds Pelvaro, starts the sample search service and then Pelvaro.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Only what building and running Pelvaro needs; the tests' and the Windows build's packages are
# scripts/test.sh's.
"$root/scripts/deps.sh" linux
cmake --preset run >/dev/null
cmake --build --preset run --target pelvaro

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); Pelvaro needs a desktop session." >&2
  exit 1
fi

service=""
if [[ -f tools/sample-service/sample_service.py ]]; then
  python3 tools/sample-service/sample_service.py --port 8936 &
  service=$!
  trap 'kill "$service" 2>/dev/null || true' EXIT
fi
build/run/src/pelvaro
