#!/usr/bin/env bash
# Builds everything and runs every test: the host build, the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the checks of the target
# image, and a bounded run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh efi host host-asan
ctest --preset host
ctest --preset host-asan
scripts/run-fuzz.sh 30
