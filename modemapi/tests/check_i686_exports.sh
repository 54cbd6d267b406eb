#!/bin/bash
# Checks the export table of the shipped (i686) modemapi.dll without running
# it: every export under its fixed ordinal with an undecorated name, nothing
# else exported, no import of WinUSB (loaded at run time) or of a MinGW
# runtime DLL, the vtHART_ functions returning with a plain `ret` (cdecl:
# the caller removes the arguments) and each vtHARTvb_ twin with `ret $N`
# removing exactly its arguments (stdcall).
#   check_i686_exports.sh path/to/modemapi.dll
set -u
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

# name ordinal stack-bytes-removed-by-the-callee
expected="
vtHART_DeviceInit 1 0
vtHART_Send 2 0
vtHART_Receive 3 0
vtHART_SetParam 4 0
vtHART_GetParam 5 0
vtHART_CloseDevice 6 0
vtHART_StartMessageHandler 7 0
vtHART_StopMessageHandler 8 0
vtHART_DynamicInit 9 0
vtHART_GetDriverConfiguration 10 0
vtHART_SetDriverConfiguration 11 0
vtHART_AttachedDevices 12 0
vtHART_NotifyPnP 13 0
vtHARTvb_GetDriverConfiguration 14 8
vtHARTvb_SetDriverConfiguration 15 12
vtHARTvb_AttachedDevices 16 8
vtHARTvb_NotifyPnP 17 8
vtHARTvb_DeviceInit 20 8
vtHARTvb_Send 21 16
vtHARTvb_Receive 22 16
vtHARTvb_SetParam 23 8
vtHARTvb_GetParam 24 8
vtHARTvb_CloseDevice 25 4
vtHARTvb_DynamicInit 26 12
"

[ -f "$dll" ] || { echo "FAIL: $dll not found"; exit 1; }
headers=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p failed"; exit 1; }

base=$(awk '/^Ordinal Base/ {print $3; exit}' <<<"$headers")
image_base=$(awk '/^ImageBase/ {print $2; exit}' <<<"$headers")
# "[  n] name" lines of the name table: ordinal = n + base.
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
        sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p')
# "[  n] +base[  o] rva Export RVA" lines of the address table.
rvas=$(sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] +base\[[[:space:]]*\([0-9]*\)\][[:space:]]*\([0-9a-f]*\) Export RVA.*/\1 \2/p' <<<"$headers")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

count=$(grep -c . <<<"$names")
[ "$count" -eq 24 ] || fail "expected 24 named exports, found $count"

while read -r index name; do
  [ -n "$name" ] || continue
  case $name in
    *@*|_*) fail "decorated export name '$name'" ;;
  esac
  grep -q "^$name " <<<"$expected" || fail "unexpected export '$name'"
done <<<"$names"

while read -r name ordinal cleanup; do
  [ -n "$name" ] || continue
  index=$(awk -v n="$name" '$2 == n {print $1}' <<<"$names")
  if [ -z "$index" ]; then fail "$name is not exported"; continue; fi
  actual=$((index + base))
  [ "$actual" -eq "$ordinal" ] || fail "$name has ordinal $actual, expected $ordinal"

  rva=$(awk -v o="$ordinal" '$1 == o {print $2}' <<<"$rvas")
  if [ -z "$rva" ]; then fail "$name: no address for ordinal $ordinal"; continue; fi
  start=$((0x$image_base + 0x$rva))
  ret=$("$objdump" -d --start-address=$start --stop-address=$((start + 4096)) "$dll" |
        grep -m1 -E '[[:space:]]ret[[:space:]]*(\$0x[0-9a-f]+)?[[:space:]]*$')
  if [ -z "$ret" ]; then fail "$name: no ret found"; continue; fi
  operand=$(sed -n 's/.*ret[[:space:]]*\$\(0x[0-9a-f]*\).*/\1/p' <<<"$ret")
  removed=$(( ${operand:-0} ))
  [ "$removed" -eq "$cleanup" ] ||
    fail "$name returns with '$(sed 's/.*\t//' <<<"$ret")': removes $removed bytes, expected $cleanup"
done <<<"$expected"

imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers")
while read -r import; do
  case ${import,,} in
    winusb.dll|libstdc++*|libgcc*|libwinpthread*) fail "imports $import" ;;
  esac
done <<<"$imports"

if [ "$failures" -ne 0 ]; then
  echo "$failures export check(s) failed for $dll"
  exit 1
fi
echo "OK: 24 exports of $dll with their ordinals, names and stack cleanup"
