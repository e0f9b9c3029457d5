#!/usr/bin/env bash
# The demo: installs what is missing, builds, lays the sample OEM configuration (tools/demo/sample-oem.reg) into a
# throwaway Wine prefix, starts welkin.exe until it has nothing left to do, and shows what happened each time.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${WELKIN_BUILD_DIR:-$here/build}"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target welkin command_double Pomvek regtool runwait wine_prefix signed_files \
  >/dev/null

. "$here/tools/wine-prefix.sh"
wine_environment
prefix=$(clone_prefix "$build/wine/template" "$build/wine/demo")
trap 'end_prefix "$prefix"' EXIT
export WINEPREFIX="$prefix"
win() { wine_start wine "$@" 2>/dev/null | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }

# welkin lives where the suite installs it, with the signed utility and bus libraries beside it; the language
# selector and the installer where the suite puts them; the stand-in commands record how they were started, and
# every stand-in of the suite keeps a journal of what it was asked.
drive="$prefix/drive_c"
oobe="$drive/Program Files/Common Files/Torvex/OOBE"
platform="$drive/Program Files/Common Files/Torvex/Platform"
installer="$drive/Program Files (x86)/Common Files/Torvex/Installer"
bin="$drive/demo"
partnerdata="$drive/ProgramData/Torvex/KVR/Regwiz/PartnerData"
mkdir -p "$oobe" "$platform" "$installer" "$bin/KVR" "$partnerdata"
signed="$build/tests/signed/good"
cp "$build/welkin/welkin.exe" "$signed/QzUtil.dll" "$signed/Corlune.dll" "$oobe/"
cp "$build/tests/doubles/unsigned/Pomvek.dll" "$platform/"
cp "$build/tests/doubles/command_double.exe" "$installer/qzinst.exe"
for command in welcome_tour register_device; do cp "$build/tests/doubles/command_double.exe" "$bin/$command.exe"; done
cp "$here/tools/demo/qzoemmap.ini" "$bin/KVR/"
: > "$partnerdata/{0D5C1A3E-DEMO}.dat"
export WELKIN_DEMO_BIN='C:\demo' WELKIN_COMMAND_JOURNAL='C:\demo\commands.txt'
export WELKIN_QZUTIL_JOURNAL='C:\demo\utility.txt' WELKIN_RVXAAPI_JOURNAL='C:\demo\manager.txt'
export CORLUNE_DOUBLE_JOURNAL='C:\demo\bus.txt' WELKIN_TELEMETRY_JOURNAL='C:\demo\telemetry.txt'
export WELKIN_DEMO_SIGNED="$(winpath "$signed")"
# The telemetry service: the stand-in COM server, registered by its class identifier.
win reg add 'HKLM\Software\Classes\CLSID\{E782BE15-9936-4A7F-8DF9-9AB95D229DF1}\InprocServer32' /ve /d \
  "$WELKIN_DEMO_SIGNED\telemetry_service.dll" /f >/dev/null
win reg add 'HKLM\Software\Classes\CLSID\{E782BE15-9936-4A7F-8DF9-9AB95D229DF1}\InprocServer32' \
  /v ThreadingModel /d Both /f >/dev/null
regtool="$build/tools/regtool/regtool.exe"
starts_so_far() { if [ -f "$bin/commands.txt" ]; then wc -l < "$bin/commands.txt"; else echo 0; fi; }
keys=('HKLM\Software\Torvex\Halvard' 'HKLM\Software\Torvex\KVR'
  'HKLM\Software\Torvex\Dunmore\YVCore\On Access Scanner\QzShield\Configuration'
  'HKLM\SOFTWARE\Torvex\Skellig\InstallSettings\Substitute')

echo "== Sample configuration: $here/tools/demo/sample-oem.reg"
win "$regtool" load "$(winpath "$here/tools/demo/sample-oem.reg")"
echo "== Registry before the first start"
win "$regtool" dump "${keys[@]}"

# welkin starts in C:\ as the service host would start it; the third start finds nothing left to do.
log="$prefix/drive_c/ProgramData/Torvex/QZLOGS/welkin/welkin/welkin000.log"
log_lines() { if [ -f "$log" ]; then iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'; fi; }
# What a stand-in was asked during this start (the lines that match $3, all by default), then its journal is emptied
# for the next one.
journal() {
  echo "   $1:"
  if [ -s "$bin/$2" ] && grep -q "${3:-}" "$bin/$2"; then
    grep "${3:-}" "$bin/$2" | sed 's/^/     /' | tr -d '\r'
  else
    echo "     (none)"
  fi
  rm -f "$bin/$2"
}
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
  journal "utility library calls" utility.txt
  journal "language selector calls" selector.txt
  journal "message bus and settings manager" bus.txt
  journal "telemetry events sent" telemetry.txt '^send'
  journal "service manager calls" manager.txt
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
