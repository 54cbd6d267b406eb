#!/bin/bash
# Renders every control on the virtual display and collects its PNGs in
# <build-root>/screenshots (as opened, and after a re-activation in English
# and in German): the cases labelled "screenshots" run under wine64 and write
# their pictures beside their programs.
#   tools/screenshots.sh [build-root]      default: ./build (built already)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build}
cd "$out/x86_64"
folders=(hartcommdtm/tests/controls/screenshots scanrangectl/tests/screenshots)
rm -rf "${folders[@]}"
ctest -L screenshots --output-on-failure
rm -rf "$out/screenshots"
mkdir -p "$out/screenshots"
for folder in "${folders[@]}"; do
  cp "$folder"/*.png "$out/screenshots/"
done
ls -1 "$out/screenshots"
