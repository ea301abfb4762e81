#!/usr/bin/env bash
# Runs a Windows program of a cross build under Wine (CMake's CROSSCOMPILING_EMULATOR):
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
# The program's own PE header chooses the Wine: 32-bit Wine for the shipped i686 build, wine64 for
# the test-only x86-64 build (preset windows64). The Wine prefix and the zh_CN.UTF-8 locale live in
# the build directory (PELVARO_WINE_DIR, or wine/ beside the test's folder chain's CMakeCache.txt),
# never in the user's ~/.wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${1:?usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]}
arch=$("$here/windows-env.sh" --arch "$program")

dir=${PELVARO_WINE_DIR:-}
if [[ -z "$dir" ]]; then
  build=$(cd "$(dirname "$program")" && pwd)
  while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do build=$(dirname "$build"); done
  [[ -f "$build/CMakeCache.txt" ]] || { echo "wine-run.sh: no build directory above $program" >&2; exit 2; }
  dir=$build/wine
fi
[[ "$(cat "$dir/prefix/.ready" 2>/dev/null)" == "$arch" && -d "$dir/locale/zh_CN.UTF-8" ]] ||
  "$here/windows-env.sh" "$dir" "$arch"

# Debian packages no Wine Gecko: with mshtml switched off the browser panel stays blank instead of
# offering a download dialog that nobody answers.
export WINEPREFIX="$dir/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec env LOCPATH="$dir/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$("$here/windows-env.sh" --wine "$arch")" "$@"
