#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the tests and the screenshots need; with "windows",
# those of the Windows build and its tests under Wine instead (make windows, make test-windows).
# Does nothing when everything is already present.
set -euo pipefail

packages=(
  cmake g++ make
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation fonts-ipafont-gothic fonts-dejavu-core
  xvfb xauth imagemagick
  clang libclang-rt-14-dev
  ccache
  openbox xdotool x11-utils x11-apps
  libi2c-dev i2c-tools libgpiod-dev gpiod
  umockdev libumockdev-dev pkg-config
  libxcb1-dev libx11-dev libxtst-dev
  python3-pyvisa python3-pyvisa-py
  libasio-dev
  dpkg-dev debhelper fakeroot lintian
  desktop-file-utils appstream man-db groff-base
)
# 32-bit Windows: the cross compiler, Asio, and Wine with its 32-bit half (wine32 needs the
# i386 architecture, added first).
windows=false
if [ "${1:-}" = windows ]; then
  windows=true
  packages=(cmake make g++-mingw-w64-i686 libasio-dev wine wine32:i386 python3-pyvisa python3-pyvisa-py)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "Missing packages (${missing[*]}) and neither root nor sudo is available." >&2
  exit 1
fi
if $windows && ! { dpkg --print-architecture; dpkg --print-foreign-architectures; } | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
