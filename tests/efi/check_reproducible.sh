#!/usr/bin/env bash
# Builds the driver image a second time from scratch, in another directory,
# and requires the result to be byte-identical to the given image.
set -eu
source_dir=${1:?usage: check_reproducible.sh SOURCE_DIR IMAGE}
image=${2:?usage: check_reproducible.sh SOURCE_DIR IMAGE}
[ -f "$image" ] || { echo "FAIL: $image does not exist (build the efi preset first)"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source_dir" -B "$scratch/efi" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/EfiToolchain.cmake" -DCMAKE_BUILD_TYPE=Release >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/efi" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }

if cmp "$image" "$scratch/efi/BoardInventory.efi"; then
  echo "second clean build is byte-identical ($(stat -c %s "$image") bytes)"
else
  echo "FAIL: a second clean build of the image differs from $image"
  exit 1
fi
