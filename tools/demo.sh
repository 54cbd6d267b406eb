#!/bin/bash
# The system's main job, end to end on the simulated adapter: builds what is
# needed, then scans a simulated HART line through the modem interface library
# in a throw-away Wine prefix.
#   tools/demo.sh [build-root]      default: ./build
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build}
"$src/tools/setup.sh"
"$src/tools/build.sh" "$out"
exec "$src/demo/run-demo.sh" "$out/x86_64"
