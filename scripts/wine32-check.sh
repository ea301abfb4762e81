#!/usr/bin/env bash
# Tells whether this machine can run the shipped 32-bit Windows build under 32-bit Wine:
#   wine32-check.sh    exits 0 when it can; otherwise prints why not (one line) and exits 1
# The probe is the 32-bit Wine loader itself printing its version: it needs the kernel to execute
# 32-bit x86 programs, the i386 C library and 32-bit Wine, and touches no Wine prefix.
set -uo pipefail
loader=/usr/lib/wine/wine

if [[ ! -e "$loader" ]]; then
  echo "32-bit Wine is not installed ($loader missing)"
  exit 1
fi
if output=$("$loader" --version 2>&1) && [[ "$output" == wine-* ]]; then
  exit 0
fi
output=$(head -n 1 <<<"$output")
if [[ "$output" == *"Exec format error"* ]]; then
  echo "this kernel cannot execute 32-bit x86 programs ($loader --version: Exec format error)"
else
  echo "32-bit Wine does not start ($loader --version: ${output:-no output})"
fi
exit 1
