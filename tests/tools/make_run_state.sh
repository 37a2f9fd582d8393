#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make_run_state.sh SOURCE_DIR BUILD_DIR: `make run` starts the window with the simulated board
# keeping its registers in a state file, which the tool shares: a value the tool writes is what
# the window reads back, and what the window leaves is what the tool reads next.
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "make_run_state: $*" >&2; exit 1; }
state="$work/sim-state.csv"
ctl() { env -u EVM_BOARD_LIBRARY XDG_CONFIG_HOME="$work" OSTREL_SIM_STATE="$state" "$build/evm5170ctl" "$@"; }

# The command `make run` runs, as make itself spells it (dry run: nothing is built or started).
cmd=$(cd "$src" && env -u MAKEFLAGS -u MFLAGS make --no-print-directory -n run BUILD="$build" SIM_STATE="$state" \
      | grep -E '(^|[ /])evm5170( |$)' | tail -n 1)
[ -n "$cmd" ] || fail "make -n run shows no command that starts the program"

ctl write 0x47 0x12 >/dev/null
[ "$(ctl read 0x47)" = "0x12" ] || fail "the tool does not keep its write in $state"

# The window as make run starts it, once through its start-up and closed again.
(cd "$src" && env -u EVM_BOARD_LIBRARY XDG_CONFIG_HOME="$work" QT_QPA_PLATFORM=offscreen EVM_QUIT_AFTER_SHOW=1 \
   OSTREL_SIM_TRACE="$work/trace.txt" sh -c "$cmd") >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; fail "the program failed"; }
grep -q '_readData(channel=0, reg=0x47) = 0 value=0x12' "$work/trace.txt" \
  || fail "the window did not read back the tool's 0x12 in 0x47: $(grep 'reg=0x47' "$work/trace.txt" | head -n 1)"
[ "$(ctl read 0x47)" = "0x12" ] || fail "the window's run lost the state"
echo "make_run_state: ok"
