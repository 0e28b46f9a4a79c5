#!/usr/bin/env bash
# Builds the driver image and its firmware file a second time from scratch,
# in another directory, and requires both to be byte-identical to the given
# image and the firmware file beside it.
set -eu
source_dir=${1:?usage: check_reproducible.sh SOURCE_DIR IMAGE}
image=${2:?usage: check_reproducible.sh SOURCE_DIR IMAGE}
[ -f "$image" ] || { echo "FAIL: $image does not exist (build the efi preset first)"; exit 1; }
# The firmware file is written beside the image.
ffs=$(dirname "$image")/BoardInventory.ffs
[ -f "$ffs" ] || { echo "FAIL: $ffs does not exist (build the efi preset first)"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source_dir" -B "$scratch/efi" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/EfiToolchain.cmake" -DCMAKE_BUILD_TYPE=Release >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/efi" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }

failures=0
if cmp "$image" "$scratch/efi/BoardInventory.efi"; then
  echo "second clean build: BoardInventory.efi is byte-identical ($(stat -c %s "$image") bytes)"
else
  echo "FAIL: a second clean build of the image differs from $image"
  failures=1
fi
if cmp "$ffs" "$scratch/efi/BoardInventory.ffs"; then
  echo "second clean build: BoardInventory.ffs is byte-identical ($(stat -c %s "$ffs") bytes)"
else
  echo "FAIL: a second clean build of the firmware file differs from $ffs"
  failures=1
fi
exit "$failures"
