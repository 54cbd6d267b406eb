#!/bin/sh
# The i686 winusb.dll must export WinUSB's names undecorated, and each entry
# point must clean its own arguments off the stack (stdcall) as callers of
# the platform's WinUSB expect.
#   check_i686_exports.sh path/to/i686/winusb.dll
set -eu
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
exports=$($objdump -p "$dll")
disassembly=$($objdump -d "$dll")
status=0
for entry in WinUsb_Initialize:8 WinUsb_Free:4 WinUsb_GetDescriptor:28 WinUsb_ControlTransfer:28; do
  name=${entry%%:*}
  bytes=${entry##*:}
  if ! printf '%s\n' "$exports" | grep -Eq "^[[:space:]]+\[ *[0-9]+\] $name\$"; then
    echo "missing undecorated export $name"; status=1
  fi
  ret=$(printf '%s\n' "$disassembly" | awk -v f="<_${name}@${bytes}>:" '$2 == f {p=1; next} p && /ret/ {print; exit}')
  hex=$(printf '0x%x' "$bytes")
  case "$ret" in
    *"ret    \$$hex"*) ;;
    *) echo "$name does not return with ret $hex: '$ret'"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "winusb.dll i686 exports ok"
exit $status
