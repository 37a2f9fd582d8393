#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# deb_package.sh SOURCE_DIR BUILD_DIR: builds the Debian package as make deb does, checks it
# with lintian, unpacks it with dpkg-deb -x into a scratch folder and runs what it holds from
# there, as an installed program: the tool and the window against the packaged simulated board
# with the default state file, the manual pages, the completion and the metadata.
set -euo pipefail
src=$1 build=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "deb_package: $*" >&2; exit 1; }
out="$build/deb-test"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$src/scripts/build-deb" "$out" "${JOBS:-2}" >/dev/null
deb=$(ls "$out"/evm5170_*.deb)
[ "$(echo "$deb" | wc -l)" -eq 1 ] || fail "not one package: $deb"

# Release, as configured by debian/rules.
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$out"/src/obj-*/CMakeCache.txt || fail "the package was not built in Release"

# lintian: no error, no warning; what it says at all is shown (the overrides say why).
lintian --fail-on error,warning --display-info "$out"/evm5170_*.changes >"$work/lintian" 2>&1 \
  || fail "lintian: $(grep -v '^running with root' "$work/lintian")"
grep -v '^running with root' "$work/lintian" || true

# Dependencies as dpkg-shlibdeps found them: the toolkit and the board libraries' own.
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libc6 libgpiod2 libi2c0; do
  echo "$depends" | grep -qE "(^|, )$d( |,|$)" || fail "Depends lacks $d: $depends"
done
echo "$depends" | grep -q '\${' && fail "an unexpanded substitution in Depends: $depends"
version=$(dpkg-deb -f "$deb" Version)

root="$work/root"
dpkg-deb -x "$deb" "$root"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
boards="$root/usr/lib/$multiarch/evm5170"
for f in usr/bin/evm5170 usr/bin/evm5170ctl; do [ -x "$root/$f" ] || fail "no $f"; done
for f in libOstrel.so libOstrelLinux.so libOstrelRemote.so; do [ -f "$boards/$f" ] || fail "no $f in $boards"; done
[ -z "$(find "$root" -name 'libOstrelNoVer.so' -o -name 'tst_*' -o -name 'evm5170ctl-doc')" ] || fail "test files in the package"
example="$root/usr/share/doc/evm5170/examples/EVM5170-linux.ini"
[ -f "$example" ] || fail "no example configuration"

# Run as installed: nothing of the build tree on the paths, a scratch home.
home="$work/home"
mkdir -p "$home"
run() { env -i PATH=/usr/bin:/bin HOME="$home" XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config" LANG=C.UTF-8 "$@"; }
[ "$(run "$root/usr/bin/evm5170ctl" --version)" = "evm5170ctl $version" ] || fail "evm5170ctl --version: $(run "$root/usr/bin/evm5170ctl" --version)"
[ "$(run "$root/usr/bin/evm5170" --version)" = "evm5170 $version" ] || fail "evm5170 --version: $(run "$root/usr/bin/evm5170" --version 2>&1)"
# Each output is taken whole before it is searched: grep -q ends at its first match, and a
# program still writing into the pipe would then die of SIGPIPE and fail the pipeline.
grep -q '^Commands:' <<<"$(run "$root/usr/bin/evm5170ctl" --help)" || fail "evm5170ctl --help"
# No display at all: the help comes without the toolkit looking for one.
help=$(run "$root/usr/bin/evm5170" --help 2>&1) || fail "evm5170 --help failed: $help"
echo "$help" | grep -q -- '--version' && echo "$help" | grep -q 'EVM_BOARD_LIBRARY' || fail "evm5170 --help: $help"
# A command line the window does not take ends it before any window, with status 2.
status=0
err=$(run QT_QPA_PLATFORM=offscreen OSTREL_SIM_TRACE="$work/refused" "$root/usr/bin/evm5170" --frobnicate 2>&1) || status=$?
[ "$status" -eq 2 ] && echo "$err" | grep -q "evm5170: Unknown option 'frobnicate'" || fail "evm5170 --frobnicate: status $status, $err"
[ ! -e "$work/refused" ] || fail "evm5170 --frobnicate loaded the board library"

# The tool finds the packaged simulator and keeps the chip in the default state file.
grep -qx "library: $boards/libOstrel.so" <<<"$(run "$root/usr/bin/evm5170ctl" info)" || fail "info: $(run "$root/usr/bin/evm5170ctl" info 2>&1)"
run "$root/usr/bin/evm5170ctl" set DEMP 2 || fail "set DEMP 2"
[ "$(run "$root/usr/bin/evm5170ctl" get DEMP)" = 2 ] || fail "get DEMP after set DEMP 2 in another run"
state="$home/state/evm5170/sim-state.csv"
grep -qi '^0x46, 0x2' "$state" || fail "the default state file $state holds no DEMP 2: $(cat "$state" 2>&1)"
# The window, offscreen, through its start-up against the same chip, and closed again.
run QT_QPA_PLATFORM=offscreen EVM_QUIT_AFTER_SHOW=1 OSTREL_SIM_TRACE="$work/trace" "$root/usr/bin/evm5170" >"$work/window" 2>&1 \
  || fail "the window failed: $(cat "$work/window")"
grep -qx shown "$work/window" || fail "the window did not come up: $(cat "$work/window")"
grep -q '_readData(channel=0, reg=0x46) = 0 value=0x2' "$work/trace" || fail "the window did not read DEMP 2 back: $(grep 'reg=0x46' "$work/trace" | head -n 1)"

# The Linux board library, with no configuration, names the packaged example.
out=$(run EVM_BOARD_LIBRARY=linux "$root/usr/bin/evm5170ctl" info 2>&1) || true
echo "$out" | grep -qx "config example: $example" || fail "EVM_BOARD_LIBRARY=linux info does not name the example: $out"

"$here/check_man.sh" "$src" "$root/usr/bin/evm5170ctl" "$root/usr/share/man/man1/evm5170ctl.1.gz" "$root/usr/share/man/man1/evm5170.1.gz"
"$here/check_completion.sh" "$root/usr/share/bash-completion/completions/evm5170ctl" "$root/usr/bin/evm5170ctl"
"$here/check_metadata.sh" "$root/usr/share/applications/evm5170.desktop" "$(ls "$root"/usr/share/metainfo/*.metainfo.xml)" "$root/usr/bin/evm5170ctl"
echo "deb_package: ok ($(basename "$deb"), $(du -k "$deb" | cut -f1) KiB)"
