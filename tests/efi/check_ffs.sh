#!/usr/bin/env bash
# Checks BoardInventory.ffs as an independent reader sees it: the file is put
# into a minimal firmware volume (ffs_volume.py) and UEFIExtract, run as a
# black box, parses the volume and dumps every item it finds (mode "all": an
# info.txt, header.bin and body.bin per item). UEFIExtract exits 0 even when
# it finds errors, so what it prints and the info.txt of each item are read
# instead.
#
# Three parts:
#   1. the built file: the volume is recognised, the file with our name is a
#      DXE driver with valid header and data checksums and State F8h, its
#      sections are a PE32 image holding exactly BoardInventory.efi and a
#      user-interface section holding "BoardInventory" and its terminating
#      zero, and the reader reports nothing else;
#   2. the packer pads: images one, two and three bytes longer than the real
#      one, packed by make-ffs.py, read back just as well (the real image's
#      length leaves no padding to test);
#   3. the check catches faults: broken copies of the built file (bad
#      checksums, a retyped or resized section, another file type, name or
#      state, a wrong name text) must each fail for the reason expected.
set -u
ffs=${1:?usage: check_ffs.sh FFS IMAGE PACKER}
image=${2:?usage: check_ffs.sh FFS IMAGE PACKER}
packer=${3:?usage: check_ffs.sh FFS IMAGE PACKER}
helper=$(dirname "$0")/ffs_volume.py
for file in "$ffs" "$image"; do
  [ -f "$file" ] || { echo "FAIL: $file does not exist (build the efi preset first)"; exit 1; }
done
command -v UEFIExtract >/dev/null || { echo "FAIL: UEFIExtract not found (scripts/install-deps.sh installs uefitool-cli)"; exit 1; }
command -v python3 >/dev/null || { echo "FAIL: python3 not found"; exit 1; }

# The file's published name, and what a volume of the second-generation file
# system is called.
readonly FILE_NAME=280A22E0-7BFB-4DFF-BC0C-21E98BB6758A
readonly FILE_SYSTEM=8C8CE578-8A3D-4F1C-9935-896185C32DD3
readonly UI_NAME=BoardInventory
# The one message UEFIExtract prints for every volume that is not the boot
# volume of a whole flash image: no volume top file (the reset vector's
# file), which a volume of drivers never holds.
readonly NO_TOP_FILE='parse: not a single Volume Top File is found, the image may be corrupted'

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The UCS-2 bytes of a text with its terminating zero.
ucs2() {
  local text=$1 i
  for ((i = 0; i < ${#text}; i++)); do printf '%s\0' "${text:i:1}"; done
  printf '\0\0'
}
ucs2 "$UI_NAME" >"$scratch/ui.bin"

info_value() { # FILE KEY: the value of the first "KEY: value" in an info.txt
  local line
  while IFS= read -r line; do
    if [[ $line == "$2: "* ]]; then
      printf '%s\n' "${line#"$2: "}"
      return
    fi
  done <"$1"
}

# Every file to read is $scratch/NAME.ffs, wrapped beforehand into
# $scratch/NAME/volume.fv by one run of the helper for all of them (each
# start of the interpreter costs time). inspect NAME IMAGE reads the volume
# through UEFIExtract and writes every problem found, one per line, to
# $scratch/NAME.problems; IMAGE is what the PE32 section must hold.
inspect() {
  local name=$1 expected_image=$2
  local file=$scratch/$name.ffs dir=$scratch/$name problems=$scratch/$name.problems
  : >"$problems"
  problem() { echo "$*" >>"$problems"; }

  [ -f "$dir/volume.fv" ] || { problem "no volume was built"; return; }
  UEFIExtract "$dir/volume.fv" all >"$dir/uefiextract.out" 2>&1
  while IFS= read -r line; do
    [ "$line" = "$NO_TOP_FILE" ] || problem "UEFIExtract says: $line"
  done <"$dir/uefiextract.out"

  local dump=$dir/volume.fv.dump
  [ -d "$dump" ] || { problem "UEFIExtract dumped nothing"; return; }
  while IFS= read -r line; do
    problem "UEFIExtract reports: ${line#"$dump"/}"
  done < <(grep -r -i -H 'invalid\|mismatch\|error\|corrupt' "$dump" --include=info.txt)

  # The volume: one, of the firmware file system, with a valid header.
  local volume=
  for info in "$dump"/*/info.txt; do
    [ "$(info_value "$info" Type)" = Volume ] && volume=$(dirname "$info")
  done
  if [ -z "$volume" ]; then
    problem "no volume recognised"
    return
  fi
  [ "$(info_value "$volume/info.txt" 'FileSystem GUID')" = "$FILE_SYSTEM" ] || problem "the volume is not of the firmware file system"
  [[ "$(info_value "$volume/info.txt" Checksum)" == *", valid" ]] || problem "the volume header checksum is not valid"

  # The volume holds our file, then free space, and nothing else.
  local files=() children=()
  while IFS= read -r child; do
    children+=("$(info_value "$volume/$child/info.txt" Type)")
    [ "$(info_value "$volume/$child/info.txt" 'File GUID')" = "$FILE_NAME" ] && files+=("$volume/$child")
  done < <(ls "$volume" | grep '^[0-9]' | sort -n)
  [ "${children[*]}" = "File Free space" ] || problem "the volume holds: ${children[*]} (expected: File, Free space)"
  if [ "${#files[@]}" -ne 1 ]; then
    problem "no file named $FILE_NAME in the volume"
    return
  fi
  local ffsdir=${files[0]} info=${files[0]}/info.txt
  [ "$(info_value "$info" Subtype)" = "DXE driver" ] || problem "the file is a $(info_value "$info" Subtype), not a DXE driver"
  [[ "$(info_value "$info" 'Header checksum')" == *", valid" ]] || problem "header checksum: $(info_value "$info" 'Header checksum')"
  [[ "$(info_value "$info" 'Data checksum')" == *", valid" ]] || problem "data checksum: $(info_value "$info" 'Data checksum')"
  [ "$(info_value "$info" Attributes)" = 40h ] || problem "Attributes are $(info_value "$info" Attributes), not 40h (data checksum only)"
  [ "$(info_value "$info" State)" = F8h ] || problem "State is $(info_value "$info" State), not F8h (constructed, header valid, data valid at erase polarity 1)"
  cat "$ffsdir/header.bin" "$ffsdir/body.bin" 2>/dev/null | cmp -s - "$file" ||
    problem "the file the reader cut from the volume is not the whole .ffs"

  # The sections, in order: the PE32 image, then the user interface.
  local sections=() section_dirs=()
  while IFS= read -r child; do
    section_dirs+=("$ffsdir/$child")
    sections+=("$(info_value "$ffsdir/$child/info.txt" Subtype)")
  done < <(ls "$ffsdir" | grep '^[0-9]' | sort -n)
  if [ "${sections[*]}" != "PE32 image UI" ]; then
    problem "the sections are: ${sections[*]:-none} (expected: PE32 image, UI)"
    return
  fi
  cmp -s "${section_dirs[0]}/body.bin" "$expected_image" || problem "the PE32 section's body differs from $(basename "$expected_image")"
  [ "$(info_value "${section_dirs[1]}/info.txt" Text)" = "$UI_NAME" ] ||
    problem "the user-interface text is \"$(info_value "${section_dirs[1]}/info.txt" Text)\", not \"$UI_NAME\""
  cmp -s "${section_dirs[1]}/body.bin" "$scratch/ui.bin" ||
    problem "the user-interface section is not \"$UI_NAME\" in UCS-2 with its terminating zero"
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The faults, each with the reason it must be caught for.
faults=$(cat <<'EOF'
header-checksum|invalid header checksum
data-checksum|invalid data checksum
image-byte|invalid data checksum
section-type|the sections are: Raw UI
section-size|non-UEFI data found in sections area
file-type|not a DXE driver
file-name|no file named
file-state|State is 07h
ui-text|the user-interface text is "BoardInventorY"
ui-terminator|not "BoardInventory" in UCS-2 with its terminating zero
EOF
)

# The files to read: the built one, longer images packed by make-ffs.py, and
# the broken copies; then all their volumes at once.
cp "$ffs" "$scratch/built.ffs"
for extra in 1 2 3; do
  { cat "$image"; head -c "$extra" /dev/zero | tr '\0' '\125'; } >"$scratch/longer-$extra.efi"
  python3 "$packer" "$scratch/longer-$extra.efi" "$scratch/longer-$extra.ffs" ||
    fail "make-ffs.py refused an image $extra byte(s) longer"
done
mkdir "$scratch/faults"
python3 "$helper" break "$ffs" "$scratch/faults" || fail "cannot make the broken copies"
made=$(ls "$scratch/faults" | wc -l)
[ "$made" -eq "$(wc -l <<<"$faults")" ] || fail "ffs_volume.py makes $made faults, this script expects $(wc -l <<<"$faults")"
mv "$scratch"/faults/*.ffs "$scratch"/
wrap=()
for file in "$scratch"/*.ffs; do
  name=$(basename "$file" .ffs)
  mkdir "$scratch/$name"
  wrap+=("$file" "$scratch/$name/volume.fv")
done
python3 "$helper" wrap "${wrap[@]}" || fail "cannot build the volumes"

# 1. The built file.
inspect built "$image"
if [ -s "$scratch/built.problems" ]; then
  sed 's/^/FAIL: built file: /' "$scratch/built.problems"
  failures=$((failures + 1))
else
  echo "ok: $(basename "$ffs"): a DXE driver named $FILE_NAME, checksums valid, State F8h, a PE32 section identical to $(basename "$image") and the user interface \"$UI_NAME\""
fi

# 2. Padding between the sections.
for extra in 1 2 3; do
  inspect "longer-$extra" "$scratch/longer-$extra.efi"
  if [ -s "$scratch/longer-$extra.problems" ]; then
    sed "s/^/FAIL: image $extra byte(s) longer: /" "$scratch/longer-$extra.problems"
    failures=$((failures + 1))
  else
    echo "ok: an image $extra byte(s) longer packs and reads back (section padded)"
  fi
done

# 3. Faults: each broken copy must fail, and for its own reason.
while IFS='|' read -r fault reason; do
  inspect "$fault" "$image"
  if [ ! -s "$scratch/$fault.problems" ]; then
    fail "fault $fault went unnoticed"
  elif ! grep -q -- "$reason" "$scratch/$fault.problems"; then
    fail "fault $fault was noticed, but not as \"$reason\":"
    sed 's/^/      /' "$scratch/$fault.problems"
  else
    echo "caught $fault: $(grep -m1 -- "$reason" "$scratch/$fault.problems")"
  fi
done <<<"$faults"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "BoardInventory.ffs reads as intended, and every fault was caught"
