#!/usr/bin/env python3
"""Checks that no code in host/ or tools/ reads a JSON document back: the
reports are written from a typed BootResult (host/boot/ReportJson.cpp,
host/boot/ReportText.cpp), and every command judges and shows a boot from
that result, never by parsing a report and looking its keys up.

    check_report_readback.py [--root DIR]    self-test, then the tree
    check_report_readback.py --self-test     the self-test alone

The rule. Every C++ file (.h, .cpp) under host/ and tools/ that names JSON
(the word `json` or `nlohmann` appears in it) is scanned line by line, with
comments and the contents of string literals other than subscript and
look-up keys blanked. A line reads JSON back when it holds

  * a parse: `json::parse(` (with or without `nlohmann::`),
  * a typed read: `.get<`, `.get_to(`, `.template get<`,
  * a keyed look-up: `.at("`, `.value("`, `.contains("`, or
  * a keyed subscript that is read: a chain `["key"]...["key"]` that is not
    the target of a plain assignment (`] = `) and not followed by a
    building member (`.push_back(`, `.emplace_back(`, `.update(`).

Building a document (`x["k"] = v`, `x["a"]["b"] = v`, `x["list"].push_back(v)`)
is writing, and allowed everywhere. The one place that reads JSON input is
the platform description's reader, whose files are exempt:
host/sim/JsonFields.cpp, host/sim/Platform.cpp, host/sim/PciModel.cpp and
host/sim/StartupPlatform.cpp (they read the --platform file, never a
report). Each finding is printed as

    path:line: reads JSON back (a keyed subscript that is read: ["outcome"])

and the exit status is 1. Before it reads the tree, the check proves itself
on a small fake tree with known findings.

Python 3, standard library only.
"""

import os
import re
import sys
import tempfile

import tree_check

SCANNED = ("host/", "tools/")
# The platform description's reader: it parses the --platform file.
EXEMPT = (
    "host/sim/JsonFields.cpp",
    "host/sim/Platform.cpp",
    "host/sim/PciModel.cpp",
    "host/sim/StartupPlatform.cpp",
)
NAMES_JSON = re.compile(r"\b(json|nlohmann)\b")

PARSE = re.compile(r"\bjson::parse\s*\(")
TYPED_READ = re.compile(r"\.(?:template\s+)?get\s*<|\.get_to\s*\(")
KEYED_LOOKUP = re.compile(r"\.(at|value|contains)\s*\(\s*\"")
SUBSCRIPT_CHAIN = re.compile(r"(?:\[\s*\"[^\"]*\"\s*\])+")
WRITE_AFTER = re.compile(r"\s*(?:=(?!=)|\.(?:push_back|emplace_back|update)\s*\()")


def blank(line):
    """The line without its // comment, and with string literals emptied
    except those written as a key right inside brackets or a look-up."""
    out = []
    i = 0
    while i < len(line):
        c = line[i]
        if line.startswith("//", i):
            break
        if c == '"':
            j = i + 1
            while j < len(line) and line[j] != '"':
                j += 2 if line[j] == "\\" else 1
            literal = line[i:j + 1]
            before = "".join(out).rstrip()
            keep = before.endswith("[") or before.endswith("(")
            out.append(literal if keep else '""')
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def line_findings(line):
    code = blank(line)
    found = []
    if PARSE.search(code):
        found.append("a parse")
    if TYPED_READ.search(code):
        found.append("a typed read")
    match = KEYED_LOOKUP.search(code)
    if match:
        found.append("a keyed look-up: ." + match.group(1) + "(")
    for match in SUBSCRIPT_CHAIN.finditer(code):
        if not WRITE_AFTER.match(code, match.end()):
            found.append("a keyed subscript that is read: " + match.group(0))
    return found


def scanned_files(root):
    for top in SCANNED:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def findings(root):
    found = []
    for relative, path in scanned_files(root):
        if relative in EXEMPT:
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        if not any(NAMES_JSON.search(line) for line in lines):
            continue
        for number, line in enumerate(lines, 1):
            for what in line_findings(line):
                found.append("%s:%d: reads JSON back (%s)" % (relative, number, what))
    return found


def self_test():
    with tempfile.TemporaryDirectory() as root:
        files = {
            "host/boot/ReportJson.cpp": "json report;\n"
                                        "report[\"outcome\"] = OutcomeText(result);\n"
                                        "out[\"list\"][\"map_problem\"] = problem;  // [\"x\"] in a comment\n"
                                        "sweep[\"boots\"].push_back(entry);\n"
                                        "if (a[\"k\"] == b) {}\n",
            "tools/boardinv/Sweep.cpp": "using nlohmann::json;\n"
                                        "const json report = json::parse(text);\n"
                                        "const bool parked = report[\"startup\"][\"parked\"].get<bool>();\n"
                                        "auto n = report.at(\"pool\");\n"
                                        "std::cout << \"see [\\\"x\\\"] here\";\n"
                                        "x = r.value(\"skipped\", json::array());\n",
            "host/sim/Platform.cpp": "auto j = nlohmann::json::parse(text); int v = j[\"cpu\"].get<int>();\n",
            "host/loader/Map.cpp": "uint32_t rva = symbols[\"gBootServices\"];  // no JSON named here\n",
            "tests/a.cpp": "json r = json::parse(t); r[\"x\"].get<int>();\n",
        }
        tree_check.write_tree(root, files)
        expected = [
            "host/boot/ReportJson.cpp:5: reads JSON back (a keyed subscript that is read: [\"k\"])",
            "tools/boardinv/Sweep.cpp:2: reads JSON back (a parse)",
            "tools/boardinv/Sweep.cpp:3: reads JSON back (a typed read)",
            "tools/boardinv/Sweep.cpp:3: reads JSON back (a keyed subscript that is read: [\"startup\"][\"parked\"])",
            "tools/boardinv/Sweep.cpp:4: reads JSON back (a keyed look-up: .at()",
            "tools/boardinv/Sweep.cpp:6: reads JSON back (a keyed look-up: .value()",
        ]
        got = findings(root)
        return tree_check.findings_as_expected("check_report_readback", got, expected)


if __name__ == "__main__":
    sys.exit(tree_check.main(__doc__, self_test, findings))
