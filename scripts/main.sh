#!/usr/bin/env bash
# Builds everything and runs the main job: the driver booted in the
# simulated firmware on its built-in default platform.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh efi host
build/bin/boardinv boot
