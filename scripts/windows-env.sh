#!/usr/bin/env bash
# Prepares the throw-away Wine environment in which the Windows builds' tests run:
#   windows-env.sh DIR [ARCH]  makes DIR/prefix, a Wine prefix initialised without prompts (no Mono
#                              or Gecko download), and DIR/locale, the zh_CN.UTF-8 locale. ARCH is
#                              win32 (the default: the shipped 32-bit build, under 32-bit Wine),
#                              win64 (the test-only 64-bit build, under wine64), or a program
#                              whose own header says which.
#   windows-env.sh --arch PROGRAM.exe   prints win32 or win64, from the program's PE header
#   windows-env.sh --wine ARCH          prints the Wine loader that runs ARCH programs
# Idempotent and safe to run from several processes at once; scripts/wine-run.sh calls it.
set -euo pipefail

# The machine field of the PE header: 0x14c for i386, 0x8664 for x86-64.
arch_of() {
  local program=$1 offset machine
  [[ -f "$program" ]] || { echo "windows-env.sh: no program $program" >&2; return 2; }
  offset=$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' ' || true)
  [[ -n "$offset" && "$(od -An -c -j"$offset" -N4 "$program" 2>/dev/null | tr -d ' ')" == 'PE\0\0' ]] ||
    { echo "windows-env.sh: $program is no Windows program" >&2; return 2; }
  machine=$(od -An -tx1 -j$((offset + 4)) -N2 "$program" | tr -d ' ')
  case "$machine" in
    4c01) echo win32 ;;
    6486) echo win64 ;;
    *) echo "windows-env.sh: $program is for machine 0x$machine, neither i386 nor x86-64" >&2; return 2 ;;
  esac
}

# Debian's `wine` picks the 32-bit loader whenever it is installed, even where the kernel cannot
# run it: 64-bit programs are started by the 64-bit loader itself.
wine_for() {
  case "$1" in
    win32) echo wine ;;
    win64) command -v wine64 || echo /usr/lib/wine/wine64 ;;
    *) echo "windows-env.sh: unknown Wine architecture $1" >&2; return 2 ;;
  esac
}

case "${1:-}" in
  --arch) arch_of "${2:?usage: windows-env.sh --arch PROGRAM.exe}"; exit ;;
  --wine) wine_for "${2:?usage: windows-env.sh --wine win32|win64}"; exit ;;
esac

dir=${1:?usage: windows-env.sh DIR [win32|win64|PROGRAM.exe]}
arch=${2:-win32}
[[ "$arch" == win32 || "$arch" == win64 ]] || arch=$(arch_of "$arch")
wine=$(wine_for "$arch")
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)  # Wine takes only an absolute WINEPREFIX
exec 9>"$dir/.lock"
flock 9

if [[ ! -f "$dir/locale/zh_CN.UTF-8/LC_CTYPE" ]]; then
  mkdir -p "$dir/locale"
  # localedef warns about the Debian source's minor deviations and exits 1 while still writing the
  # locale; only a missing result is a failure.
  localedef -i zh_CN -f UTF-8 "$dir/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
  [[ -f "$dir/locale/zh_CN.UTF-8/LC_CTYPE" ]] || { echo "windows-env.sh: localedef failed" >&2; exit 1; }
fi

# .ready names the prefix's architecture: a prefix made for the other one is made anew.
if [[ "$(cat "$dir/prefix/.ready" 2>/dev/null)" != "$arch" ]]; then
  rm -rf "$dir/prefix"
  # The Mono and Gecko installers are switched off while the prefix is made: nothing is
  # downloaded and no dialog waits for an answer.
  WINEPREFIX="$dir/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    LOCPATH="$dir/locale" LANG=zh_CN.UTF-8 "$wine" wineboot -i >/dev/null 2>&1
  # Wine draws the windows' frames itself, so a window has its title bar and outer size even on an
  # X server without a window manager (Xvfb).
  WINEPREFIX="$dir/prefix" WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX="$dir/prefix" wineserver -w
  echo "$arch" >"$dir/prefix/.ready"
fi
