#!/bin/bash
# The system's main job, end to end on the simulated adapter, in a throw-away
# Wine prefix: plugs in a simulated adapter with three field devices, installs
# and starts the plug-and-play service, binds device number 0 to the adapter
# through the library and the service's pipe, scans HART polling addresses 0
# to 15 through the modem interface library, then has a frame application of
# our own create the HART communication DTM from its registered module, scan
# 0 to 15 through the DTM's channel and let a device DTM read command 0 from
# the first device found, then removes the service.
#   tools/demo.sh [build-root]      default: ./build
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build}
"$src/tools/setup.sh"
"$src/tools/build.sh" "$out"
exec "$src/demo/run-demo.sh" "$out/x86_64"
