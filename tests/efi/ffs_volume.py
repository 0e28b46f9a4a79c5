#!/usr/bin/env python3
"""Test helper for check_ffs.sh: puts a firmware file into the smallest
firmware volume a reader accepts, and makes broken copies of the file.

    ffs_volume.py wrap FFS VOLUME [FFS VOLUME...]
    ffs_volume.py break FFS DIR     writes DIR/FAULT.ffs for every fault

This volume layout is written here on its own, not shared with
scripts/make-ffs.py, so the two cannot agree on a mistake.

The volume:

    offset  size  field
         0    16  ZeroVector       zeros
        16    16  FileSystemGuid   the second-generation firmware file system
        32     8  FvLength         the whole volume, a multiple of the block size
        40     4  Signature        "_FVH"
        44     4  Attributes       VOLUME_ATTRIBUTES below
        48     2  HeaderLength     72
        50     2  Checksum         the header's 16-bit words sum to 0
        52     2  ExtHeaderOffset  0, no extended header
        54     1  Reserved         0
        55     1  Revision         2
        56    16  BlockMap         one entry {NumBlocks, Length}, then {0, 0}
        72     -  the file, 8-byte aligned, then 0xFF up to FvLength
"""

import struct
import sys
import uuid

FIRMWARE_FILE_SYSTEM2_GUID = uuid.UUID("8C8CE578-8A3D-4F1C-9935-896185C32DD3")
VOLUME_SIGNATURE = b"_FVH"
VOLUME_REVISION = 2
BLOCK_SIZE = 0x1000
ERASED_BYTE = b"\xff"
FILE_ALIGNMENT = 8

# Volume attributes: reads and writes can be disabled and are enabled, writes
# are sticky, the volume is memory-mapped, erased bytes read 0xFF, and the
# volume is aligned on 16 bytes.
EFI_FVB2_READ_DISABLED_CAP = 0x00000001
EFI_FVB2_READ_ENABLED_CAP = 0x00000002
EFI_FVB2_READ_STATUS = 0x00000004
EFI_FVB2_WRITE_DISABLED_CAP = 0x00000008
EFI_FVB2_WRITE_ENABLED_CAP = 0x00000010
EFI_FVB2_WRITE_STATUS = 0x00000020
EFI_FVB2_STICKY_WRITE = 0x00000200
EFI_FVB2_MEMORY_MAPPED = 0x00000400
EFI_FVB2_ERASE_POLARITY = 0x00000800
EFI_FVB2_ALIGNMENT_16 = 0x00040000
VOLUME_ATTRIBUTES = (EFI_FVB2_READ_DISABLED_CAP | EFI_FVB2_READ_ENABLED_CAP | EFI_FVB2_READ_STATUS
                     | EFI_FVB2_WRITE_DISABLED_CAP | EFI_FVB2_WRITE_ENABLED_CAP | EFI_FVB2_WRITE_STATUS
                     | EFI_FVB2_STICKY_WRITE | EFI_FVB2_MEMORY_MAPPED | EFI_FVB2_ERASE_POLARITY
                     | EFI_FVB2_ALIGNMENT_16)

HEADER_LENGTH = 56 + 2 * 8


def checksum16(data):
    """The 16-bit word that makes DATA's words plus itself sum to 0."""
    words = struct.unpack(f"<{len(data) // 2}H", data)
    return -sum(words) & 0xFFFF


def volume(ffs):
    file_offset = HEADER_LENGTH + (-HEADER_LENGTH % FILE_ALIGNMENT)
    used = file_offset + len(ffs)
    blocks = (used + BLOCK_SIZE - 1) // BLOCK_SIZE
    length = blocks * BLOCK_SIZE

    header = bytearray(
        bytes(16)
        + FIRMWARE_FILE_SYSTEM2_GUID.bytes_le
        + struct.pack("<Q4sIHHHBB", length, VOLUME_SIGNATURE, VOLUME_ATTRIBUTES, HEADER_LENGTH, 0, 0, 0,
                      VOLUME_REVISION)
        + struct.pack("<IIII", blocks, BLOCK_SIZE, 0, 0))
    assert len(header) == HEADER_LENGTH
    struct.pack_into("<H", header, 50, checksum16(header))

    image = bytes(header) + ERASED_BYTE * (file_offset - HEADER_LENGTH) + ffs
    return image + ERASED_BYTE * (length - len(image))


# Faults the check must catch, each a single change to a valid file. Except
# where a checksum is the fault, both checksums are made right again after
# the change, so that only the fault itself can give the file away.
FILE_HEADER_SIZE = 24
PE32_SECTION = FILE_HEADER_SIZE  # the first section starts the file data
FILE_STATE_VALID = 0xF8


class CannotBreak(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CannotBreak(f"the file does not hold {what}")


def refresh_checksums(ffs):
    """Header checksum over the header with both checksums and State as 0;
    File checksum over the data."""
    state = ffs[23]
    ffs[16] = ffs[17] = ffs[23] = 0
    ffs[16] = -sum(ffs[:FILE_HEADER_SIZE]) & 0xFF
    ffs[17] = -sum(ffs[FILE_HEADER_SIZE:]) & 0xFF
    ffs[23] = state


def header_checksum(ffs):
    ffs[16] ^= 0x01


def data_checksum(ffs):
    ffs[17] ^= 0x01


def image_byte(ffs):
    # One byte inside the image; the File checksum is left as it was.
    ffs[PE32_SECTION + 4 + 0x200] ^= 0x01


def section_type(ffs):
    # The PE32 section (0x10) becomes a raw section (0x19).
    expect(ffs[PE32_SECTION + 3] == 0x10, "a PE32 section first")
    ffs[PE32_SECTION + 3] = 0x19
    refresh_checksums(ffs)


def section_size(ffs):
    # The PE32 section claims one byte more than it holds.
    size = int.from_bytes(ffs[PE32_SECTION:PE32_SECTION + 3], "little") + 1
    ffs[PE32_SECTION:PE32_SECTION + 3] = size.to_bytes(3, "little")
    refresh_checksums(ffs)


def file_type(ffs):
    # A PEI module (0x06) instead of a DXE driver (0x07).
    expect(ffs[18] == 0x07, "a DXE driver")
    ffs[18] = 0x06
    refresh_checksums(ffs)


def file_name(ffs):
    ffs[0] ^= 0x01
    refresh_checksums(ffs)


def file_state(ffs):
    # The state bits as a volume of erase polarity 0 would hold them.
    expect(ffs[23] == FILE_STATE_VALID, "the State of a valid file")
    ffs[23] = ~FILE_STATE_VALID & 0xFF


def ui_text(ffs):
    # The name's last character, "y" in UCS-2, becomes "Y".
    expect(ffs[-4:] == b"y\x00\x00\x00", "a name ending in \"y\" last")
    ffs[-4] = ord("Y")
    refresh_checksums(ffs)


def ui_terminator(ffs):
    # The terminating zero becomes a character.
    expect(ffs[-2:] == b"\x00\x00", "a terminating zero last")
    ffs[-2] = ord("!")
    refresh_checksums(ffs)


FAULTS = {fault.__name__.replace("_", "-"): fault for fault in (
    header_checksum, data_checksum, image_byte, section_type, section_size,
    file_type, file_name, file_state, ui_text, ui_terminator)}


def main(argv):
    # Several files per call: each start of the interpreter costs time.
    if len(argv) >= 3 and argv[0] == "wrap" and len(argv) % 2 == 1:
        for ffs_path, volume_path in zip(argv[1::2], argv[2::2]):
            with open(ffs_path, "rb") as f:
                ffs = f.read()
            with open(volume_path, "wb") as f:
                f.write(volume(ffs))
        return 0
    if len(argv) == 3 and argv[0] == "break":
        with open(argv[1], "rb") as f:
            valid = f.read()
        status = 0
        for name, fault in FAULTS.items():
            ffs = bytearray(valid)
            try:
                fault(ffs)
            except CannotBreak as error:
                print(f"ffs_volume.py: cannot make the fault {name}: {error}", file=sys.stderr)
                status = 1
                continue
            with open(f"{argv[2]}/{name}.ffs", "wb") as f:
                f.write(ffs)
        return status
    print("usage: ffs_volume.py wrap FFS VOLUME [FFS VOLUME...] | break FFS DIR", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
