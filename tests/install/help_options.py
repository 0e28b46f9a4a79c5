"""The subcommands and options that boardinv's help texts print, read from
the built program: shared by the checks of the installed files."""

import re
import subprocess

# An option line of a help text: "  -h,--help   ..." or "  --nio TEXT ...".
_OPTION = re.compile(r"^  (?:(-[A-Za-z]),)?(--[a-z][a-z0-9-]*)")
_SUBCOMMAND = re.compile(r"^  ([a-z]+)\s{2,}\S")


def help_text(boardinv, *words):
    run = subprocess.run([boardinv, *words, "--help"], capture_output=True, text=True, check=False)
    if run.returncode != 0 or run.stderr:
        raise SystemExit(f"{' '.join(['boardinv', *words, '--help'])}: exit status {run.returncode}, "
                         f"standard error {run.stderr!r}")
    return run.stdout


def _section(text, title):
    lines, inside = [], False
    for line in text.splitlines():
        if line == title:
            inside = True
        elif inside and line and not line.startswith(" "):
            break
        elif inside:
            lines.append(line)
    return lines


def options(text):
    """The options of a help text's "Options:" section, in order."""
    found = []
    for line in _section(text, "Options:"):
        match = _OPTION.match(line)
        if match:
            found.extend(o for o in match.groups() if o)
    return found


def subcommands(text):
    return [m.group(1) for m in map(_SUBCOMMAND.match, _section(text, "Subcommands:")) if m]


def all_options(boardinv):
    """{(): top-level options, ("boot",): boot's, ...} and the subcommands."""
    top = help_text(boardinv)
    subs = subcommands(top)
    table = {(): options(top)}
    for sub in subs:
        table[(sub,)] = options(help_text(boardinv, sub))
    return table, subs
