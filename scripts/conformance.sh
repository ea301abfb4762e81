#!/usr/bin/env bash
# Runs the conformance corpus (tests/conformance/corpus.txt) through the Linux build and the
# Windows build (under Wine) and compares the outputs byte for byte, leaving out the cases the
# corpus marks with "~" (each explained there):
#   conformance.sh LINUX_CONFORMANCE WINDOWS_CONFORMANCE.exe
# Exits 77 (skipped) when the Linux program has not been built.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux=${1:?usage: conformance.sh LINUX_CONFORMANCE WINDOWS_CONFORMANCE.exe}
windows=${2:?usage: conformance.sh LINUX_CONFORMANCE WINDOWS_CONFORMANCE.exe}
[[ -x "$linux" ]] || { echo "conformance.sh: no Linux build at $linux" >&2; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The programs read their texts in code page 936, as the system holds them.
iconv -f UTF-8 -t CP936 "$here/../tests/conformance/corpus.txt" >"$work/corpus"
"$linux" <"$work/corpus" >"$work/linux.txt"
"$here/wine-run.sh" "$windows" <"$work/corpus" >"$work/windows.txt"
grep -v '^~' "$work/linux.txt" >"$work/linux.compared" || true
grep -v '^~' "$work/windows.txt" >"$work/windows.compared" || true
if ! diff -u --label linux --label windows "$work/linux.compared" "$work/windows.compared"; then
  echo "conformance.sh: the builds differ (above)" >&2
  exit 1
fi
echo "conformance: $(grep -c '^== ' "$work/linux.compared") cases alike," \
  "$(grep -c '^~ == ' "$work/linux.txt" || true) left out"
