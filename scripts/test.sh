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

# The shipped 32-bit build is always built. Its suites run under 32-bit Wine where this machine
# runs 32-bit programs; elsewhere the same sources built 64-bit (preset windows64, test-only) run
# the same suites under wine64.
echo "== windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
if why=$("$root/scripts/wine32-check.sh"); then
  echo "== windows: testing the 32-bit build under 32-bit Wine (preset windows): this machine runs 32-bit programs"
  ctest --preset windows -j "$jobs"
else
  echo "== windows: testing the 64-bit build under wine64 (preset windows64), not the shipped 32-bit exe: $why"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64 -j "$jobs"
  ctest --preset windows64 -j "$jobs"
fi

# The Windows download: the zip's contents, and the exe starting from the unpacked folder (where
# 32-bit Wine runs; check-package.sh says so when it skips the start).
"$root/scripts/release.sh" windows
