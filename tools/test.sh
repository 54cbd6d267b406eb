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
# Every case runs once: a case that needs a second run to pass is a fault
# to find, not to hide.
ctest -j "$(nproc)" --output-on-failure
