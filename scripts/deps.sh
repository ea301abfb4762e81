#!/usr/bin/env bash
# Installs the Debian packages Pelvaro needs that are not installed yet. Idempotent; run as root.
#   deps.sh            every list: building, testing, the Windows build
#   deps.sh linux ...  only the named lists (scripts/packages-NAME.txt)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=()
if (($#)); then
  for name in "$@"; do lists+=("$here/packages-$name.txt"); done
else
  lists=("$here"/packages-*.txt)
fi

wanted=()
for list in "${lists[@]}"; do
  while read -r name; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    wanted+=("$name")
  done <"$list"
done

# Packages of another architecture (wine32:i386) need it known to dpkg first.
if printf '%s\n' "${wanted[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

missing=()
for name in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$name")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
