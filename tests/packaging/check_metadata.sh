#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# check_metadata.sh DESKTOP_ENTRY METAINFO TOOL: the desktop entry and the AppStream metadata
# pass their validators, and the metadata names this version, this entry and its icon.
set -euo pipefail
desktop=$1 metainfo=$2 tool=$3
fail() { echo "check_metadata: $*" >&2; exit 1; }
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate $desktop: $out"
[ -z "$out" ] || fail "desktop-file-validate $desktop: $out"
# --no-net: the screenshots' addresses are checked for their form, not fetched.
out=$(appstreamcli validate --no-net --explain "$metainfo" 2>&1) || fail "appstreamcli validate $metainfo: $out"
field() { /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as ET
r = ET.parse(sys.argv[1]).getroot(); e = r.find(sys.argv[2])
print((e.get(sys.argv[3]) if len(sys.argv) > 3 else e.text) if e is not None else "")' "$metainfo" "$@"; }
version=$("$tool" --version)
[ "evm5170ctl $(field releases/release version)" = "$version" ] \
  || fail "the metadata's newest release is $(field releases/release version), the tool is $version"
[ "$(field launchable)" = "$(basename "$desktop")" ] || fail "the metadata launches $(field launchable), not $(basename "$desktop")"
grep -qx "Icon=$(field icon)" "$desktop" || fail "the metadata's icon $(field icon) is not the entry's"
[ "$(basename "$metainfo")" = "$(field id).metainfo.xml" ] || fail "$(basename "$metainfo") is not named for its id $(field id)"
echo "check_metadata: ok"
