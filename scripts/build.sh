#!/usr/bin/env bash
# Builds both trees: native (bridge, tvsim, wgtpack, Velmora.wgt) and the Windows cross build
# (the installer with iu.exe and Velmora.wgt inside it). Output: build/native and build/win.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$jobs"

cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DVELMORA_WGT="$root/build/native/widget/Velmora.wgt" \
  -DVELMORA_NATIVE_DIR="$root/build/native" >/dev/null
cmake --build build/win -j "$jobs"
