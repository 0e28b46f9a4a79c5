#!/usr/bin/env python3
"""Checks that every #include of the project's C++ sources points the way the
layers allow: down the matrix below, or within its own layer.

    check_layers.py [--root DIR] [--docs FILE]   self-test, then the tree
    check_layers.py --self-test                  the self-test alone
    check_layers.py --print-table                the matrix as the docs show it

Every C++ file under --root (default: the repository holding this script;
build directories and hidden directories are skipped) belongs to the layer of
the longest prefix in LAYERS that its path starts with. Each `#include "..."`
(and each `#include <...>` naming a file of the tree) is resolved against the
root, or against the including file's folder when only that names a file, and
mapped to a layer the same way. A file in no layer, or an include its layer
may not make, is printed as

    path:line: <layer> must not include <layer> ("included/path")

and the exit status is 1. With --docs, the file must also show the matrix
exactly as --print-table renders it, between the two marker lines.

Before it reads the tree, the check proves it still catches violations: a
small fake tree with known violations must give exactly the expected lines
and status 1, and the real tree with one violating include added in memory
must give that line in addition to what the tree gives by itself.

Python 3, standard library only.
"""

import argparse
import os
import posixpath
import re
import sys
import tempfile

# ---------------------------------------------------------------------------
# The layers and the allowed matrix
# ---------------------------------------------------------------------------

# Layer name -> path prefixes: folders ending in "/" and single files. A path
# belongs to the layer of the longest prefix that names it. Two layers are cut out of folders file by file: the
# driver's hardware interface with its target side, and the host's side of
# that interface, the one place where the host implements something the
# driver declares.
LAYERS = {
    "driver/firmware": ["driver/firmware/"],
    "driver/firmware/Hardware": ["driver/firmware/Hardware.h", "driver/firmware/HardwareX64.cpp"],
    "driver/base": ["driver/base/"],
    "driver/devpath": ["driver/devpath/"],
    "driver/inventory": ["driver/inventory/"],
    "driver/platform": ["driver/platform/"],
    "driver/entry": ["driver/entry/"],
    "host/sim": ["host/sim/"],
    "host/sim/HostHardware.cpp": ["host/sim/HostHardware.cpp"],
    "host/loader": ["host/loader/"],
    "host/harness": ["host/harness/"],
    "host/boot": ["host/boot/"],
    "host/devtext": ["host/devtext/"],
    "tools/boardinv/Guard": ["tools/boardinv/Guard.h", "tools/boardinv/Guard.cpp"],
    "tools": ["tools/"],
    "bench": ["bench/"],
    "tests": ["tests/"],
}

# The driver: what goes into BoardInventory.efi.
DRIVER = ("driver/firmware", "driver/firmware/Hardware", "driver/base", "driver/devpath", "driver/inventory", "driver/platform", "driver/entry")
# Everything a program on top may use.
BELOW_PROGRAMS = DRIVER + ("host/sim", "host/loader", "host/harness", "host/boot", "host/devtext")

# Layer -> [(layer or layers it may include, why)]. Every layer may include
# its own files; nothing else is allowed. The edges must not form a cycle.
ALLOWED = {
    "driver/firmware/Hardware": [
        ("driver/firmware", "UEFI base types"),
    ],
    "driver/base": [
        ("driver/firmware", "UEFI types, the system table, GUIDs"),
    ],
    "driver/devpath": [
        ("driver/firmware", "the device-path node types"),
        ("driver/base", "pool and memory primitives"),
    ],
    "driver/inventory": [
        ("driver/firmware", "SMBIOS and PCI I/O protocols, GUIDs"),
        ("driver/firmware/Hardware", "the slot probe reads the configuration space"),
        ("driver/base", "pool, memory primitives, the table globals"),
        ("driver/devpath", "each slot's device-path text is converted to find its root port"),
    ],
    "driver/platform": [
        ("driver/firmware", "PCD and debug print protocols, hand-off blocks, GUIDs"),
        ("driver/firmware/Hardware", "ports, the UART, MSRs, the TSC and CPUID of the services"),
        ("driver/base", "pool, memory primitives, the table globals, the hand-off block list"),
    ],
    "driver/entry": [
        (("driver/firmware", "driver/base", "driver/platform", "driver/inventory"),
         "the composition root: the entry point stores the tables, runs the constructor chain "
         "and registers `OnEndOfDxe`"),
        (("driver/firmware/Hardware", "driver/devpath"), "as the composition root it may know every part of the driver"),
    ],
    "host/sim": [
        ("driver/firmware", "it builds the tables, protocols, hand-off blocks and device paths the driver reads"),
    ],
    "host/sim/HostHardware.cpp": [
        ("driver/firmware", "UEFI base types"),
        ("driver/firmware/Hardware",
         "the one place the host implements an interface the driver declares"),
        ("host/sim", "every access goes to the hardware model"),
    ],
    "host/loader": [
        ("driver/firmware", "UEFI types"),
        ("host/sim", "the machine traps perform the image's accesses on the hardware model"),
    ],
    "host/harness": [
        (DRIVER, "it wires the firmware's tables into the driver's module globals and resets them"),
        ("host/sim", "the simulated firmware whose tables it wires and whose pool it checks"),
    ],
    "host/boot": [
        (DRIVER, "it boots the driver and reads its module globals"),
        (("host/sim", "host/loader", "host/harness"),
         "the simulated firmware, the loader for a shipped image, the harness that wires the linked-in driver"),
        ("host/devtext", "the reports name device paths (handles, the paths a probe gave) in the formatter's text"),
    ],
    "host/devtext": [
        (("driver/firmware", "driver/base", "driver/devpath"),
         "binary paths to text: the node layouts, the keyword table and the values its keywords stand for, the "
         "driver's bounded walk, and its converter that checks every keyword form and whose pool it frees"),
        ("host/sim", "the host's one hex formatter"),
    ],
    "tools/boardinv/Guard": [
        ("host/sim", "its messages escape input as the host's formatter does"),
    ],
    "tools": [
        (BELOW_PROGRAMS, "a program on top of everything below"),
        ("tools/boardinv/Guard", "how the program ends: its messages and its last resort"),
    ],
    "bench": [
        (BELOW_PROGRAMS, "a program on top of everything below"),
    ],
    "tests": [
        (BELOW_PROGRAMS, "tests may reach anything below; the tool only as a program"),
        ("tools/boardinv/Guard", "but for the tool's last resort, which a test runs with bodies that throw"),
    ],
}

# Not C++ layers: build output and hidden folders.
SKIPPED_TOP_LEVEL = re.compile(r"^(build.*|\..*)$")
CXX_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".inc", ".ipp")
NO_LAYER = "(no layer)"

DOCS_BEGIN = "<!-- include matrix: tests/check_layers.py --print-table -->"
DOCS_END = "<!-- end of include matrix -->"


def allowed_targets(layer):
    """The layers `layer` may include, itself among them."""
    targets = {layer}
    for included, _ in ALLOWED.get(layer, []):
        targets.update((included,) if isinstance(included, str) else included)
    return targets


def matrix_errors():
    """Mistakes in the matrix itself: unknown names, and edges that lead
    back to where they started (layers must point one way)."""
    errors = []
    for layer, edges in ALLOWED.items():
        if layer not in LAYERS:
            errors.append(f"ALLOWED names an unknown layer {layer!r}")
        for included, _ in edges:
            for name in (included,) if isinstance(included, str) else included:
                if name not in LAYERS:
                    errors.append(f"ALLOWED[{layer!r}] names an unknown layer {name!r}")
    for layer in LAYERS:
        cycle = cycle_from(layer)
        if cycle:
            errors.append("the matrix has a cycle: " + " -> ".join(cycle))
            break
    return errors


def cycle_from(start):
    """A path of allowed edges from start back to start, or None."""
    stack = [(start, [start])]
    seen = set()
    while stack:
        layer, path = stack.pop()
        for target in sorted(allowed_targets(layer) - {layer}):
            if target == start:
                return path + [start]
            if target not in seen:
                seen.add(target)
                stack.append((target, path + [target]))
    return None


def layer_of(path):
    """The layer of a repository path: the longest folder prefix ("x/")
    that it starts with, or a file named exactly."""
    best, best_len = NO_LAYER, -1
    for layer, prefixes in LAYERS.items():
        for prefix in prefixes:
            matches = path.startswith(prefix) if prefix.endswith("/") else path == prefix
            if matches and len(prefix) > best_len:
                best, best_len = layer, len(prefix)
    return best


# ---------------------------------------------------------------------------
# Reading the tree
# ---------------------------------------------------------------------------

INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"\n]+)"|<([^>\n]+)>)')


def collect(root):
    """Repository-relative path -> text of every C++ file under root."""
    files = {}
    for directory, subdirs, names in os.walk(root):
        rel_dir = os.path.relpath(directory, root).replace(os.sep, "/")
        if rel_dir == ".":
            subdirs[:] = [d for d in subdirs if not SKIPPED_TOP_LEVEL.match(d)]
            rel_dir = ""
        else:
            subdirs[:] = [d for d in subdirs if not d.startswith(".")]
        subdirs.sort()
        for name in sorted(names):
            if name.endswith(CXX_SUFFIXES):
                rel = posixpath.join(rel_dir, name) if rel_dir else name
                with open(os.path.join(directory, name), encoding="utf-8", errors="replace") as f:
                    files[rel] = f.read()
    return files


def includes(text):
    """(line number, included path, quoted) of every #include outside block comments."""
    result = []
    in_comment = False
    for number, line in enumerate(text.splitlines(), start=1):
        visible = ""
        rest = line
        while rest:
            if in_comment:
                end = rest.find("*/")
                if end < 0:
                    rest = ""
                else:
                    rest = rest[end + 2:]
                    in_comment = False
                continue
            start = rest.find("/*")
            line_comment = rest.find("//")
            if start < 0 or (0 <= line_comment < start):
                visible += rest
                break
            visible += rest[:start] + " "
            rest = rest[start + 2:]
            in_comment = True
        match = INCLUDE.match(visible)
        if match:
            quoted = match.group(1) is not None
            result.append((number, match.group(1) if quoted else match.group(2), quoted))
    return result


def resolve(includer, included, files):
    """The repository path an include names: from the root, or from the
    including file's folder when only that names a file of the tree."""
    from_root = posixpath.normpath(included)
    beside = posixpath.normpath(posixpath.join(posixpath.dirname(includer), included))
    if from_root not in files and beside in files:
        return beside
    return from_root


def check(files):
    """The violation lines for a tree given as path -> text."""
    violations = []
    for path in sorted(files):
        layer = layer_of(path)
        if layer == NO_LAYER:
            violations.append(f"{path}:1: {path} is in no layer; add its folder to LAYERS in tests/check_layers.py")
            continue
        permitted = allowed_targets(layer)
        for number, included, quoted in includes(files[path]):
            target_path = resolve(path, included, files)
            if not quoted and target_path not in files:
                continue  # a system or library header
            target = NO_LAYER if target_path.startswith("../") else layer_of(target_path)
            if target not in permitted:
                violations.append(f'{path}:{number}: {layer} must not include {target} ("{included}")')
    return violations


# ---------------------------------------------------------------------------
# The matrix as the docs show it
# ---------------------------------------------------------------------------

def render_table():
    """The matrix as a grid (row: the including layer; column: the included
    one), then each layer's files and the reason for each allowed edge."""
    names = list(LAYERS)
    lines = [
        "| includes → | " + " | ".join(f"`{n}`" for n in names) + " |",
        "|---|" + "---|" * len(names),
    ]
    for layer in names:
        permitted = allowed_targets(layer)
        cells = ["own" if n == layer else ("yes" if n in permitted else "") for n in names]
        lines.append(f"| `{layer}` | " + " | ".join(cells) + " |")
    lines += [
        "",
        "| Layer | Files | May include, and why |",
        "|---|---|---|",
    ]
    for layer, prefixes in LAYERS.items():
        files = ", ".join(f"`{p}`" for p in prefixes)
        parts = []
        for included, why in ALLOWED.get(layer, []):
            group = (included,) if isinstance(included, str) else included
            parts.append(", ".join(f"`{n}`" for n in group) + f": {why}")
        lines.append(f"| `{layer}` | {files} | {'; '.join(parts) if parts else 'only itself'} |")
    return "\n".join(lines)


def docs_errors(docs_path):
    with open(docs_path, encoding="utf-8") as f:
        text = f.read()
    begin, end = text.find(DOCS_BEGIN), text.find(DOCS_END)
    if begin < 0 or end < begin:
        return [f"{docs_path}: no include matrix between the lines {DOCS_BEGIN!r} and {DOCS_END!r}"]
    shown = text[begin + len(DOCS_BEGIN):end].strip("\n")
    if shown != render_table():
        return [f"{docs_path}: the include matrix differs from tests/check_layers.py; "
                f"put the output of `tests/check_layers.py --print-table` between the marker lines"]
    return []


# ---------------------------------------------------------------------------
# Self-test: the check must catch what it is there to catch
# ---------------------------------------------------------------------------

FAKE_TREE = {
    "driver/firmware/Uefi.h": "#pragma once\n",
    "driver/firmware/Hardware.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "driver/firmware/HardwareX64.cpp": '#include "driver/firmware/Hardware.h"\n',
    "driver/base/Memory.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "driver/base/Pool.cpp": ('#include "driver/base/Memory.h"\n'
                         '#include "driver/firmware/Uefi.h"\n'
                         '#include "driver/entry/DriverEntry.h"\n'),
    "driver/devpath/DevicePath.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "driver/devpath/Nodes.cpp": ('#include "DevicePath.h"\n'
                          '#include "../inventory/Inventory.h"\n'
                          '#include "driver/base/Memory.h"\n'),
    "driver/inventory/Inventory.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "driver/inventory/SystemSlots.cpp": ('#include "driver/devpath/DevicePath.h"\n'
                                  '#  include   "driver/firmware/Hardware.h"\n'
                                  '/* #include "host/boot/Boot.h" */\n'
                                  '// #include "tools/boardinv/Commands.h"\n'
                                  '#include <host/sim/SimFirmware.h>\n'
                                  '#include <cstdint>\n'
                                  '/*\n#include "tools/boardinv/Commands.h"\n*/\n'
                                  '#include "driver/platform/Services.h"\n'),
    "driver/platform/Services.h": '#pragma once\n#include "driver/base/Memory.h"\n',
    "driver/entry/DriverEntry.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "driver/entry/DriverEntry.cpp": ('#include "driver/entry/DriverEntry.h"\n'
                               '#include "driver/inventory/Inventory.h"\n'
                               '#include "driver/platform/Services.h"\n'
                               '#include "driver/base/Memory.h"\n'),
    "host/sim/SimFirmware.h": '#pragma once\n#include "driver/firmware/Uefi.h"\n',
    "host/sim/Platform.cpp": ('#include "host/sim/SimFirmware.h"\n'
                              '#include "driver/inventory/Inventory.h"\n'
                              '#include "driver/firmware/Hardware.h"\n'),
    "host/sim/HostHardware.cpp": '#include "driver/firmware/Hardware.h"\n#include "host/sim/SimFirmware.h"\n',
    "host/loader/PeImage.cpp": '#include "host/sim/SimFirmware.h"\n#include "host/boot/Boot.h"\n',
    "host/boot/Boot.h": '#pragma once\n#include "host/sim/SimFirmware.h"\n',
    "host/boot/Boot.cpp": ('#include "host/boot/Boot.h"\n'
                           '#include "driver/entry/DriverEntry.h"\n'
                           '#include "tools/boardinv/Commands.h"\n'),
    "tools/boardinv/Commands.h": '#pragma once\n#include "host/boot/Boot.h"\n',
    "tools/boardinv/main.cpp": '#include "Commands.h"\n#include "missing/Thing.h"\n#include "bench/Support.h"\n',
    "bench/Support.h": '#pragma once\n#include "driver/devpath/DevicePath.h"\n',
    "tests/boot/BootTest.cpp": ('#include "host/boot/Boot.h"\n'
                                '#include "driver/inventory/Inventory.h"\n'
                                '#include "driver/firmware/Hardware.h"\n'),
    "scratch/Tool.cpp": "int main() { return 0; }\n",
}

FAKE_TREE_VIOLATIONS = sorted([
    'driver/devpath/Nodes.cpp:2: driver/devpath must not include driver/inventory ("../inventory/Inventory.h")',
    'host/boot/Boot.cpp:3: host/boot must not include tools ("tools/boardinv/Commands.h")',
    'host/loader/PeImage.cpp:2: host/loader must not include host/boot ("host/boot/Boot.h")',
    'host/sim/Platform.cpp:2: host/sim must not include driver/inventory ("driver/inventory/Inventory.h")',
    'host/sim/Platform.cpp:3: host/sim must not include driver/firmware/Hardware ("driver/firmware/Hardware.h")',
    'driver/inventory/SystemSlots.cpp:5: driver/inventory must not include host/sim ("host/sim/SimFirmware.h")',
    'driver/inventory/SystemSlots.cpp:10: driver/inventory must not include driver/platform ("driver/platform/Services.h")',
    'scratch/Tool.cpp:1: scratch/Tool.cpp is in no layer; add its folder to LAYERS in tests/check_layers.py',
    'driver/base/Pool.cpp:3: driver/base must not include driver/entry ("driver/entry/DriverEntry.h")',
    'tools/boardinv/main.cpp:2: tools must not include (no layer) ("missing/Thing.h")',
    'tools/boardinv/main.cpp:3: tools must not include bench ("bench/Support.h")',
])


def self_test(real_files):
    """Failures of the self-test; empty when the check catches what it must."""
    failures = []
    with tempfile.TemporaryDirectory(prefix="check_layers.") as scratch:
        for path, text in FAKE_TREE.items():
            os.makedirs(os.path.join(scratch, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(scratch, path), "w", encoding="utf-8") as f:
                f.write(text)
        # A build folder is not read.
        os.makedirs(os.path.join(scratch, "build", "host"))
        with open(os.path.join(scratch, "build", "host", "generated.cpp"), "w") as f:
            f.write('#include "tools/boardinv/Commands.h"\n')
        found = collect(scratch)
    if sorted(found) != sorted(FAKE_TREE):
        failures.append(f"the fake tree read back as {sorted(found)}")
    got = sorted(check(found))
    if got != FAKE_TREE_VIOLATIONS:
        failures.append("on the fake tree the check printed:\n  " + "\n  ".join(got) +
                        "\ninstead of:\n  " + "\n  ".join(FAKE_TREE_VIOLATIONS))
    with open(os.devnull, "w") as quiet:
        if run(found, out=quiet) != 1:
            failures.append("the fake tree did not give exit status 1")

    # A back edge in the matrix is refused.
    ALLOWED.setdefault("driver/base", []).append(("driver/entry", "a back edge"))
    try:
        cycle_errors = [e for e in matrix_errors() if "cycle" in e]
    finally:
        ALLOWED["driver/base"].pop()
    if not cycle_errors:
        failures.append("a matrix letting the base include the entry was not refused as a cycle")

    # The real tree with one violating include added to a file of the base.
    base_files = sorted(p for p in real_files if layer_of(p) == "driver/base")
    if not base_files:
        failures.append("the tree has no files of the base to inject a violation into")
    else:
        victim = base_files[0]
        mutated = dict(real_files)
        text = mutated[victim]
        line = len(text.splitlines()) + 1
        mutated[victim] = text + ("" if text.endswith("\n") or not text else "\n") + '#include "driver/entry/DriverEntry.h"\n'
        expected = f'{victim}:{line}: driver/base must not include driver/entry ("driver/entry/DriverEntry.h")'
        added = sorted(set(check(mutated)) - set(check(real_files)))
        if added != [expected]:
            failures.append(f"with an include added to {victim} the check added {added} instead of [{expected!r}]")
    return failures


def run(files, out=sys.stdout):
    violations = check(files)
    for line in violations:
        print(line, file=out)
    return 1 if violations else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--docs", help="a document that must show the matrix (docs/ARCHITECTURE.md)")
    parser.add_argument("--self-test", action="store_true", help="run the self-test alone")
    parser.add_argument("--print-table", action="store_true", help="print the matrix as a Markdown table")
    args = parser.parse_args()

    errors = matrix_errors()
    if errors:
        print("\n".join(errors))
        return 1
    if args.print_table:
        print(render_table())
        return 0

    real_files = collect(args.root)
    failures = self_test(real_files)
    if failures:
        print("check_layers self-test FAILED: the check no longer catches what it must")
        print("\n".join(failures))
        return 1
    print("self-test: the fake tree's violations, an injected one and a cycle in the matrix were caught")
    if args.self_test:
        return 0

    status = run(real_files)
    if args.docs:
        errors = docs_errors(args.docs)
        if errors:
            print("\n".join(errors))
            status = 1
    if status == 0:
        count = sum(1 for path, text in real_files.items() for _, included, quoted in includes(text)
                    if quoted or resolve(path, included, real_files) in real_files)
        print(f"{len(real_files)} files, {count} includes of the tree's own files: every one allowed by the matrix")
    return status


if __name__ == "__main__":
    sys.exit(main())
