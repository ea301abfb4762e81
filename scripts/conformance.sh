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
# The code page 936 table: a pair is compared wherever Windows assigns it, that is reads it as one
# character of its own; a pair it reads as a replacement ("?", U+FFFD or U+30FB) is left out, as
# the replacement is each platform's own.
awk '$1 == "pair" && ($4 != "back" || $3 == "FFFD" || $3 == "003F" || $3 == "30FB") { print $2 }' \
  "$work/windows.txt" >"$work/unassigned"
for build in linux windows; do
  awk 'FILENAME == ARGV[1] { left[$1] = 1; next } !($1 == "pair" && $2 in left) && !/^~/' \
    "$work/unassigned" "$work/$build.txt" >"$work/$build.compared"
done
if ! diff -u --label linux --label windows "$work/linux.compared" "$work/windows.compared"; then
  echo "conformance.sh: the builds differ (above)" >&2
  exit 1
fi
echo "conformance: $(grep -c '^== ' "$work/linux.compared") cases alike," \
  "$(grep -c '^~ == ' "$work/linux.txt" || true) left out;" \
  "code page 936 table: $(grep -c '^pair ' "$work/linux.compared" || true) pairs alike both ways," \
  "$(wc -l <"$work/unassigned") that Windows does not assign left out"
