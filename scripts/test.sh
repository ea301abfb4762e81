#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/deps.sh"

jobs=$(nproc)
# linux-tsan builds and runs only the suites where threads meet: the commands, the job, HTTP.
for preset in linux linux-asan linux-tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz (smoke)"
"$root/scripts/fuzz.sh" 20

# The Debian package of the linux build: validators, install, start under Xvfb.
"$root/scripts/release.sh" linux

echo "== windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs"

# The Windows download: the zip's contents, and the exe starting from the unpacked folder.
"$root/scripts/release.sh" windows
