#!/usr/bin/env bash
# Checks a release artefact the way its user meets it:
#   check-package.sh pelvaro_<version>_<arch>.deb    contents, Depends against the linked libraries,
#                                                    desktop and AppStream validators, then install
#                                                    it and start /usr/bin/pelvaro under Xvfb (root)
#   check-package.sh Pelvaro-<version>-win32.zip     contents, the read-me's CRLF, a lone exe, then
#                                                    start it under Xvfb and 32-bit Wine (skipped,
#                                                    and said so, where 32-bit programs cannot run)
# A package that was not installed before the check is removed again afterwards.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)

app_id=io.github.pelvaro.Pelvaro
title=PelvaroV2.0
artefact=${1:?usage: check-package.sh PACKAGE.deb|PACKAGE.zip}
[[ -f "$artefact" ]] || { echo "check-package.sh: no file $artefact" >&2; exit 2; }
artefact=$(cd "$(dirname "$artefact")" && pwd)/$(basename "$artefact")

work=$(mktemp -d)
xvfb=""
program=""
remove_after=""
cleanup() {
  if [[ -n "$program" ]]; then kill "$program" 2>/dev/null || true; fi
  if [[ -n "$xvfb" ]]; then kill "$xvfb" 2>/dev/null || true; fi
  if [[ -n "$remove_after" ]]; then dpkg --purge pelvaro >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

skipped=()

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pass() { echo "ok: $*"; }

# The sorted file entries of a listing, without directories.
same_list() {
  local what=$1 want=$2 got=$3
  [[ "$got" == "$want" ]] || fail "$what holds"$'\n'"$got"$'\n'"instead of"$'\n'"$want"
}

check_deb() {
  local deb=$1
  dpkg-deb -x "$deb" "$work/root"

  same_list "the package" "$(printf '%s\n' \
    ./usr/bin/pelvaro \
    "./usr/share/applications/$app_id.desktop" \
    "./usr/share/icons/hicolor/48x48/apps/$app_id.png" \
    "./usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    "./usr/share/metainfo/$app_id.metainfo.xml" | sort)" \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)"
  pass "contents: the program, its .desktop file, two icons, its metainfo"

  # Depends names exactly the packages of the libraries the binary links, no more and no fewer.
  local binary=$work/root/usr/bin/pelvaro soname path real owners=()
  while read -r soname; do
    path=$(ldd "$binary" | awk -v lib="$soname" '$1 == lib {print $3}')
    [[ -f "$path" ]] || fail "no installed library provides $soname"
    # dpkg knows a file under the path its package ships, with or without the merged /usr.
    real=$(readlink -f "$path")
    owners+=("$( (dpkg -S "$real" || dpkg -S "${real#/usr}") 2>/dev/null | head -n 1 | cut -d: -f1)")
  done < <(objdump -p "$binary" | awk '$1 == "NEEDED" {print $2}')
  local depends linked
  depends=$(dpkg-deb -f "$deb" Depends)
  linked=$(printf '%s\n' "${owners[@]}" | sort -u)
  same_list "Depends" "$linked" \
    "$(tr ',' '\n' <<<"$depends" | sed 's/([^)]*)//; s/|.*//; s/^ *//; s/ *$//' | sort -u)"
  pass "Depends matches the linked libraries: $depends"

  desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" ||
    fail "desktop-file-validate"
  pass "desktop-file-validate"
  appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml" >"$work/as.log" ||
    { cat "$work/as.log" >&2; fail "appstreamcli validate"; }
  pass "appstreamcli validate --no-net"
  local version
  version=$(dpkg-deb -f "$deb" Version)
  grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo names no release $version"
  pass "one version: $version"

  [[ $(id -u) == 0 ]] || fail "installing the package needs root"
  [[ "$(dpkg-query -W -f='${db:Status-Status}' pelvaro 2>/dev/null || true)" == installed ]] ||
    remove_after=yes
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install $deb"; }
  pass "installs"
  start_under_xvfb /usr/bin/pelvaro
}

# Starts the program (a command line) on a display of its own, waits for its window, closes it with
# Esc and expects exit code 0.
start_under_xvfb() {
  local exe=${*: -1} display="" window=""
  # -displayfd picks a free display and writes its number once the server is ready.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    display=$(cat "$work/display")
    [[ -n "$display" ]] && break
    sleep 0.1
  done
  [[ -n "$display" ]] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
  export DISPLAY=:$display

  "$@" >"$work/program.log" 2>&1 &
  program=$!
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1) || true
    [[ -n "$window" ]] && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.2
  done
  [[ -n "$window" ]] || { cat "$work/program.log" >&2; fail "$exe showed no window \"$title\""; }
  pass "$exe shows its window"

  # A window just mapped may not take the focus yet.
  for _ in $(seq 25); do
    xdotool windowfocus --sync "$window" 2>/dev/null && break
    sleep 0.2
  done
  xdotool key Escape
  local code=0 pid=$program
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && fail "$exe still runs after Esc"
  wait "$pid" || code=$?
  program=""
  [[ $code == 0 ]] || { cat "$work/program.log" >&2; fail "$exe ended with code $code"; }
  pass "Esc closes it with exit code 0"
}

check_zip() {
  local zip=$1 folder
  folder=$(basename "$zip" -win32.zip)
  same_list "the zip" "$(printf '%s\n' "$folder/Pelvaro.exe" "$folder/README.txt")" \
    "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
  pass "contents: $folder/Pelvaro.exe and $folder/README.txt"

  unzip -q "$zip" -d "$work"
  local readme=$work/$folder/README.txt exe=$work/$folder/Pelvaro.exe
  [[ $(grep -c $'\r$' "$readme") == $(wc -l <"$readme") && $(tail -c 1 "$readme") == "" ]] ||
    fail "README.txt has lines not ending in CRLF"
  LC_ALL=C grep -q $'[^\t\r -~]' "$readme" && fail "README.txt is not plain ASCII text"
  grep -q "${folder#Pelvaro-}" "$readme" || fail "README.txt does not name version ${folder#Pelvaro-}"
  pass "README.txt: plain text, CRLF, version ${folder#Pelvaro-}"

  file "$exe" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "$(file -b "$exe")"
  # A lone exe: it imports from system DLLs only, never from a runtime that would have to lie beside it.
  local dll
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll | shlwapi.dll | \
        ole32.dll | oleaut32.dll | advapi32.dll | wininet.dll | msvcrt.dll | ws2_32.dll | uxtheme.dll | \
        api-ms-win-*) ;;
      *) fail "Pelvaro.exe needs $dll beside it" ;;
    esac
  done < <(objdump -p "$exe" | awk '/DLL Name:/ {print $3}')
  pass "Pelvaro.exe: 32-bit GUI program needing no DLL beside it"

  # Started from the folder it was unpacked to, it runs and leaves that folder and the registry as
  # they were. The Wine prefix of the zip's build directory is reused when there is one. Only 32-bit
  # Wine starts the 32-bit exe: where it cannot run, the start is reported as skipped, never passed.
  local why
  if ! why=$("$scripts/wine32-check.sh"); then
    skipped+=("starting Pelvaro.exe under Wine: $why")
    echo "SKIPPED: starting Pelvaro.exe under Wine: $why"
    return
  fi
  local here
  here=$(dirname "$zip")
  export PELVARO_WINE_DIR=${PELVARO_WINE_DIR:-$([[ -f "$here/CMakeCache.txt" ]] && echo "$here/wine" || echo "$work/wine")}
  "$scripts/windows-env.sh" "$PELVARO_WINE_DIR"
  local before registry
  before=$(cd "$work/$folder" && ls -laR)
  registry=$(cat "$PELVARO_WINE_DIR"/prefix/*.reg | grep -ci pelvaro || true)
  cd "$work/$folder"
  start_under_xvfb "$scripts/wine-run.sh" Pelvaro.exe
  cd - >/dev/null
  WINEPREFIX="$PELVARO_WINE_DIR/prefix" wineserver -w
  [[ "$(cd "$work/$folder" && ls -laR)" == "$before" ]] || fail "Pelvaro.exe changed its folder"
  [[ $(cat "$PELVARO_WINE_DIR"/prefix/*.reg | grep -ci pelvaro || true) == "$registry" ]] ||
    fail "Pelvaro.exe wrote to the registry"
  pass "Pelvaro.exe runs from its own folder and writes there and to the registry nothing"
}

case "$artefact" in
  *.deb) check_deb "$artefact" ;;
  *.zip) check_zip "$artefact" ;;
  *) fail "neither a .deb nor a .zip: $artefact" ;;
esac
if ((${#skipped[@]})); then
  echo "$(basename "$artefact"): the checks run passed; ${#skipped[@]} skipped (not run):"
  printf '  skipped: %s\n' "${skipped[@]}"
else
  echo "$(basename "$artefact"): all checks passed"
fi
