#!/usr/bin/env bash
# Runs one Windows program under Wine. With WELKIN_WINE_TEMPLATE set, the program gets a private clone of that
# template prefix, so programs that touch machine-wide state can run in parallel; the clone's wineserver is ended
# and the clone removed afterwards (kept with WELKIN_KEEP_PREFIX=1). Without it, WINEPREFIX is used as is.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_environment

if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh program.exe [arguments...]" >&2
  exit 2
fi

clone=""
cleanup() {
  if [ -n "$clone" ] && [ -z "${WELKIN_KEEP_PREFIX:-}" ]; then end_prefix "$clone"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "${WELKIN_WINE_TEMPLATE:-}" ]; then
  clone=$(clone_prefix "$WELKIN_WINE_TEMPLATE" "${WELKIN_WINE_CLONES:-$(dirname "$WELKIN_WINE_TEMPLATE")/clones}") \
    || exit 2
  export WINEPREFIX="$clone"
fi

wine_start wine "$@"
