#!/usr/bin/env bash
# Builds the release artefacts, checks each with check-package.sh and gathers them with their
# SHA-256 sums in build/release/:
#   release.sh [linux] [windows]      both when none is named; run as root (the check of the
#                                     Debian package installs it and removes it again)
#   linux     pelvaro_<version>_<arch>.deb and pelvaro-service_<version>_<arch>.deb, cpack in the
#             linux preset's build directory
#   windows   Pelvaro-<version>-win32.zip    the pelvaro-zip target of the windows preset's
# PELVARO_LINUX_BUILD, PELVARO_WINDOWS_BUILD and PELVARO_RELEASE_DIR name other directories.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

linux_dir=${PELVARO_LINUX_BUILD:-$root/build/linux}
windows_dir=${PELVARO_WINDOWS_BUILD:-$root/build/windows}
out=${PELVARO_RELEASE_DIR:-$root/build/release}
(($#)) || set -- linux windows

"$root/scripts/deps.sh"
mkdir -p "$out"

version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

for part in "$@"; do
  case "$part" in
    linux)
      echo "== release: linux"
      cmake --preset linux -B "$linux_dir" >/dev/null
      cmake --build "$linux_dir" --target pelvaro pelvaro-service
      (cd "$linux_dir" && cpack -G DEB >/dev/null)
      artefact=$linux_dir/pelvaro_$(version_of "$linux_dir")_$(dpkg --print-architecture).deb
      # The service's package, checked with the client's: a search from one reaches the other.
      service_deb=$linux_dir/pelvaro-service_$(version_of "$linux_dir")_$(dpkg --print-architecture).deb
      "$root/scripts/check-package.sh" "$service_deb" "$artefact"
      cp "$service_deb" "$out/"
      echo "$(basename "$service_deb"): $(stat -c %s "$service_deb") bytes"
      ;;
    windows)
      echo "== release: windows"
      cmake --preset windows -B "$windows_dir" >/dev/null
      cmake --build "$windows_dir" --target pelvaro-zip
      artefact=$windows_dir/Pelvaro-$(version_of "$windows_dir")-win32.zip
      ;;
    *)
      echo "usage: release.sh [linux] [windows]" >&2
      exit 2
      ;;
  esac
  "$root/scripts/check-package.sh" "$artefact"
  cp "$artefact" "$out/"
  echo "$(basename "$artefact"): $(stat -c %s "$artefact") bytes"
done

cd "$out"
shopt -s nullglob
sha256sum -- *.deb *.zip >SHA256SUMS
echo "== release: $out"
cat SHA256SUMS
