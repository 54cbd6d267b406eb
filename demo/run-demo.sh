#!/bin/bash
# Runs hartscan against a simulated adapter in a throw-away Wine prefix.
#   demo/run-demo.sh BUILD_DIR      BUILD_DIR: the x86_64 build tree
#
# The prefix gets one simulated adapter (serial 0x1234) with three field
# devices on its HART line. The script plays the plug-and-play service's part
# in the registry: it binds device number 0 to the adapter (ConfigKey) and
# lists the adapter as attached (EnumKey), both in the 32-bit view.
set -eu
build=$(cd "${1:?usage: run-demo.sh BUILD_DIR}" && pwd)
bin=$build/demo
for f in hartscan.exe modemapi.dll winusb.dll; do
  [ -f "$bin/$f" ] || { echo "missing $bin/$f (build the x86_64 tree first)" >&2; exit 1; }
done

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
work=$(mktemp -d "${TMPDIR:-/tmp}/hartscan-demo.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# DEMO_PREFIX_TEMPLATE: a booted prefix to copy instead of making one (the
# test run passes its template).
if [ -n "${DEMO_PREFIX_TEMPLATE:-}" ]; then
  echo "== Copying a Wine prefix"
  cp -a "$DEMO_PREFIX_TEMPLATE" "$WINEPREFIX"
else
  echo "== Creating a throw-away Wine prefix"
  WINEDLLOVERRIDES="mscoree,mshtml=" setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi
setsid wineserver -p </dev/null >/dev/null 2>&1

echo "== Simulated adapter 0x1234 with three field devices"
mkdir -p "$WINEPREFIX/drive_c/sim"
cat > "$WINEPREFIX/drive_c/sim/adapter-1234.dev" <<'DEV'
# simulated HART adapter
serial=0x1234
present=1
device address=0 manufacturer=0x26 type=0x06 id=0x00A101 revision=7 preambles=5 tag="PT 101" longtag="Pressure line 1"
device address=3 manufacturer=0x11 type=0x2C id=0x003E07 revision=6 preambles=5 tag="TT 202" longtag="Temperature tank 2"
device address=12 manufacturer=0x37 type=0x81 id=0x0B0B0C revision=5 preambles=7 tag="FT 303"
DEV
sed -n 's/^device /  /p' "$WINEPREFIX/drive_c/sim/adapter-1234.dev"

echo "== Registry: device number 0 -> adapter 0x1234, adapter attached"
reg() { "$wine" reg "$@" /reg:32 </dev/null >/dev/null; }
reg add 'HKLM\Software\VELTRA\evHRT USB\Config\0' /v USB-Id /t REG_DWORD /d 0x1234 /f
reg add 'HKLM\Software\VELTRA\evHRT USB\Enum' /v 'C:\sim\adapter-1234.dev' /t REG_DWORD /d 0x1234 /f

echo "== hartscan 0"
WINEDLLOVERRIDES="winusb=n" "$wine" "$bin/hartscan.exe" 0 </dev/null
