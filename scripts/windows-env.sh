#!/usr/bin/env bash
# Prepares the throw-away Wine environment in which the Windows build's tests run:
#   windows-env.sh DIR   makes DIR/prefix, a 32-bit Wine prefix initialised without prompts
#                        (no Mono or Gecko download), and DIR/locale, the zh_CN.UTF-8 locale.
# Idempotent and safe to run from several processes at once; scripts/wine-run.sh calls it.
set -euo pipefail
dir=${1:?usage: windows-env.sh DIR}
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9

if [[ ! -f "$dir/locale/zh_CN.UTF-8/LC_CTYPE" ]]; then
  mkdir -p "$dir/locale"
  # localedef warns about the Debian source's minor deviations and exits 1 while still writing the
  # locale; only a missing result is a failure.
  localedef -i zh_CN -f UTF-8 "$dir/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
  [[ -f "$dir/locale/zh_CN.UTF-8/LC_CTYPE" ]] || { echo "windows-env.sh: localedef failed" >&2; exit 1; }
fi

if [[ ! -f "$dir/prefix/.ready" ]]; then
  rm -rf "$dir/prefix"
  # The Mono and Gecko installers are switched off while the prefix is made: nothing is
  # downloaded and no dialog waits for an answer.
  WINEPREFIX="$dir/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    LOCPATH="$dir/locale" LANG=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1
  # Wine draws the windows' frames itself, so a window has its title bar and outer size even on an
  # X server without a window manager (Xvfb).
  WINEPREFIX="$dir/prefix" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX="$dir/prefix" wineserver -w
  touch "$dir/prefix/.ready"
fi
