#!/usr/bin/env bash
# Builds what the main job needs (the image and boardinv), runs the main
# job: the driver booted in the simulated firmware on its built-in default
# platform, and stops. scripts/test.sh builds everything else.
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
