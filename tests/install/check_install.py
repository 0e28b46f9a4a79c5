#!/usr/bin/env python3
"""Installs the host build into a fresh prefix and runs boardinv from there.

    check_install.py CMAKE BUILD_DIR EFI_DIR BUILT_BOARDINV [--no-efi-boot]

Checks that `cmake --install BUILD_DIR --prefix TMP` puts bin/boardinv, its
manual page, its bash completion and the target build's image, firmware file
and map (byte for byte those of EFI_DIR) in place; that the installed program
answers as the built one does (a boot on the default platform, a device-path
conversion, a load option, --help), and boots the installed image with
--efi (not under the sanitizers: --no-efi-boot); and that the completion
offers exactly the subcommands and each subcommand's options that --help
prints.
"""

import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import help_options  # noqa: E402

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, check=False, **kwargs)


def load_option():
    """A load option as efivarfs stores it: variable attributes, then
    Attributes (active), FilePathListLength, "Disk" and PciRoot(0x0)/Pci(0x1C,0x0),
    and two bytes of optional data."""
    path = bytes.fromhex("02010C00D041030A00000000" "01010600001C" "7FFF0400")
    description = "Disk\0".encode("utf-16-le")
    option = struct.pack("<IH", 1, len(path)) + description + path + b"\xAB\xCD"
    return struct.pack("<I", 7) + option


def main():
    args = [a for a in sys.argv[1:] if a != "--no-efi-boot"]
    efi_boot = "--no-efi-boot" not in sys.argv[1:]
    cmake, build_dir, efi_dir, built = args

    with tempfile.TemporaryDirectory(prefix="boardinv-install-") as prefix:
        installed = run([cmake, "--install", build_dir, "--prefix", prefix])
        if installed.returncode != 0:
            sys.exit(f"cmake --install failed:\n{installed.stdout.decode()}{installed.stderr.decode()}")

        boardinv = os.path.join(prefix, "bin", "boardinv")
        check(os.access(boardinv, os.X_OK), "bin/boardinv is not an executable file")
        for name in ("share/man/man1/boardinv.1", "share/bash-completion/completions/boardinv",
                     "share/doc/boardinv/README.md"):
            check(os.path.isfile(os.path.join(prefix, name)), f"{name} is not installed")
        for name in ("BoardInventory.efi", "BoardInventory.ffs", "BoardInventory.map"):
            target = os.path.join(prefix, "share", "boardinv", name)
            if not os.path.isfile(target):
                failures.append(f"share/boardinv/{name} is not installed (is {efi_dir} built?)")
                continue
            with open(target, "rb") as a, open(os.path.join(efi_dir, name), "rb") as b:
                check(a.read() == b.read(), f"share/boardinv/{name} differs from {efi_dir}/{name}")
        if failures:
            return

        # The installed program answers as the built one, byte for byte.
        with tempfile.NamedTemporaryFile(suffix=".var") as option:
            option.write(load_option())
            option.flush()
            cases = [
                (["boot"], 0, None),
                (["boot", "--format", "json"], 0, None),
                (["devpath", "PciRoot(0x0)/Pci(0x1C,0x0)"], 0,
                 b"02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 00 1C 7F FF 04 00\n"),
                (["devpath", "--to-text", "02 01 0C 00 D0 41 03 0A 00 00 00 00 7F FF 04 00"], 0,
                 b"PciRoot(0x0)\n"),
                (["devpath", "--load-option", option.name], 0, None),
                (["--help"], 0, None),
                (["--version"], 0, b"boardinv 1.0.0\n"),
                (["boot", "--bogus"], 2, None),
            ]
            for words, status, stdout in cases:
                mine = run([boardinv, *words])
                theirs = run([built, *words])
                what = "boardinv " + " ".join(words)
                check(mine.returncode == status, f"{what}: exit status {mine.returncode}, expected {status}")
                if stdout is not None:
                    check(mine.stdout == stdout, f"{what}: printed {mine.stdout!r}, expected {stdout!r}")
                # --help names the program as it was called; the rest is the same.
                normalise = (lambda b: b.replace(boardinv.encode(), b"boardinv").replace(built.encode(), b"boardinv"))
                check(normalise(mine.stdout) == normalise(theirs.stdout)
                      and normalise(mine.stderr) == normalise(theirs.stderr),
                      f"{what}: the installed program answers otherwise than {built}")
            loaded = run([boardinv, "devpath", "--load-option", option.name])
            for part in (b"PciRoot(0x0)/Pci(0x1C,0x0)", b"Disk", b"AB CD"):
                check(part in loaded.stdout, f"devpath --load-option: {part!r} not in {loaded.stdout!r}")

        if efi_boot:
            image = os.path.join(prefix, "share", "boardinv", "BoardInventory.efi")
            linked = run([boardinv, "boot", "--format", "json"])
            loaded = run([boardinv, "boot", "--format", "json", "--efi", image])
            check(loaded.returncode == 0 and loaded.stdout == linked.stdout,
                  f"boot --efi {image}: exit status {loaded.returncode}, stderr {loaded.stderr!r}, "
                  "report not the linked-in driver's")

        # The completion offers what --help prints, for each subcommand.
        table, subcommands = help_options.all_options(built)
        completion = os.path.join(prefix, "share", "bash-completion", "completions", "boardinv")
        for words in [()] + [(s,) for s in subcommands]:
            line = ["boardinv", *words, ""]
            script = (f"source {completion!s}; COMP_WORDS=({' '.join(line[:-1])} ''); "
                      f"COMP_CWORD={len(line) - 1}; _boardinv; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
            offered = run(["bash", "--norc", "-c", script], text=True).stdout.split()
            expected = table[words] + (subcommands if not words else [])
            check(sorted(offered) == sorted(expected),
                  f"completion after {' '.join(line[:-1])!r}: {offered}, --help prints {expected}")
        formats = run(["bash", "--norc", "-c", f"source {completion}; COMP_WORDS=(boardinv boot --format ''); "
                       "COMP_CWORD=3; _boardinv; echo ${COMPREPLY[@]}"], text=True).stdout.split()
        check(formats == ["text", "json"], f"completion of --format: {formats}")


main()
for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
