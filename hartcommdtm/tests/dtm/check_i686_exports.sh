#!/bin/bash
# A shipped in-process server (hartcommdtm.dll, scanrangectl.dll) exports
# exactly the four server entry points under their plain names, and imports
# no MinGW runtime DLL.
#   check_i686_exports.sh path/to/server.dll
set -u
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }
dump=$($objdump -p "$dll") || exit 1
echo "$dump" | grep -q "file format pei-i386" || { echo "not an i686 module"; exit 1; }
names=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep -o '\][[:space:]]*[A-Za-z_@0-9]*$' | sed 's/^\][[:space:]]*//' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
if [ "$names" != "$expected" ]; then
  echo "exports: '$names', expected '$expected'"
  exit 1
fi
if echo "$dump" | grep -i "DLL Name" | grep -qiE "libgcc|libstdc|libwinpthread"; then
  echo "imports a MinGW runtime DLL"
  exit 1
fi
echo "ok"
