#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# run-desktop.sh COMMAND...: runs COMMAND on a private X server (Xvfb, a free display found with
# -displayfd) under the openbox window manager, with Qt on the xcb platform, and takes both down
# afterwards. Every wait is bounded; the exit status is the command's.
set -euo pipefail

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local limit=$(( $1 * 10 )); shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! wait_for 60 test -s "$work/display"; then
  echo "run-desktop: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"

# openbox with its stock settings, away from the user's own.
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# A window manager that runs announces itself on the root window.
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
if ! wait_for 60 wm_ready; then
  echo "run-desktop: openbox did not start" >&2; cat "$work/openbox.log" >&2; exit 1
fi
unset XDG_CONFIG_HOME XDG_CACHE_HOME

export QT_QPA_PLATFORM=xcb
# This desktop has no session bus, and the suite must not reach the user's: libdbus's attempt
# to connect leaves an allocation behind that leak checking would report.
export DBUS_SESSION_BUS_ADDRESS=disabled:
# Under AddressSanitizer, strict string checks fault libxkbcommon-x11, which hands strndup a
# buffer that is not NUL-terminated (strndup may do that: it stops at the length). Everything
# else, leak checking included, stays as the caller set it.
if [[ "${ASAN_OPTIONS:-}" == *strict_string_checks=1* ]]; then
  export ASAN_OPTIONS="${ASAN_OPTIONS//strict_string_checks=1/strict_string_checks=0}"
fi
status=0
"$@" || status=$?
exit "$status"
