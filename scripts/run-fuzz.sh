#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 30) from a
# copy of its seed corpus in tests/fuzz/corpus, with its dictionary. Fails
# on the first finding; the input that caused it is kept in
# build/fuzz/findings. For a longer run, give more seconds, e.g.
#   scripts/run-fuzz.sh 3600
set -euo pipefail

duration="${1:-30}"
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -eq 0 ]; then
  echo "usage: $0 [SECONDS]   (seconds per fuzz target, default 30)" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
findings="$root/build/fuzz/findings"
mkdir -p "$findings"

# Each target with its seed corpus and, where it has one, its dictionary.
targets=(
  "devpath_text_fuzzer:devpath_text_fuzzer:tests/fuzz/devpath_text_fuzzer.dict"
  "devpath_binary_fuzzer:devpath_binary_fuzzer:tests/fuzz/devpath_binary_fuzzer.dict"
  "heap_transfer_fuzzer:heap_transfer:"
)
for entry in "${targets[@]}"; do
  IFS=: read -r target seeds dict <<<"$entry"
  corpus="$work/$target"
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$seeds"/* "$corpus"/
  echo "run-fuzz: $target for ${duration} s"
  # A slow input counts as a finding too (-timeout, seconds per input).
  build/fuzz/bin/"$target" \
    -max_total_time="$duration" \
    -timeout=10 \
    ${dict:+-dict="$dict"} \
    -artifact_prefix="$findings/$target-" \
    -print_final_stats=1 \
    "$corpus"
done
echo "run-fuzz: no findings"
