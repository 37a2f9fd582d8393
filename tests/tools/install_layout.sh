#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# install_layout.sh BUILD_DIR: installs the build into a fresh prefix and checks what a desktop
# and a shell see there: program and tool in bin/, the board library in lib*/evm5170/ where the
# installed tool finds it (run from another folder, no EVM_BOARD_LIBRARY), the desktop entry
# and its icon.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install_layout: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/evm5170 bin/evm5170ctl; do
  [ -x "$prefix/$f" ] || fail "$f is not installed"
done
board=$(find "$prefix" -path '*/evm5170/libOstrel.so' -type f | head -n 1)
[ -n "$board" ] || fail "no board library in a folder evm5170 under the prefix"
case "$board" in "$prefix"/lib*/evm5170/libOstrel.so) ;; *) fail "board library at $board" ;; esac
[ -z "$(find "$prefix/bin" -name 'lib*.so')" ] || fail "a library in bin/"

entry="$prefix/share/applications/evm5170.desktop"
[ -f "$entry" ] || fail "no desktop entry"
grep -qx 'Type=Application' "$entry" || fail "desktop entry: no Type=Application"
grep -qx 'Name=EVM Controller' "$entry" || fail "desktop entry: name"
grep -qx 'Exec=evm5170' "$entry" || fail "desktop entry: Exec"
grep -qx 'Icon=evm5170' "$entry" || fail "desktop entry: Icon"
icon="$prefix/share/icons/hicolor/scalable/apps/evm5170.svg"
[ -f "$icon" ] || fail "no icon"
/usr/bin/python3 -c 'import sys, xml.etree.ElementTree as ET; r = ET.parse(sys.argv[1]).getroot(); sys.exit(0 if r.tag.endswith("svg") and len(r) > 3 else 1)' "$icon" \
  || fail "the icon is not an SVG drawing"

# The installed tool, started from elsewhere, loads the installed board library.
elsewhere=$(mktemp -d)
trap 'rm -rf "$prefix" "$elsewhere"' EXIT
out=$(cd "$elsewhere" && env -u EVM_BOARD_LIBRARY -u LD_LIBRARY_PATH XDG_CONFIG_HOME="$elsewhere" \
      "$prefix/bin/evm5170ctl" info) || fail "installed evm5170ctl info failed: $out"
echo "$out" | grep -qx "library: $board" || fail "installed tool loaded: $out"
# A short name finds its library in the program's own folder too (no board here: only the load counts).
linux=${board%/libOstrel.so}/libOstrelLinux.so
[ -f "$linux" ] || fail "libOstrelLinux.so is not installed beside libOstrel.so"
out=$(cd "$elsewhere" && env -u LD_LIBRARY_PATH EVM_BOARD_LIBRARY=linux XDG_CONFIG_HOME="$elsewhere" \
      "$prefix/bin/evm5170ctl" info 2>&1) || true
echo "$out" | grep -qx "library: $linux" || fail "EVM_BOARD_LIBRARY=linux, installed, loaded: $out"
# Without a configuration it names the example installed with the documentation.
echo "$out" | grep -qx "config example: $prefix/share/doc/evm5170/examples/EVM5170-linux.ini" \
  || fail "EVM_BOARD_LIBRARY=linux, installed, names no example configuration: $out"
echo "install_layout: ok"
