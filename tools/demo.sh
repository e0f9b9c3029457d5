#!/usr/bin/env bash
# The demo: installs what is missing, builds, lays the sample OEM configuration (tools/demo/sample-oem.reg) into a
# throwaway Wine prefix, starts welkin.exe until it has nothing left to do, and shows what happened each time.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${WELKIN_BUILD_DIR:-$here/build}"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target welkin command_double regtool runwait wine_prefix signed_files \
  >/dev/null

. "$here/tools/wine-prefix.sh"
wine_environment
prefix=$(clone_prefix "$build/wine/template" "$build/wine/demo")
trap 'end_prefix "$prefix"' EXIT
export WINEPREFIX="$prefix"
win() { wine "$@" 2>/dev/null | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

# welkin lives where the suite installs it, with the utility library beside it; the stand-in commands record how
# they were started.
oobe="$prefix/drive_c/Program Files/Common Files/Torvex/OOBE"
bin="$prefix/drive_c/demo"
mkdir -p "$oobe" "$bin"
cp "$build/welkin/welkin.exe" "$oobe/"
cp "$build/tests/signed/good/QzUtil.dll" "$oobe/"
for command in welcome_tour register_device; do cp "$build/tests/doubles/command_double.exe" "$bin/$command.exe"; done
export WELKIN_DEMO_BIN='C:\demo' WELKIN_COMMAND_JOURNAL='C:\demo\commands.txt'
export WELKIN_QZUTIL_JOURNAL='C:\demo\utility.txt' WELKIN_RVXAAPI_JOURNAL='C:\demo\manager.txt'
export WELKIN_DEMO_SIGNED="$(winpath "$build/tests/signed/good")"
regtool="$build/tools/regtool/regtool.exe"
starts_so_far() { if [ -f "$bin/commands.txt" ]; then wc -l < "$bin/commands.txt"; else echo 0; fi; }
keys=('HKLM\Software\Torvex\Halvard\Oem' 'HKLM\Software\Torvex\Halvard\welkin')

echo "== Sample configuration: $here/tools/demo/sample-oem.reg"
win "$regtool" load "$(winpath "$here/tools/demo/sample-oem.reg")"
echo "== Registry before the first start"
win "$regtool" dump "${keys[@]}"

# welkin starts in C:\ as the service host would start it; the third start finds nothing left to do.
log="$prefix/drive_c/ProgramData/Torvex/QZLOGS/welkin/welkin/welkin000.log"
log_lines() { if [ -f "$log" ]; then iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'; fi; }
cd "$prefix/drive_c"
for start in 1 2 3; do
  before=$(starts_so_far)
  logged=$(log_lines | wc -l)
  echo
  echo "== Start $start of welkin.exe"
  win "$build/tools/runwait/runwait.exe" 'C:\Program Files\Common Files\Torvex\OOBE\welkin.exe' | sed 's/^/   /'
  echo "   commands started:"
  if [ -f "$bin/commands.txt" ]; then
    tail -n +"$((before + 1))" "$bin/commands.txt" | tr -d '\r' |
      awk -F'\t' '{ printf "     command line:%s\n     working folder: %s\n", $1, $2 }'
  fi
  [ "$(starts_so_far)" = "$before" ] && echo "     (none)"
  echo "   utility library calls:"
  if [ -s "$bin/utility.txt" ]; then sed 's/^/     /' "$bin/utility.txt" | tr -d '\r'; else echo "     (none)"; fi
  rm -f "$bin/utility.txt"
  echo "   service manager calls:"
  if [ -s "$bin/manager.txt" ]; then sed 's/^/     /' "$bin/manager.txt" | tr -d '\r'; else echo "     (none)"; fi
  rm -f "$bin/manager.txt"
  echo "   registry after this start:"
  win "$regtool" dump "${keys[@]}" | sed 's/^/     /'
  log_lines | tail -n +"$((logged + 1))" > "$bin/log_start_$start.txt"
done

echo
echo "== welkin's log lines, every severity (ProgramData\Torvex\QZLOGS\welkin\welkin\welkin000.log)"
for start in 1 2 3; do
  echo
  echo "== Log of start $start"
  if [ -s "$bin/log_start_$start.txt" ]; then sed 's/^/   /' "$bin/log_start_$start.txt"; else echo "   (no lines)"; fi
done
