#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# check_man.sh SOURCE_DIR TOOL CTL_PAGE WINDOW_PAGE: both manual pages render without a warning
# and hold what a user looks for: every command and option the tool's own help names, every
# environment variable the sources read, the sections a manual page has.
set -euo pipefail
src=$1 tool=$2 ctl_page=$3 window_page=$4
fail() { echo "check_man: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

render() { # page width: the text, or the warnings as the failure
  LC_ALL=C.UTF-8 MANWIDTH=$2 MAN_KEEP_FORMATTING= man --warnings -E UTF-8 -l "$1" 2>"$work/warnings" | col -b >"$work/page"
  [ ! -s "$work/warnings" ] || fail "$1 at width $2 warns: $(cat "$work/warnings")"
}
for page in "$ctl_page" "$window_page"; do
  render "$page" 80
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS" "SEE ALSO"; do
    grep -qx "$section" "$work/page" || fail "$page has no section $section"
  done
done

# Wide, so that no word is broken at a line's end; the hyphen as the tool spells it.
render "$ctl_page" 400
sed 's/‐/-/g; s/−/-/g' "$work/page" >"$work/ctl"
commands=$("$tool" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ "$(echo "$commands" | wc -l)" -ge 5 ] || fail "the tool's help lists no commands: $commands"
options=$("$tool" --help | grep -oE -- '--[a-z][a-z-]*' || true)
for c in $commands; do
  # Each command is an entry of COMMANDS: its name first on a line of its own indentation.
  sed -n '/^COMMANDS$/,/^OPTIONS$/p' "$work/ctl" | grep -E "^       $c( |$)" >/dev/null || fail "$ctl_page: no entry for the command $c"
  options+=" $("$tool" "$c" --help | grep -oE -- '--[a-z][a-z-]*' || true)"
done
for o in $(echo "$options" | tr ' ' '\n' | sort -u); do
  grep -qE -- "(^| )$o( |$)" "$work/ctl" || fail "$ctl_page does not describe the option $o"
done

# Every variable the program, the tool and the board libraries read, and the trace each board
# library reads by its name. HOME goes without saying; EVM_QUIT_AFTER_SHOW is the start-up
# benchmark's hook, not a user's setting.
variables=$(cd "$src" && grep -rhoE '(getenv|EnvironmentVariable[A-Za-z]*)\("[A-Z_]+"' src boards | grep -oE '"[A-Z_]+"' | tr -d '"'
            cd "$src" && grep -rhoE 'name\(\) const override \{ return "[A-Z]+"' boards | grep -oE '"[A-Z]+"' | tr -d '"' | sed 's/.*/OSTREL_&_TRACE/')
render "$window_page" 400
cp "$work/page" "$work/window"
for v in $(echo "$variables" | sort -u | grep -vxE 'HOME|EVM_QUIT_AFTER_SHOW'); do
  for page in ctl window; do
    sed -n '/^ENVIRONMENT$/,/^FILES$/p' "$work/$page" | grep -w -- "$v" >/dev/null || fail "the $page page's ENVIRONMENT lacks $v"
  done
done
for o in --help --version -h -v; do
  grep -qE -- "(^| )$o(,| |$)" "$work/window" || fail "$window_page does not describe $o"
done
# What the window's own help names is in its page too; it answers without a display.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$(dirname "$tool")/evm5170" --help 2>&1) || fail "evm5170 --help failed: $help"
echo "$help" | grep -q -- '--version' || fail "evm5170 --help names no --version: $help"
for o in $(echo "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  grep -qE -- "(^| )$o(,| |$)" "$work/window" || fail "$window_page does not describe $o from the window's --help"
done
echo "check_man: ok ($(echo "$commands" | wc -w) commands, $(echo "$options" | tr ' ' '\n' | sort -u | grep -c .) options, $(echo "$variables" | sort -u | wc -l) variables)"
