# Sourced by the Wine scripts: make and end private clones of a template prefix.
# A clone is hard links to the template (cheap), except the registry files, which the server rewrites and which are
# therefore copied for real so the template never changes through a clone.

wine_environment() {
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
}

# wine_start <program> [arguments...]: starts a Wine program (wine, wineboot) with address randomisation off, which
# every Wine process it starts inherits. This Wine has no preloader to reserve its fixed addresses, so the kernel
# may place the loader's heap over the shared user data at 0x7ffe0000, and then the process dies before it runs
# (about one start in 6,000; its parent sees CreateProcessW fail with 1359). Not exec'd: callers' traps still run.
wine_start() {
  setarch "$(uname -m)" -R "$@"
}

# clone_prefix <template> <parent folder>: prints the new clone's path.
clone_prefix() {
  local template="$1" parent="$2" clone f
  if [ ! -f "$template/system.reg" ]; then
    echo "template prefix $template is missing (build the wine_prefix target)" >&2
    return 2
  fi
  mkdir -p "$parent"
  clone=$(mktemp -d "$parent/p.XXXXXX")
  cp -al "$template/." "$clone/"
  for f in system.reg user.reg userdef.reg; do
    rm -f "$clone/$f"
    cp "$template/$f" "$clone/$f"
  done
  echo "$clone"
}

# end_prefix <clone>: stops the clone's server and removes the clone.
end_prefix() {
  local clone="$1"
  [ -n "$clone" ] || return 0
  WINEPREFIX="$clone" wineserver -k >/dev/null 2>&1
  WINEPREFIX="$clone" wineserver -w >/dev/null 2>&1
  rm -rf "$clone"
}
