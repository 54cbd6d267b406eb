#!/bin/bash
# Checks the setup helper's executables without running them: a GUI program
# (no console window), a manifest asking for no elevation of its own, and no
# import of the driver-package DLL (bound at run time from the system folder)
# or of a MinGW runtime DLL.
#   check_binary.sh x86_64/drvsetup.exe [i686/drvsetup.exe]
set -u
status=0
fail() { echo "FAIL $1: $2"; status=1; }

for exe in "$@"; do
  [ -f "$exe" ] || { fail "$exe" "missing"; continue; }
  case $(file -b "$exe") in
    *x86-64*) objdump=x86_64-w64-mingw32-objdump ;;
    *) objdump=i686-w64-mingw32-objdump ;;
  esac
  headers=$($objdump -p "$exe")
  grep -Eq 'Subsystem[[:space:]]+00000002' <<<"$headers" || fail "$exe" "not a Windows GUI program"
  imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort | tr '\n' ' ')
  [ "$imports" = "kernel32.dll msvcrt.dll user32.dll " ] || fail "$exe" "imports: $imports"
  manifest=$(strings "$exe" | grep -c 'requestedExecutionLevel level="asInvoker" uiAccess="false"')
  [ "$manifest" = 1 ] || fail "$exe" "no single asInvoker manifest"
  [ $status = 0 ] && echo "ok $exe ($imports)"
done
exit $status
