#!/usr/bin/env bash
# Runs the benchmark programs under Wine (each in a fresh prefix clone) and prints their figures. Run by hand after a
# build; nothing gates on the figures. Names on the command line pick programs (default: all of build/bench/*.exe).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${WELKIN_BUILD_DIR:-$here/build}"
export WELKIN_WINE_TEMPLATE="$build/wine/template"
programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
  programs=("$build"/bench/*.exe)
fi
for program in "${programs[@]}"; do
  [ -f "$program" ] || program="$build/bench/$program.exe"
  echo "== $(basename "$program" .exe)"
  "$here/tools/wine-run.sh" "$program"
done
