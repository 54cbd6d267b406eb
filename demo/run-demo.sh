#!/bin/bash
# The system end to end on a simulated adapter, in a throw-away Wine prefix:
#   demo/run-demo.sh BUILD_DIR      BUILD_DIR: the x86_64 build tree
#
# 1. A simulated adapter (serial 0x1234, three field devices on its HART line)
#    is plugged in: present as a device interface for SetupAPI.
# 2. The plug-and-play service is installed and started; it lists the adapter
#    under EnumKey.
# 3. hartscan binds device number 0 to the adapter through the service's pipe,
#    opens it and polls HART addresses 0 to 15 with command 0.
# 4. The HART line is switched to wire time (answers take the time of their
#    bytes at 1200 bit/s, silence the master's reply time-out). framehost, a
#    frame application of our own, creates the HART communication DTM by its
#    ProgID from the registered module, configures its channel for device
#    number 0, scans addresses 0 to 15 through the channel, lists the devices
#    and lets a device DTM connect to the first one and read command 0.
# 5. The service is stopped and removed; EnumKey goes with it.
# Every program must end with exit code 0 and, where it has one, its closing
# line; else the demo stops there with "run-demo.sh: failed: ..." and exit
# code 1. Its last line says it ran to its end.
set -euo pipefail
build=$(cd "${1:?usage: run-demo.sh BUILD_DIR}" && pwd)
programs=(
  "$build/demo/hartscan.exe"
  "$build/demo/framehost.exe"
  "$build/demo/hartcommdtm.dll"
  "$build/demo/hartcommdtmTranslation.xml"
  "$build/demo/modemapi.dll"
  "$build/pnpsvc/pnpsvc.exe"
  "$build/testdoubles/adapterpresence/plugadapter.exe"
)
# Stand-ins for platform libraries, which the system loads from the system
# folder only.
system_dlls=(
  "$build/sim/winusb.dll"
  "$build/testdoubles/msports/msports.dll"
)
for f in "${programs[@]}" "${system_dlls[@]}"; do
  [ -f "$f" ] || { echo "missing $f (build the x86_64 tree first)" >&2; exit 1; }
done

. "$(dirname "$0")/wine-prefix.sh"
# DEMO_PREFIX_TEMPLATE: a booted prefix to copy instead of making one (the
# test run passes its template).
if [ -n "${DEMO_PREFIX_TEMPLATE:-}" ]; then
  echo "== Copying a Wine prefix"
else
  echo "== Creating a throw-away Wine prefix"
fi
new_wine_prefix hartscan-demo "${DEMO_PREFIX_TEMPLATE:-}"
# Start Wine's own processes detached too, so that none of them holds this
# script's output open.
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || script_failed "the prefix did not boot"

# The programs run from C:\demo; the simulated adapter (our winusb.dll) and
# the COM port database stand-in go into the system folder.
bin=$WINEPREFIX/drive_c/demo
mkdir -p "$bin"
cp "${programs[@]}" "$bin/"
cp -r "$build/demo/schemas" "$bin/"
"$(dirname "$0")/../cmake/wine-prefixes.sh" system-dlls "$WINEPREFIX" "${system_dlls[@]}" ||
  script_failed "the platform library stand-ins were not copied"
reg() { "$wine" reg "$@" </dev/null >/dev/null 2>&1 || script_failed "reg $*"; }
enum_key='HKLM\Software\VELTRA\evHRT USB\Enum'
enum_key_listing() { "$wine" reg query "$enum_key" /reg:32 </dev/null 2>/dev/null | tr -d '\r'; }
# The service's part of a path under Wine: \\?\NAME is the file NAME in the
# prefix's dosdevices folder.
device_file() { echo "$WINEPREFIX/dosdevices/$(tr 'A-Z' 'a-z' <<<"${1#\\\\\?\\}")"; }

echo "== Plugging in simulated adapter 0x1234 with three field devices"
path=$(WINEDLLOVERRIDES="winusb=n" run_checked '^\\\\' 'C:\demo\plugadapter.exe' SIM1234 0x1234)
cat >>"$(device_file "$path")" <<'DEV'
device address=0 manufacturer=0x26 type=0x06 id=0x00A101 revision=7 preambles=5 tag="PT 101" longtag="Pressure line 1"
device address=3 manufacturer=0x11 type=0x2C id=0x003E07 revision=6 preambles=5 tag="TT 202" longtag="Temperature tank 2"
device address=12 manufacturer=0x37 type=0x81 id=0x0B0B0C revision=5 preambles=7 tag="FT 303"
DEV
echo "  $path"
sed -n 's/^device /  /p' "$(device_file "$path")"

echo "== Installing and starting the plug-and-play service"
# The service loads the simulator in place of WinUSB, and our stand-in for
# the COM port database.
overrides='HKCU\Software\Wine\AppDefaults\pnpsvc.exe\DllOverrides'
reg add "$overrides" /v winusb /t REG_SZ /d native /f
reg add "$overrides" /v msports /t REG_SZ /d native /f
run_checked '' 'C:\demo\pnpsvc.exe' -install
run_checked '' sc start "VELTRA evHRT USB" >/dev/null
# The service fills EnumKey while it starts.
for _ in $(seq 50); do
  listing=$(enum_key_listing) && break
  sleep 0.2
done
[ -n "${listing:-}" ] || script_failed "EnumKey: none (the service found no adapter)"
echo "EnumKey ($enum_key):"
sed -n 's/^ *\([^ ].*[^ ]\) \{2,\}REG_DWORD \{2,\}\(.*\)$/  \1 -> serial \2/p' <<<"$listing"

echo "== hartscan 0 --bind"
WINEDLLOVERRIDES="winusb=n" run_checked '^3 device\(s\) found\.$' 'C:\demo\hartscan.exe' 0 --bind

echo "== Switching the HART line to wire time (1200 bit/s, reply time-out for silence)"
printf 'wiretime=1\nnoanswer=4294967295\n' >>"$(device_file "$path")"
echo "== Registering the HART communication DTM (regsvr32 hartcommdtm.dll)"
run_checked '' regsvr32 /s 'C:\demo\hartcommdtm.dll'
echo "== framehost 0"
WINEDLLOVERRIDES="winusb=n" run_checked '^Channel closed, DTM shut down$' 'C:\demo\framehost.exe' 0

echo "== Stopping and removing the service"
run_checked '' 'C:\demo\pnpsvc.exe' -remove
! enum_key_listing >/dev/null || script_failed "EnumKey is still there after the service was removed"
echo "EnumKey: gone"
wineserver -k
echo "== Demo finished: every program ended as expected"
