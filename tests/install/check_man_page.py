#!/usr/bin/env python3
"""Checks the manual page boardinv(1) against the program.

    check_man_page.py MAN_PAGE BOARDINV

- groff renders it without a warning (`groff -man -ww -Tutf8 -z` writes
  nothing on standard error);
- it has the sections a manual page of a tool has;
- every option that `boardinv --help` and each `boardinv SUB --help` print
  is described (as a tagged paragraph) in the page's subsection for it
  ("All commands" for the top level, then one per subcommand), and each
  subcommand in COMMANDS;
- every option the page names anywhere is one that some --help prints.
"""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import help_options  # noqa: E402

REQUIRED_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS", "EXIT STATUS", "PLATFORM FILE",
                     "ENVIRONMENT", "FILES", "SEE ALSO"]
# An option as the page writes it: \-h, \-\-load\-option.
OPTION = re.compile(r"(?<![\w\\-])\\-(?:\\-)?[a-z](?:[a-z0-9]|\\-(?=[a-z0-9]))*")


def plain(option):
    return option.replace("\\-", "-")


def main():
    man_page, boardinv = sys.argv[1:]
    failures = []

    render = subprocess.run(["groff", "-man", "-ww", "-Tutf8", "-z", man_page], capture_output=True, text=True,
                            check=False)
    if render.returncode != 0 or render.stderr:
        failures.append(f"groff: exit status {render.returncode}, warnings:\n{render.stderr}")

    with open(man_page, encoding="utf-8") as f:
        source = f.read()
    lines = source.splitlines()
    sections = [line[4:].strip('"') for line in lines if line.startswith(".SH ")]
    for section in REQUIRED_SECTIONS:
        if section not in sections:
            failures.append(f"no section {section}")

    # The tagged paragraphs (.TP and the line after it) of each subsection.
    tags, current, section = {}, None, None
    for i, line in enumerate(lines):
        if line.startswith(".SH "):
            section, current = line[4:].strip('"'), None
        elif line.startswith(".SS ") and section == "OPTIONS":
            current = line[4:].strip('"')
            tags[current] = []
        elif line == ".TP" and i + 1 < len(lines):
            tag = lines[i + 1]
            if section == "OPTIONS" and current:
                tags[current].extend(plain(o) for o in OPTION.findall(tag))
            elif section == "COMMANDS":
                tags.setdefault("COMMANDS", []).append(re.sub(r"^\.B\s+", "", tag))

    table, subcommands = help_options.all_options(boardinv)
    printed = set()
    for words, options in table.items():
        printed.update(options)
        where = words[0] if words else "All commands"
        if where not in tags:
            failures.append(f"no subsection {where!r} under OPTIONS")
            continue
        # What "All commands" describes holds for each subcommand too.
        described = tags[where] + tags.get("All commands", [])
        for option in options:
            if option not in described:
                failures.append(f"{' '.join(['boardinv', *words, '--help'])} prints {option}, "
                                f"not described under OPTIONS, {where}")
    for sub in subcommands:
        if sub not in tags.get("COMMANDS", []):
            failures.append(f"subcommand {sub} not described under COMMANDS")

    named = {plain(o) for o in OPTION.findall(source)}
    for option in sorted(named - printed):
        failures.append(f"the page names {option}, which no --help prints")
    if not named >= printed:
        failures.append(f"options never named: {sorted(printed - named)}")

    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


sys.exit(main())
