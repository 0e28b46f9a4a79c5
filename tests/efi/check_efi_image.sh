#!/usr/bin/env bash
# Checks every property of BoardInventory.efi that firmware relies on to
# load it, and fails naming each one that is lost.
set -u
image=${1:?usage: check_efi_image.sh IMAGE}
readobj=$(command -v llvm-readobj || command -v llvm-readobj-14) || { echo "llvm-readobj not found"; exit 1; }
[ -f "$image" ] || { echo "FAIL: $image does not exist (build the efi preset first)"; exit 1; }

dump=$("$readobj" --file-headers --sections --coff-imports --coff-basereloc "$image" 2>&1) || {
  echo "FAIL: llvm-readobj cannot read $image"; echo "$dump"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
field() { awk -v key="$1:" '$1 == key { print $2; exit }' <<<"$dump"; }

[ "$(field Format)" = "COFF-x86-64" ] || fail "not a PE image for x86-64"
[ "$(field Magic)" = "0x20B" ] || fail "optional header magic is not PE32+ (0x20B)"
grep -q 'Machine: IMAGE_FILE_MACHINE_AMD64 (0x8664)' <<<"$dump" || fail "machine is not AMD64"
grep -q 'Subsystem: IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER (0xB)' <<<"$dump" || fail "subsystem is not EFI boot-service driver (11)"
[ "$(field ImageBase)" = "0x0" ] || fail "ImageBase is $(field ImageBase), not 0"
[ "$(field SectionAlignment)" = "4096" ] || fail "SectionAlignment is $(field SectionAlignment), not 4096"
grep -q 'IMAGE_DLL_CHARACTERISTICS_NX_COMPAT' <<<"$dump" || fail "DllCharacteristics lacks NX_COMPAT"
[ "$(field ImportTableRVA)" = "0x0" ] && [ "$(field ImportTableSize)" = "0x0" ] || fail "the image has an import table"
grep -q '^Import {' <<<"$dump" && fail "the image imports from another module"
[ "$(field BaseRelocationTableRVA)" != "0x0" ] && [ "$(field BaseRelocationTableSize)" != "0x0" ] ||
  fail "no base relocation table"
grep -q 'Type: DIR64' <<<"$dump" || fail "no 64-bit base relocations: the image could not be moved"
[ "$(field TLSTableRVA)" = "0x0" ] || fail "the image has a TLS directory"

# Sections: each starts on a 4 KiB boundary; none is both writable and
# executable; no section of static constructors that nothing would run.
entry=$(field AddressOfEntryPoint)
entry_in_code=no
writable_data=no
while IFS='|' read -r name address size flags; do
  [ -n "$name" ] || continue
  (( address % 4096 == 0 )) || fail "section $name at $(printf '0x%X' "$address") is not 4 KiB aligned"
  if [[ $flags == *MEM_WRITE* && $flags == *MEM_EXECUTE* ]]; then
    fail "section $name is both writable and executable"
  fi
  if [[ $flags == *MEM_WRITE* && $flags != *MEM_EXECUTE* ]]; then
    writable_data=yes
  fi
  case $name in .CRT* | .ctors* | .init_array*) fail "section $name holds static constructors" ;; esac
  if [[ $flags == *MEM_EXECUTE* ]] && (( entry >= address && entry < address + size )); then
    entry_in_code=yes
  fi
done < <(awk '
  /^  Section \{/ { name = ""; addr = ""; size = ""; flags = ""; insec = 1 }
  insec && $1 == "Name:" { name = $2 }
  insec && $1 == "VirtualAddress:" { addr = $2 }
  insec && $1 == "VirtualSize:" { size = $2 }
  insec && /IMAGE_SCN_MEM_/ { flags = flags " " $1 }
  /^  \}/ && insec { printf "%s|%s|%s|%s\n", name, addr, size, flags; insec = 0 }
' <<<"$dump")
# The driver has module globals: without a writable data section they were
# merged into read-only code and the first store faults.
[ "$writable_data" = yes ] || fail "no writable data section: module globals would be read-only"
[ "$entry_in_code" = yes ] || fail "entry point $entry is not inside an executable section"

sections=$(awk '/^  Section \{/ {n++} END {print n+0}' <<<"$dump")
[ "$sections" -ge 2 ] || fail "expected code and data in separate sections, found $sections section(s)"

if [ "$failures" -ne 0 ]; then
  echo "$image: $failures property check(s) failed"
  exit 1
fi
echo "$image: PE32+ AMD64 EFI boot-service driver, ImageBase 0, relocatable, NX-compatible, $sections sections 4 KiB-aligned, none writable and executable, no imports"
