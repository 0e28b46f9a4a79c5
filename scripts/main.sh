#!/usr/bin/env bash
# Builds everything and runs the main job: the driver booted in the
# simulated firmware on its built-in default platform. What the main job
# needs (the image and boardinv) is built and run first; the tests and
# benchmarks of the host build follow, so the tree ends fully built.
set -euo pipefail
cd "$(dirname "$0")/.."
step() { printf '\n== %s\n' "$*" >&2; }
step "installing the packages the build needs"
scripts/install-deps.sh
step "building the driver image (build/efi/BoardInventory.efi)"
scripts/build.sh efi
step "building boardinv (build/bin/boardinv)"
cmake --preset host >/dev/null
cmake --build --preset host --target boardinv
step "the main job: boardinv boot (the built-in default platform)"
build/bin/boardinv boot
step "building the rest of the host build: tests and benchmarks"
cmake --build --preset host
