#!/bin/bash
# Times a device-list scan of polling addresses 0 to 15 through the HART
# channel with the simulated adapter in wire-time mode (answers take the
# time of their bytes at 1200 bit/s, silent addresses the master's reply
# time-out), beside the sum of the wire times and time-outs the scan cannot
# avoid, in a throw-away Wine prefix. Fails with "run-scan-bench.sh:
# failed: ..." unless the benchmark case passes as a test case must (exit
# code 0, GoogleTest's pass summary, no failed case).
#   bench/run-scan-bench.sh BUILD_DIR    BUILD_DIR: the x86_64 build tree
set -eu
build=$(cd "${1:?usage: run-scan-bench.sh BUILD_DIR}" && pwd)
exe=$build/hartcommdtm/tests/channel/hartcommdtm_channel_test.exe
[ -f "$exe" ] || { echo "missing $exe (build the x86_64 tree first)" >&2; exit 1; }

. "$(dirname "$0")/../demo/wine-prefix.sh"
new_wine_prefix scan-bench
"$(dirname "$0")/../cmake/wine-prefixes.sh" system-dlls "$WINEPREFIX" "$build/sim/winusb.dll"
cd "$(dirname "$exe")"
WINEDLLOVERRIDES="winusb=n" run_checked '^\[  PASSED  \] 1 test\.' "$exe" --gtest_also_run_disabled_tests \
  --gtest_filter='ScanBenchmark.*'
! grep -q '^\[  FAILED  \]' "$work/output" || script_failed "GoogleTest reports a failed case"
