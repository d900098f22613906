#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine.
# Runs as root; installs only what is missing, so a second run is quick.
set -euo pipefail

packages=(
  cmake make g++ python3 googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 wine32:i386
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils x11-utils xvfb imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # wine32 runs the 32-bit Tessel.exe; it comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # An index that fails to update must not stop the set-up.
  apt-get update -q || true
  # With the recommended packages, as the suite was proven (fonts and X data
  # for Wine and Xorg come in as recommendations).
  apt-get install -y -q "${missing[@]}"
fi
