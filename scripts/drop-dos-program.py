#!/usr/bin/env python3
"""Drops the DOS program that the linker puts between the DOS header and the
PE headers of a PE32+ image, in place.

    drop-dos-program.py IMAGE

A firmware loader reads only the DOS header's "MZ" and the offset of the PE
headers (e_lfanew); the 16-bit program after the header is never run. Without
it the PE headers follow the 64-byte DOS header directly, and the headers of
an image of up to five sections fit in one 512-byte file block instead of
two. The PE headers move to offset 64, SizeOfHeaders shrinks to the headers
rounded up to the FileAlignment, and every section's raw data moves down by
what the headers gave up; nothing in memory changes (every RVA stays). An
image whose headers would take as many blocks as before is left as it is.
Python 3, standard library only.
"""

import struct
import sys

DOS_HEADER_SIZE = 64
E_LFANEW = 0x3C
SECTION_HEADER_SIZE = 40


def fail(message):
    sys.exit(f"drop-dos-program.py: {message}")


def main():
    if len(sys.argv) != 2:
        fail("usage: drop-dos-program.py IMAGE")
    path = sys.argv[1]
    image = bytearray(open(path, "rb").read())
    if image[:2] != b"MZ":
        fail(f"{path}: not an MZ image")
    pe = struct.unpack_from("<I", image, E_LFANEW)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail(f"{path}: no PE signature at e_lfanew {pe:#x}")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        fail(f"{path}: not PE32+")
    file_alignment, = struct.unpack_from("<I", image, optional + 36)
    headers_size, = struct.unpack_from("<I", image, optional + 60)
    table = optional + optional_size
    headers_end = table + sections * SECTION_HEADER_SIZE

    pe_headers = image[pe:headers_end]
    new_end = DOS_HEADER_SIZE + len(pe_headers)
    new_headers_size = (new_end + file_alignment - 1) // file_alignment * file_alignment
    shift = headers_size - new_headers_size
    if shift <= 0:
        return

    headers = bytearray(image[:DOS_HEADER_SIZE]) + pe_headers
    headers += bytes(new_headers_size - len(headers))
    struct.pack_into("<I", headers, E_LFANEW, DOS_HEADER_SIZE)
    new_optional = DOS_HEADER_SIZE + 24
    struct.pack_into("<I", headers, new_optional + 60, new_headers_size)
    new_table = new_optional + optional_size
    for index in range(sections):
        entry = new_table + index * SECTION_HEADER_SIZE
        raw_offset, = struct.unpack_from("<I", headers, entry + 20)
        if raw_offset != 0:
            if raw_offset < headers_size:
                fail(f"{path}: section {index + 1}'s raw data lies inside the headers")
            struct.pack_into("<I", headers, entry + 20, raw_offset - shift)
    open(path, "wb").write(bytes(headers) + bytes(image[headers_size:]))


if __name__ == "__main__":
    main()
