#!/usr/bin/env bash
# Boots every platform description of the test set with the driver linked
# into boardinv and with the shipped binary loaded by boardinv, and requires
# byte-identical JSON reports (and SMBIOS dumps). The binary runs twice:
# with the processor's own rdtsc/cpuid traps where they fire, and with
# both instructions rewritten in the mapped code, as on machines where they
# do not fire.
set -u
tool=${1:?usage: compare_with_linked.sh TOOL IMAGE PLATFORM_DIR}
image=${2:?usage: compare_with_linked.sh TOOL IMAGE PLATFORM_DIR}
platforms=${3:?usage: compare_with_linked.sh TOOL IMAGE PLATFORM_DIR}
[ -f "$image" ] || { echo "FAIL: $image does not exist (build the efi preset first)"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
compared=0
compare_once() {
  local mode=$1 name=$2
  shift 2
  "$tool" boot "$@" --format json --dump "$scratch/linked.dump" >"$scratch/linked.json" 2>"$scratch/linked.err"
  local linked=$?
  BOARDINV_EFI_TRAPS=$mode "$tool" boot "$@" --format json --dump "$scratch/efi.dump" --efi "$image" \
    >"$scratch/efi.json" 2>"$scratch/efi.err"
  local efi=$?
  compared=$((compared + 1))
  if [ "$linked" -ne 0 ] || [ "$efi" -ne 0 ]; then
    echo "FAIL: $name: exit status $linked linked, $efi from the image"
    cat "$scratch/linked.err" "$scratch/efi.err"
    failures=$((failures + 1))
  elif ! cmp -s "$scratch/linked.json" "$scratch/efi.json"; then
    echo "FAIL: $name: the reports differ"
    diff "$scratch/linked.json" "$scratch/efi.json" | head -20
    failures=$((failures + 1))
  elif ! cmp -s "$scratch/linked.dump" "$scratch/efi.dump"; then
    echo "FAIL: $name: the SMBIOS dumps differ"
    failures=$((failures + 1))
  else
    echo "same: $name"
  fi
}

compare() {
  for mode in auto rewrite; do
    compare_once "$mode" "$1 (traps: $mode)" "${@:2}"
  done
}

compare "built-in default"
for nio in 0x200 0x201 0x202 0x203 0x100 0x300 0; do
  compare "built-in default, --nio $nio" --nio "$nio"
done
compare "built-in default, --no-nio" --no-nio
for platform in "$platforms"/*.json; do
  compare "$(basename "$platform")" --platform "$platform"
done

echo "$compared compared, $failures differ"
[ "$failures" -eq 0 ]
