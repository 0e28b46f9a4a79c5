#!/usr/bin/env python3
"""Converts device paths with the converter linked into boardinv and with the
one inside the shipped image (boardinv devpath --efi), and requires the same
output and exit status in every mode of devpath.

    compare_converters.py TOOL IMAGE CORPUS TEXT_SEEDS BINARY_SEEDS

The texts: every line of the benchmark corpus and every seed of the text
fuzzer (its bytes are UCS-2 text, low byte first, up to the first zero
character; an odd last byte is the fuzzer's pool-failure choice and is not
text). Seeds holding a lone surrogate have no UTF-8 form and are left out.
The binary paths: every seed of the binary fuzzer, explained from a file.

A copy of the image whose ConvertTextToDevicePath returns at once must
convert differently: the comparison really runs the image's code.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile


def texts_from(corpus, seeds):
    texts = [line.rstrip("\n") for line in open(corpus, encoding="utf-8")]
    skipped = 0
    for name in sorted(os.listdir(seeds)):
        data = open(os.path.join(seeds, name), "rb").read()
        units = struct.unpack("<%dH" % (len(data) // 2), data[: len(data) // 2 * 2])
        text = []
        for unit in units:
            if unit == 0:
                break
            text.append(unit)
        if any(0xD800 <= unit <= 0xDFFF for unit in text):
            skipped += 1
            continue
        texts.append("".join(chr(unit) for unit in text))
    return texts, skipped


def devpath(tool, flags, texts, image=None):
    """Runs devpath once: texts without line breaks on standard input, the
    others as arguments after --. Returns (status, output) per run."""
    command = [tool, "devpath"] + flags + (["--efi", image] if image else [])
    lines = [t for t in texts if "\n" not in t and "\r" not in t]
    others = [t for t in texts if t not in lines]
    runs = []
    stdin = "".join(t + "\n" for t in lines).encode("utf-8")
    done = subprocess.run(command, input=stdin, capture_output=True)
    runs.append((done.returncode, done.stdout, done.stderr))
    if others:
        done = subprocess.run(command + ["--"] + others, capture_output=True)
        runs.append((done.returncode, done.stdout, done.stderr))
    return runs


def explain(tool, flags, files, image=None):
    runs = []
    for path in files:
        command = [tool, "devpath", "--explain"] + flags + ["--binary", path]
        command += ["--efi", image] if image else []
        done = subprocess.run(command, capture_output=True)
        runs.append((done.returncode, done.stdout, done.stderr))
    return runs


def symbol_file_offset(image_bytes, map_path, prefix):
    rva = None
    for line in open(map_path):
        fields = line.split()
        if len(fields) >= 3 and fields[1].startswith(prefix) and len(fields[2]) == 16:
            rva = int(fields[2], 16)
    if rva is None:
        sys.exit(f"FAIL: no symbol {prefix} in {map_path}")
    pe = struct.unpack_from("<I", image_bytes, 0x3C)[0]
    count = struct.unpack_from("<H", image_bytes, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", image_bytes, pe + 20)[0]
    for i in range(count):
        size, address, raw_size, raw_offset = struct.unpack_from("<IIII", image_bytes, table + 40 * i + 8)
        if address <= rva < address + size:
            return raw_offset + rva - address
    sys.exit(f"FAIL: {prefix} lies in no section")


def main():
    tool, image, corpus, text_seeds, binary_seeds = sys.argv[1:6]
    map_path = os.path.splitext(image)[0] + ".map"
    texts, skipped = texts_from(corpus, text_seeds)
    binaries = [os.path.join(binary_seeds, name) for name in sorted(os.listdir(binary_seeds))]

    failures = 0
    for flags in ([], ["--node"], ["--json"], ["--json", "--node"]):
        linked = devpath(tool, flags, texts)
        shipped = devpath(tool, flags, texts, image)
        # 1 is a run in which some text gave null (a fuzz seed may); 2 or 3
        # would be a run that did not answer every text.
        same = linked == shipped and all(status in (0, 1) for status, _, _ in linked)
        print(f"{'same' if same else 'FAIL'}: devpath {' '.join(flags)} on {len(texts)} texts")
        if not same:
            failures += 1
            for (a, out_a, err_a), (b, out_b, err_b) in zip(linked, shipped):
                print(f"  status {a} linked, {b} from the image; {err_a!r} / {err_b!r}")
                for la, lb in zip(out_a.splitlines(), out_b.splitlines()):
                    if la != lb:
                        print(f"  linked: {la[:160]!r}\n  image:  {lb[:160]!r}")
                        break
    for flags in ([], ["--json"]):
        same = explain(tool, flags, binaries) == explain(tool, flags, binaries, image)
        print(f"{'same' if same else 'FAIL'}: devpath --explain {' '.join(flags)} on {len(binaries)} binary paths")
        failures += 0 if same else 1

    # The image's own code is what converts: a copy whose converter returns
    # null at once (xor eax, eax; ret) gives null for every text.
    scratch = tempfile.mkdtemp()
    try:
        data = bytearray(open(image, "rb").read())
        at = symbol_file_offset(data, map_path, "?ConvertTextToDevicePath@@")
        data[at : at + 3] = b"\x31\xC0\xC3"
        broken = os.path.join(scratch, "BoardInventory.efi")
        open(broken, "wb").write(data)
        shutil.copy(map_path, os.path.join(scratch, "BoardInventory.map"))
        outputs = devpath(tool, [], texts[:10], broken)
        if any(line != b"null" for _, out, _ in outputs for line in out.splitlines()):
            print("FAIL: a copy of the image whose converter returns null still converted: --efi is not used")
            failures += 1
        else:
            print("same: a copy whose converter returns null gives null for every text")
    finally:
        shutil.rmtree(scratch)

    print(f"{len(texts)} texts ({skipped} seeds with lone surrogates left out), {len(binaries)} binary paths; "
          f"{failures} comparison(s) differ")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
