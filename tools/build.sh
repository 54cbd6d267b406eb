#!/bin/bash
# Builds every deliverable for i686 (what ships) and x86_64 (what the tests run).
#   tools/build.sh [build-root]      default: ./build
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build}
jobs=$(nproc)
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
for arch in i686 x86_64; do
  cmake -S "$src" -B "$out/$arch" "${gen[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DI686_BUILD_DIR="$out/i686" >/dev/null
  cmake --build "$out/$arch" -j "$jobs"
done
