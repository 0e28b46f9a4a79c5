#!/usr/bin/env python3
"""Checks that the board's hardware facts are written once: in the board map
(driver/firmware/BoardHardware.h), and nowhere in host/ or tools/ as numbers of their
own.

    check_board_facts.py [--root DIR]    self-test, then the tree
    check_board_facts.py --self-test     the self-test alone

The facts are the map's constants. Addresses, register numbers, MSRs and
CPUID leaves (every value of 0x10000 or more) are distinctive: such a number
written anywhere in a C++ file of host/ or tools/, in code, a string or a
comment, in hex or decimal, is a restated fact. Port numbers are small and
common (0x80 is also a UTF-8 continuation bit and an opcode), so a port
number counts only on a line that speaks of a port. Each finding is printed as

    path:line: 0xE0000000 restates PCI_EXPRESS_BASE of driver/firmware/BoardHardware.h

and the exit status is 1. Before it reads the tree, the check proves itself
on a small fake tree with known findings.

Python 3, standard library only.
"""

import os
import re
import sys
import tempfile

import tree_check

MAP = "driver/firmware/BoardHardware.h"
SCANNED = ("host/", "tools/")
DISTINCTIVE = 0x10000

CONSTANT = re.compile(r"static\s+constexpr\s+\w+\s+(\w+)\s*=\s*([^;]+);")
NUMBER = re.compile(r"\b(0[xX][0-9a-fA-F]+|[0-9]+)(?:[uU]?[lL]{0,2}|[lL]{1,2}[uU]?)\b")
PORT_WORD = re.compile(r"port", re.IGNORECASE)


def read_facts(root):
    """The map's constants: name -> value; expressions of earlier names and
    numbers are evaluated."""
    facts = {}
    with open(os.path.join(root, MAP), encoding="utf-8") as f:
        text = re.sub(r"//[^\n]*", "", f.read())
    for name, expression in CONSTANT.findall(text):
        expression = re.sub(r"\(\w+\)", "", expression)
        expression = re.sub(r"(?<=[0-9a-fA-F])[uUlL]+\b", "", expression)
        for known, value in facts.items():
            expression = re.sub(r"\b%s\b" % known, str(value), expression)
        if not re.fullmatch(r"[0-9a-fA-FxX+\-*<> ()]+", expression):
            raise SystemExit("check_board_facts: cannot read %s = %s" % (name, expression))
        facts[name] = eval(expression)  # numbers and operators only, checked above
    return facts


def scanned_files(root):
    for top in SCANNED:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def findings(root):
    facts = read_facts(root)
    distinctive = {}
    ports = {}
    for name, value in facts.items():
        if value >= DISTINCTIVE:
            distinctive.setdefault(value, name)
        elif name.endswith("_PORT"):
            ports.setdefault(value, name)
    found = []
    for relative, path in scanned_files(root):
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                for match in NUMBER.finditer(line):
                    literal = match.group(1)
                    value = int(literal, 16) if literal[:2] in ("0x", "0X") else int(literal)
                    name = distinctive.get(value)
                    if name is None and value in ports and PORT_WORD.search(line):
                        name = ports[value]
                    if name is not None:
                        found.append("%s:%d: %s restates %s of %s" % (relative, number, literal, name, MAP))
    return found


def self_test():
    with tempfile.TemporaryDirectory() as root:
        files = {
            MAP: "static constexpr UINTN BASE = 0xE0000000ULL;\n"
                 "static constexpr UINTN INDEX = BASE + 0xB8;\n"
                 "static constexpr UINT16 DEBUG_PORT = 0x80;\n"
                 "static constexpr UINT32 LEAF = 0xBACCD00BU;\n",
            "host/a.cpp": "constexpr uint64_t kBase = 0xe0000000ULL;  // fine: none\n"
                          "x = c < 0x80 ? 1 : 2;\n"
                          "if (port == 0x80) {}\n"
                          "// the pair at 3758096568\n",
            "tools/b.h": "const char *s = \"leaf 0xBACCD00B\";\n",
            "tests/c.cpp": "uint64_t base = 0xE0000000;\n",
        }
        tree_check.write_tree(root, files)
        expected = [
            "host/a.cpp:1: 0xe0000000 restates BASE of " + MAP,
            "host/a.cpp:3: 0x80 restates DEBUG_PORT of " + MAP,
            "host/a.cpp:4: 3758096568 restates INDEX of " + MAP,
            "tools/b.h:1: 0xBACCD00B restates LEAF of " + MAP,
        ]
        got = findings(root)
        return tree_check.findings_as_expected("check_board_facts", got, expected)


if __name__ == "__main__":
    sys.exit(tree_check.main(__doc__, self_test, findings))
