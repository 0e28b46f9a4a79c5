#!/usr/bin/env bash
# The shipped image stays within its size budget: fails when
# BoardInventory.efi is larger than BUDGET bytes, and shows the size of each
# section either way.
#   check_size.sh IMAGE BUDGET
set -u
image=${1:?usage: check_size.sh IMAGE BUDGET}
budget=${2:?usage: check_size.sh IMAGE BUDGET}
[ -f "$image" ] || { echo "FAIL: $image does not exist (build the efi preset first)"; exit 1; }
size=$(stat -c %s "$image")
llvm-readobj --sections "$image" | while read -r key value _; do
  case "$key" in
    Name:) name=$value ;;
    VirtualSize:) memory=$((value)) ;;
    RawDataSize:) printf '%-8s %6d bytes in memory, %6d in the file\n' "$name" "$memory" "$value" ;;
  esac
done
if [ "$size" -gt "$budget" ]; then
  echo "FAIL: $image is $size bytes, over its budget of $budget"
  exit 1
fi
echo "ok: $image is $size bytes, within its budget of $budget"
