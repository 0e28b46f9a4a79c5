#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 30) from its
# seed corpus in tests/fuzz/corpus, with its dictionary. Fails on the first
# finding; the input that caused it is kept in build/fuzz/findings.
#
#   scripts/run-fuzz.sh [SECONDS] [TARGET...]
#
# With no TARGET every target runs, one after another. For a campaign, give
# more seconds and, with BOARDINV_FUZZ_KEEP=1, the corpus grows in
# build/fuzz/corpus/TARGET from one run to the next (otherwise each run
# starts from a scratch copy of the seeds). Each run's libFuzzer output is
# kept in build/fuzz/logs/TARGET-DATE.log, its last lines give the number
# of executions. E.g. half an hour of the whole-boot fuzzer:
#   BOARDINV_FUZZ_KEEP=1 scripts/run-fuzz.sh 1800 boot_fuzzer
set -euo pipefail

duration="${1:-30}"
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -eq 0 ]; then
  echo "usage: $0 [SECONDS] [TARGET...]   (seconds per fuzz target, default 30)" >&2
  exit 2
fi
shift || true

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# Each target with its seed corpus and, where it has one, its dictionary.
all_targets=(
  "devpath_text_fuzzer:devpath_text_fuzzer:tests/fuzz/devpath_text_fuzzer.dict"
  "devpath_binary_fuzzer:devpath_binary_fuzzer:tests/fuzz/devpath_binary_fuzzer.dict"
  "devpath_totext_fuzzer:devpath_totext_fuzzer:tests/fuzz/devpath_text_fuzzer.dict"
  "heap_transfer_fuzzer:heap_transfer:"
  "boot_fuzzer:boot:tests/fuzz/boot_fuzzer.dict"
)
targets=()
if [ "$#" -eq 0 ]; then
  targets=("${all_targets[@]}")
else
  for wanted in "$@"; do
    found=""
    for entry in "${all_targets[@]}"; do
      if [ "${entry%%:*}" = "$wanted" ]; then
        targets+=("$entry")
        found=1
      fi
    done
    if [ -z "$found" ]; then
      echo "run-fuzz: no fuzz target named $wanted (targets: devpath_text_fuzzer devpath_binary_fuzzer devpath_totext_fuzzer heap_transfer_fuzzer boot_fuzzer)" >&2
      exit 2
    fi
  done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
findings="$root/build/fuzz/findings"
logs="$root/build/fuzz/logs"
mkdir -p "$findings" "$logs"

for entry in "${targets[@]}"; do
  IFS=: read -r target seeds dict <<<"$entry"
  if [ "${BOARDINV_FUZZ_KEEP:-0}" = 1 ]; then
    corpus="$root/build/fuzz/corpus/$target"
  else
    corpus="$work/$target"
  fi
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$seeds"/* "$corpus"/
  log="$logs/$target-$(date -u +%Y%m%dT%H%M%SZ).log"
  echo "run-fuzz: $target for ${duration} s (log: $log)"
  # A slow input counts as a finding too (-timeout, seconds per input).
  status=0
  build/fuzz/bin/"$target" \
    -max_total_time="$duration" \
    -timeout=10 \
    ${dict:+-dict="$dict"} \
    -artifact_prefix="$findings/$target-" \
    -print_final_stats=1 \
    "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "run-fuzz: $target found a fault; the input is in $findings" >&2
    exit 1
  fi
done
echo "run-fuzz: no findings"
