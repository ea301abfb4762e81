#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine (CMake's CROSSCOMPILING_EMULATOR):
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
# The Wine prefix and the zh_CN.UTF-8 locale live in the build directory (PELVARO_WINE_DIR, or
# wine/ beside the test's folder chain's CMakeCache.txt), never in the user's ~/.wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${1:?usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]}

dir=${PELVARO_WINE_DIR:-}
if [[ -z "$dir" ]]; then
  build=$(cd "$(dirname "$program")" && pwd)
  while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do build=$(dirname "$build"); done
  [[ -f "$build/CMakeCache.txt" ]] || { echo "wine-run.sh: no build directory above $program" >&2; exit 2; }
  dir=$build/wine
fi
[[ -f "$dir/prefix/.ready" && -d "$dir/locale/zh_CN.UTF-8" ]] || "$here/windows-env.sh" "$dir"

# Debian packages no Wine Gecko: with mshtml switched off the browser panel stays blank instead of
# offering a download dialog that nobody answers.
export WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec env LOCPATH="$dir/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"
