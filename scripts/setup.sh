#!/usr/bin/env bash
# Installs the packages the build and the tests need. Safe to run again:
# packages already present are skipped, a partly failing `apt-get update`
# is tolerated, and a failed download is retried once.
set -u

packages=(
  cmake ninja-build g++ clang python3 googletest
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 xvfb x11-utils imagemagick
  libyara-dev libhyperscan-dev pkg-config
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

echo "setup: installing ${missing[*]}"
# A mirror in mid-sync makes some lists fail; what did download is still usable.
$SUDO apt-get update -q || echo "setup: apt-get update failed partly, going on"

install() {
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}
if ! install; then
  echo "setup: install failed, refreshing lists and retrying once"
  $SUDO apt-get update -q || true
  install || { echo "setup: could not install ${missing[*]}" >&2; exit 1; }
fi
