#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# check_completion.sh COMPLETION TOOL: the bash completion, sourced in a non-interactive bash,
# completes commands, options, option values and field names as the tool takes them.
set -euo pipefail
completion=$1 tool=$2
fail() { echo "check_completion: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/snap-a.csv" "$work/snap-b.csv" "$work/other.txt"

# What the completion offers for a command line; its last word is the one being completed.
offered() {
  (cd "$work" && bash --norc --noprofile -c '
    source "$1" || exit 3
    line=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
    COMP_LINE=$line COMP_POINT=${#line}
    _evm5170ctl
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' bash "$completion" "$1")
}

bash --norc --noprofile -c 'source "$1" && complete -p evm5170ctl' bash "$completion" | grep _evm5170ctl >/dev/null \
  || fail "sourcing $completion registers no completion for evm5170ctl"

while IFS='|' read -r line expected; do
  [ -n "$line" ] || continue
  got=$(offered "$line")
  [ "$got" = "$expected" ] || fail "'$line': offered '$got', expected '$expected'"
done <<'EOF_CASES'
evm5170ctl ge|get
evm5170ctl se|serve set
evm5170ctl get DE|DEMP
evm5170ctl set de|DEMP
evm5170ctl get ATDA|ATDA0 ATDA1 ATDA2 ATDA3 ATDA4 ATDA5 ATDA6 ATDA7 ATDA8
evm5170ctl --trace get OV|OVF1 OVF2 OVF3 OVF4 OVF5 OVF6 OVFP
evm5170ctl --address 0x45 ge|get
evm5170ctl --interface |iic spi
evm5170ctl set DEMP |
evm5170ctl read 0x5|0x50 0x51 0x52 0x53 0x54 0x55 0x56 0x57 0x58 0x59 0x5A 0x5B 0x5C 0x5D 0x5E
evm5170ctl write 0x46 |
evm5170ctl --ver|--version
evm5170ctl serve --re|--read-only
evm5170ctl dump --f|--fields
evm5170ctl get --f|
evm5170ctl serve --listen |
evm5170ctl help ru|run
evm5170ctl diff snap|snap-a.csv snap-b.csv
evm5170ctl diff snap-a.csv o|other.txt
EOF_CASES

# The commands and fields are the tool's own: what its help lists and what it names when a
# field is unknown.
commands=$("$tool" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }' | sort | paste -sd " ")
[ "$(offered "evm5170ctl ")" = "$commands" ] || fail "offered commands '$(offered "evm5170ctl ")', the tool's help lists '$commands'"
fields=$({ XDG_CONFIG_HOME="$work" EVM_BOARD_LIBRARY=/nonexistent "$tool" get NOSUCHFIELD 2>&1 || true; } | sed -n 's/.*the fields are //p' | tr ' ' '\n' | sort | paste -sd " ")
[ -n "$fields" ] || fail "the tool names no fields for an unknown one"
[ "$(offered "evm5170ctl get ")" = "$fields" ] || fail "offered fields differ from the tool's: $(offered "evm5170ctl get ")"
echo "check_completion: ok ($(echo "$commands" | wc -w) commands, $(echo "$fields" | wc -w) fields)"
