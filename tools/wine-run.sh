#!/usr/bin/env bash
# Runs one Windows program under Wine. With WELKIN_WINE_TEMPLATE set, the program gets a private clone of that
# template prefix (hard links, registry files copied for real), so programs that touch machine-wide state can run in
# parallel; the clone's wineserver is ended and the clone removed afterwards. Without it, WINEPREFIX is used as is.
set -u
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh program.exe [arguments...]" >&2
  exit 2
fi

clone=""
cleanup() {
  if [ -n "$clone" ]; then
    WINEPREFIX="$clone" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$clone" wineserver -w >/dev/null 2>&1
    [ -n "${WELKIN_KEEP_PREFIX:-}" ] || rm -rf "$clone"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "${WELKIN_WINE_TEMPLATE:-}" ]; then
  template="$WELKIN_WINE_TEMPLATE"
  if [ ! -f "$template/system.reg" ]; then
    echo "wine-run.sh: template prefix $template is missing (build the wine_prefix target)" >&2
    exit 2
  fi
  parent="${WELKIN_WINE_CLONES:-$(dirname "$template")/clones}"
  mkdir -p "$parent"
  clone=$(mktemp -d "$parent/p.XXXXXX")
  cp -al "$template/." "$clone/"
  # The registry files are rewritten by the server: never through a hard link into the template.
  for f in system.reg user.reg userdef.reg; do
    rm -f "$clone/$f"
    cp "$template/$f" "$clone/$f"
  done
  export WINEPREFIX="$clone"
fi

wine "$@"
rc=$?
exit $rc
