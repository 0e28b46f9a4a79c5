#!/usr/bin/env python3
"""Packs the driver image into the firmware file that integrators drop into a
firmware volume (BoardInventory.ffs).

    make-ffs.py IMAGE OUTPUT

The file, byte by byte:

    offset  size  field
         0    16  Name             the file-name GUID below
        16     1  Header checksum  the 24 header bytes sum to 0 (mod 256),
                                   counting State and the File checksum as 0
        17     1  File checksum    the file data plus this byte sum to 0
        18     1  Type             0x07, a DXE driver
        19     1  Attributes       0x40: the File checksum covers the data
        20     3  Size             header + data, little-endian
        23     1  State            0xF8 (see FILE_STATE)
        24     -  data             the sections, each starting on a 4-byte
                                   boundary from the start of the data

Each section is a 4-byte header (3-byte little-endian size of header + body,
then the type) followed by its body:

    PE32            the bytes of IMAGE, unchanged
    user interface  "BoardInventory" in UCS-2, with its terminating zero

Zero bytes pad a section to the next 4-byte boundary; no padding follows the
last section. Output depends only on IMAGE, so the file is byte-identical
from one clean build to the next whenever the image is.

The target build runs it after the link; it needs nothing beyond Python 3's
standard library.
"""

import struct
import sys
import uuid

# ---------------------------------------------------------------------------
# Every code the file uses, named once.
# ---------------------------------------------------------------------------

# The name the driver's file carries in every firmware volume. Chosen once at
# random; integrators refer to it, so it never changes.
FILE_NAME_GUID = uuid.UUID("280A22E0-7BFB-4DFF-BC0C-21E98BB6758A")

FILE_TYPE_DRIVER = 0x07  # EFI_FV_FILETYPE_DRIVER: dispatched in the DXE phase

SECTION_PE32 = 0x10  # EFI_SECTION_PE32: a PE32+ image
SECTION_USER_INTERFACE = 0x15  # EFI_SECTION_USER_INTERFACE: UCS-2 name

USER_INTERFACE_NAME = "BoardInventory"

# File attributes. With FFS_ATTRIB_CHECKSUM set the File checksum is a real
# 8-bit checksum of the data (without it, it would have to hold the fixed
# value 0xAA). No large-file header, not fixed in place, no data alignment
# beyond the volume's 8 bytes.
FFS_ATTRIB_CHECKSUM = 0x40
FILE_ATTRIBUTES = FFS_ATTRIB_CHECKSUM

# State bits, in the sense "this step has happened":
EFI_FILE_HEADER_CONSTRUCTION = 0x01
EFI_FILE_HEADER_VALID = 0x02
EFI_FILE_DATA_VALID = 0x04
# A volume whose erased bytes read 0xFF (erase polarity 1) records a step by
# clearing its bit, since flash only turns 1s into 0s. A finished file has
# been constructed, its header written and its data written: those three bits
# are cleared, every other bit (marked for update, deleted, header invalid and
# the two reserved bits) keeps its erased value 1.
#   ~(0x01 | 0x02 | 0x04) & 0xFF = ~0x07 & 0xFF = 0xF8
FILE_STATE = ~(EFI_FILE_HEADER_CONSTRUCTION | EFI_FILE_HEADER_VALID | EFI_FILE_DATA_VALID) & 0xFF

FILE_HEADER_SIZE = 24
SECTION_HEADER_SIZE = 4
SECTION_ALIGNMENT = 4
SECTION_PADDING = b"\x00"

# A 3-byte size field holds at most 0xFFFFFF, and that value itself announces
# an extended header, which this file does not use.
LARGEST_SIZE = 0xFFFFFE


class PackError(Exception):
    pass


def size3(size, what):
    """The 3-byte little-endian size field."""
    if size > LARGEST_SIZE:
        raise PackError(f"{what} is {size} bytes, more than a 3-byte size field holds")
    return struct.pack("<I", size)[:3]


def section(section_type, body, what):
    """A section with a common (4-byte) header."""
    return size3(SECTION_HEADER_SIZE + len(body), what) + bytes([section_type]) + body


def pad_to_alignment(data):
    """Pads DATA (the file data so far) so the next section starts aligned."""
    return data + SECTION_PADDING * (-len(data) % SECTION_ALIGNMENT)


def checksum8(data):
    """The byte that makes DATA plus itself sum to 0 (mod 256)."""
    return -sum(data) & 0xFF


def user_interface_text(name):
    if not name.isascii():
        raise PackError("the user-interface name must be plain ASCII to be UCS-2")
    return name.encode("utf-16-le") + b"\x00\x00"


def pack(image):
    if image[:2] != b"MZ":
        raise PackError("the image does not start with an MZ header")

    data = section(SECTION_PE32, image, "the PE32 section")
    data = pad_to_alignment(data)
    data += section(SECTION_USER_INTERFACE, user_interface_text(USER_INTERFACE_NAME), "the user-interface section")

    size = size3(FILE_HEADER_SIZE + len(data), "the file")
    # The header as the Header checksum is computed over it: both checksum
    # bytes and State count as 0.
    header = bytearray(FILE_NAME_GUID.bytes_le + bytes([0, 0, FILE_TYPE_DRIVER, FILE_ATTRIBUTES]) + size + b"\x00")
    assert len(header) == FILE_HEADER_SIZE
    header[16] = checksum8(header)
    header[17] = checksum8(data)
    header[23] = FILE_STATE

    ffs = bytes(header) + data
    # What a reader checks, checked once more on the finished bytes.
    assert (sum(ffs[:FILE_HEADER_SIZE]) - ffs[17] - ffs[23]) & 0xFF == 0
    assert (ffs[17] + sum(ffs[FILE_HEADER_SIZE:])) & 0xFF == 0
    return ffs


def main(argv):
    if len(argv) != 3:
        print("usage: make-ffs.py IMAGE OUTPUT", file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            image = f.read()
        ffs = pack(image)
    except (OSError, PackError) as error:
        print(f"make-ffs.py: {argv[1]}: {error}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(ffs)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
