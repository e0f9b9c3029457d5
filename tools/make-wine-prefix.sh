#!/usr/bin/env bash
# Creates the template Wine prefix that every test clones: wineboot once, then wait for the server to write the
# registry files. Idempotent: an existing complete prefix is kept.
set -eu
prefix="$1"
if [ -f "$prefix/.complete" ]; then exit 0; fi
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
. "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_start wineboot -i >/dev/null 2>&1 || true
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "make-wine-prefix.sh: wineboot did not create $prefix" >&2; exit 1; }
touch "$prefix/.complete"
