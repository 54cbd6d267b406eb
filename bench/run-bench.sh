#!/bin/bash
# Runs modemapi_bench in a throw-away Wine prefix. Fails with
# "run-bench.sh: failed: ..." when the benchmark fails, crashes or ends
# before its last figure.
#   bench/run-bench.sh BUILD_DIR [benchmark arguments]    BUILD_DIR: the x86_64 build tree
set -eu
build=$(cd "${1:?usage: run-bench.sh BUILD_DIR [args]}" && pwd)
shift
exe=$build/bench/modemapi_bench.exe
[ -f "$exe" ] || { echo "missing $exe (build the x86_64 tree first)" >&2; exit 1; }

. "$(dirname "$0")/../demo/wine-prefix.sh"
new_wine_prefix modemapi-bench
# The simulated adapter stands in for WinUSB, which the library loads from
# the system folder only.
"$(dirname "$0")/../cmake/wine-prefixes.sh" system-dlls "$WINEPREFIX" "$build/sim/winusb.dll"
WINEDLLOVERRIDES="winusb=n" run_checked '^Idle, adapter open with handler: ' "$exe" "$@"
