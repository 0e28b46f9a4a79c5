#!/usr/bin/env python3
"""Checks that no test or benchmark writes a module global of the driver
itself: the linked-in driver's globals are set from outside only through
the harness (host::LinkedDriver in host/harness/), which resets every one
of them again.

    check_driver_globals.py [--root DIR]    self-test, then the tree
    check_driver_globals.py --self-test     the self-test alone

The globals are the variables the driver's headers declare `extern` (every
header under driver/). A line of a C++ file under tests/ or bench/ writes
one when, outside comments and string literals, it

- assigns to it, to a member or an element of it (`=`, `+=`, ... `>>=`),
  or increments or decrements it;
- hands its address (or a member's) to memset, memcpy or memmove as the
  destination;
- hands its address as an out-parameter, cast to a pointer to a pointer
  (`(VOID **)&gSmbios`).

Writes through a global that is a pointer (`gSystemTable->...`) write the
firmware's memory, not the global, and are not findings. Each finding is
printed as

    path:line: writes gSmbios (driver/inventory/Inventory.h); set it through host::LinkedDriver

and the exit status is 1. Before it reads the tree, the check proves itself
on a small fake tree with known findings.

Python 3, standard library only.
"""

import os
import re
import sys
import tempfile

import tree_check

DRIVER = "driver/"
SCANNED = ("tests/", "bench/")

EXTERN = re.compile(r'^\s*extern\s+(?!"C")[^;(]*?\b(g\w+)\s*(?:\[[^\]]*\])?\s*;', re.MULTILINE)
CHAIN = r"(?:\s*\.\s*\w+|\s*\[[^\]]*\])*"
ASSIGNMENT = r"\s*(?:<<=|>>=|[-+*/%&|^]?=(?!=))"


def patterns(name):
    n = r"\b%s\b" % re.escape(name)
    return [
        re.compile(r"(?<![\w.>:])" + n + CHAIN + ASSIGNMENT),
        re.compile(r"(?<![\w.>:])" + n + CHAIN + r"\s*(?:\+\+|--)"),
        re.compile(r"(?:\+\+|--)\s*" + n + r"(?!\s*->)"),
        re.compile(r"\bmem(?:set|cpy|move)\s*\(\s*(?:\([^()]*\)\s*)?&?\s*" + n + r"(?!\s*->)"),
        re.compile(r"\*\s*\*\s*(?:>\s*\(|\))\s*&\s*" + n),
    ]


def read_globals(root):
    """The driver's extern variables: name -> the header declaring it."""
    found = {}
    for folder, dirs, files in os.walk(os.path.join(root, DRIVER)):
        dirs.sort()
        for name in sorted(files):
            if name.endswith(".h"):
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = re.sub(r"//[^\n]*", "", f.read())
                for global_name in EXTERN.findall(text):
                    found.setdefault(global_name, os.path.relpath(path, root).replace(os.sep, "/"))
    return found


def scanned_files(root):
    for top in SCANNED:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def code_of(line, in_comment):
    """The line without string and character literals and comments; whether
    a block comment is still open at its end."""
    out = []
    i = 0
    while i < len(line):
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                return "".join(out), True
            i = end + 2
            in_comment = False
        elif line.startswith("//", i):
            break
        elif line.startswith("/*", i):
            in_comment = True
            i += 2
        elif line[i] in "\"'":
            quote = line[i]
            i += 1
            while i < len(line) and line[i] != quote:
                i += 2 if line[i] == "\\" else 1
            i += 1
            out.append(" ")
        else:
            out.append(line[i])
            i += 1
    return "".join(out), in_comment


def findings(root):
    known = read_globals(root)
    checks = [(name, header, patterns(name)) for name, header in sorted(known.items())]
    found = []
    for relative, path in scanned_files(root):
        in_comment = False
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                code, in_comment = code_of(line, in_comment)
                for name, header, regexes in checks:
                    if name in code and any(regex.search(code) for regex in regexes):
                        found.append("%s:%d: writes %s (%s); set it through host::LinkedDriver" %
                                     (relative, number, name, header))
    return found


def self_test():
    with tempfile.TemporaryDirectory() as root:
        files = {
            "driver/base/Tables.h": "extern EFI_SYSTEM_TABLE *gSystemTable;\n"
                                    "extern UINTN gCount;  // extern UINTN gNotOne;\n"
                                    "extern \"C\" void *memset(void *d, int c, size_t n);\n"
                                    "UINTN CountOf(void);\n",
            "driver/inventory/Inventory.h": "extern const BoardLayout gLayout;\n"
                                            "extern SNAPSHOT gSnapshot;\n"
                                            "extern const CHAR8 gWords[];\n",
            "tests/a/ATest.cpp": "  gCount = 1;\n"                                    # 1
                                 "  EXPECT_EQ(gCount, 0u);\n"
                                 "  if (gCount == 2 || gCount <= 3 || gCount != 4) {}\n"
                                 "  gSnapshot.Policy.On |= 1;\n"                        # 4
                                 "  gLayout.Slots[0].Usage = 3;\n"                      # 5
                                 "  gSystemTable->ConfigurationTable[0].VendorTable = &later;\n"
                                 "  std::memset(&gSnapshot, 0xEE, sizeof(gSnapshot));\n"  # 7
                                 "  const auto *b = reinterpret_cast<const uint8_t *>(&gSnapshot);\n"
                                 "  bs->LocateProtocol(&guid, nullptr, (VOID **)&gSystemTable);\n"  # 9
                                 "  // gCount = 5;\n"
                                 "  const char *s = \"gCount = 6\";\n"
                                 "  gCountOther = 7; other.gCount = 8; ns::gCount = 9;\n"
                                 "  gCount++;\n"                                        # 13
                                 "  /* gCount = 10;\n"
                                 "     gCount = 11; */ memcpy(gLayout.Slots, saved, n);\n"  # 15
                                 "  Use(reinterpret_cast<VOID **>(&gSystemTable));\n",  # 16
            "bench/B.h": "inline void Reset() { --gCount; }\n",
            "host/harness/Harness.cpp": "void Set() { gCount = 1; }\n",
        }
        tree_check.write_tree(root, files)
        tables, inventory = "driver/base/Tables.h", "driver/inventory/Inventory.h"
        expected = [
            "tests/a/ATest.cpp:1: writes gCount (%s); set it through host::LinkedDriver" % tables,
            "tests/a/ATest.cpp:4: writes gSnapshot (%s); set it through host::LinkedDriver" % inventory,
            "tests/a/ATest.cpp:5: writes gLayout (%s); set it through host::LinkedDriver" % inventory,
            "tests/a/ATest.cpp:7: writes gSnapshot (%s); set it through host::LinkedDriver" % inventory,
            "tests/a/ATest.cpp:9: writes gSystemTable (%s); set it through host::LinkedDriver" % tables,
            "tests/a/ATest.cpp:13: writes gCount (%s); set it through host::LinkedDriver" % tables,
            "tests/a/ATest.cpp:15: writes gLayout (%s); set it through host::LinkedDriver" % inventory,
            "tests/a/ATest.cpp:16: writes gSystemTable (%s); set it through host::LinkedDriver" % tables,
            "bench/B.h:1: writes gCount (%s); set it through host::LinkedDriver" % tables,
        ]
        got = findings(root)
        globals_found = sorted(read_globals(root))
        if globals_found != ["gCount", "gLayout", "gSnapshot", "gSystemTable", "gWords"]:
            print("check_driver_globals: the self-test read the wrong globals:", globals_found)
            return False
        return tree_check.findings_as_expected("check_driver_globals", got, expected)


if __name__ == "__main__":
    sys.exit(tree_check.main(__doc__, self_test, findings))
