#!/usr/bin/env bash
# Builds the installer a second time, from a copy of the sources in another folder into another
# build folder, and requires the same bytes as the given build: nothing of the build's place or
# time may reach the executables.
#
#   bash tests/check_reproducible_build.sh SOURCE_DIR BUILD_TYPE WGT INSTALLER IU_EXE
#
# INSTALLER and IU_EXE come from the first build; WGT is the package both builds embed. Only
# the installer's targets are built, with the same toolchain file as the first build.
set -euo pipefail

fail() { echo "check_reproducible_build: FAIL: $*" >&2; exit 1; }

[[ $# -eq 5 ]] || { echo "usage: $0 SOURCE_DIR BUILD_TYPE WGT INSTALLER IU_EXE" >&2; exit 2; }
src=$1 build_type=$2 wgt=$3 installer=$4 iu=$5
for f in "$wgt" "$installer" "$iu"; do
  [[ -f $f ]] || fail "$f: no such file"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The copy sits at another depth under another name, so that any path that leaks differs.
copy=$work/elsewhere/velmora-copy
mkdir -p "$copy"
tar -C "$src" --exclude=./build --exclude=./.git --exclude=node_modules -cf - . | tar -C "$copy" -xf -

second=$work/second/build-tree
cmake -S "$copy" -B "$second" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-w64-x86_64.cmake" \
  -DVELMORA_WGT="$wgt" >"$work/configure.log" 2>&1 ||
  fail "configure of the second build failed: $(tail -n 20 "$work/configure.log")"
cmake --build "$second" --target VelmoraInstallTizen >"$work/build.log" 2>&1 ||
  fail "second build failed: $(tail -n 20 "$work/build.log")"

status=0
for pair in "$iu:$second/bridge/iu.exe" "$installer:$second/app/VelmoraInstallTizen.exe"; do
  first=${pair%%:*} again=${pair#*:}
  if ! cmp -s "$first" "$again"; then
    echo "check_reproducible_build: FAIL: $(basename "$first") differs between the builds" \
      "(offset, first build's byte, second build's byte; octal):" >&2
    cmp -l "$first" "$again" | head -n 10 >&2 || true
    status=1
  fi
done
((status == 0)) || exit 1
echo "check_reproducible_build: iu.exe and $(basename "$installer") are byte-identical across two build folders"
