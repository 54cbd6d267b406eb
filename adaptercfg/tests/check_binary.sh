#!/bin/bash
# The shipped adaptercfg.exe (i686) and the tested one (x86_64): a Windows
# GUI program of the right machine that needs no MinGW runtime DLL, with a
# manifest that asks for no elevation (asInvoker), the common controls 6 and
# declares DPI awareness.
#   check_binary.sh FILE...
set -u
status=0
for exe in "$@"; do
  dump=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "$exe: cannot read"; status=1; continue; }
  case $exe in
    *i686*) grep -q 'file format pei-i386' <<<"$dump" || { echo "$exe: not i386"; status=1; } ;;
    *) grep -q 'file format pei-x86-64' <<<"$dump" || { echo "$exe: not x86-64"; status=1; } ;;
  esac
  grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || { echo "$exe: not a GUI program"; status=1; }
  if grep -i 'DLL Name: .*\(libgcc\|libstdc\|libwinpthread\)' <<<"$dump"; then
    echo "$exe: needs a MinGW runtime DLL"
    status=1
  fi
  manifest=$(strings "$exe")
  grep -q 'requestedExecutionLevel level="asInvoker" uiAccess="false"' <<<"$manifest" ||
    { echo "$exe: manifest does not ask for asInvoker"; status=1; }
  grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" ||
    { echo "$exe: manifest without the common controls 6"; status=1; }
  grep -q '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' <<<"$manifest" ||
    { echo "$exe: manifest without DPI awareness"; status=1; }
  for dll in COMCTL32 VERSION USER32; do
    grep -qi "DLL Name: $dll" <<<"$dump" || { echo "$exe: does not import $dll"; status=1; }
  done
done
exit $status
