#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this Debian machine lacks.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev libarchive-dev pkg-config
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool x11-utils openbox wmctrl imagemagick
  nginx-light openssl curl iproute2 util-linux
  libarchive-tools liblnk-utils icoutils python3 python3-pefile python3-pytest osslsigncode
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
