#!/bin/bash
# Runs modemapi_bench in a throw-away Wine prefix.
#   bench/run-bench.sh BUILD_DIR [benchmark arguments]    BUILD_DIR: the x86_64 build tree
set -eu
build=$(cd "${1:?usage: run-bench.sh BUILD_DIR [args]}" && pwd)
shift
exe=$build/bench/modemapi_bench.exe
[ -f "$exe" ] || { echo "missing $exe (build the x86_64 tree first)" >&2; exit 1; }

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
work=$(mktemp -d "${TMPDIR:-/tmp}/modemapi-bench.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

WINEDLLOVERRIDES="mscoree,mshtml=" setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
setsid wineserver -p </dev/null >/dev/null 2>&1
WINEDLLOVERRIDES="winusb=n" "$wine" "$exe" "$@" </dev/null
