#!/bin/bash
# Checks the setup helper's executables without running them: a GUI program
# (no console window), a manifest asking for no elevation of its own, for the
# common controls 6 and declaring DPI awareness, no import of the
# driver-package DLL (bound at run time) or of a MinGW runtime DLL, and on
# i686 a log callback that leaves the stack to its caller (__cdecl: a plain
# ret, never "ret $N").
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
  strings "$exe" | grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' ||
    fail "$exe" "manifest without the common controls 6"
  strings "$exe" | grep -q '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' ||
    fail "$exe" "manifest without DPI awareness"
  if [ "$objdump" = i686-w64-mingw32-objdump ]; then
    # The callback's own body: from its symbol to the next one.
    body=$($objdump -d --no-show-raw-insn "$exe" |
      awk '/^[0-9a-f]+ <__ZN8drvsetup15DifxLogCallback[^.>]*>:/ {p = 1; next} /^[0-9a-f]+ </ {p = 0} p')
    [ -n "$body" ] || fail "$exe" "no DifxLogCallback symbol to check"
    grep -Eq '[[:space:]]ret[[:space:]]*$' <<<"$body" || fail "$exe" "DifxLogCallback has no plain ret"
    if grep -Eq '[[:space:]]ret[[:space:]]+\$' <<<"$body"; then
      fail "$exe" "DifxLogCallback pops its arguments (stdcall), the platform calls it cdecl"
    fi
  fi
  [ $status = 0 ] && echo "ok $exe ($imports)"
done
exit $status
