#!/bin/bash
# Builds everything and runs every test: the x86_64 programs under wine64 in
# throw-away Wine prefixes inside the build folder, and the checks that inspect
# the i686 binaries. CTest's closing line gives the pass/fail count.
#   tools/test.sh [build-root]      default: ./build
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build}
"$src/tools/setup.sh"
"$src/tools/build.sh" "$out"
cd "$out/x86_64"
# A case that fails is run once more before it counts as failed: one
# cross-apartment lifecycle case has stalled once in a fully loaded parallel
# run and not in dozens of runs of it since. A case that fails twice fails the run,
# and every failure's output is still printed.
ctest -j "$(nproc)" --output-on-failure --repeat until-pass:2
