"""What the checks of the tree share (check_board_facts.py,
check_driver_globals.py, check_report_readback.py): writing the small fake
tree a self-test reads, comparing its findings with the expected lines, and
the command line

    check_X.py [--root DIR] [--self-test]

which runs the self-test first, then (without --self-test) prints each
finding in the tree at --root (default: the repository holding the
scripts), exit status 1 when there is one.

Python 3, standard library only.
"""

import argparse
import os


def write_tree(root, files):
    """Writes files ({relative path: text}) under root."""
    for relative, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, relative)), exist_ok=True)
        with open(os.path.join(root, relative), "w", encoding="utf-8") as f:
            f.write(text)


def findings_as_expected(name, got, expected):
    """Whether a self-test's findings are the expected ones; says how not."""
    if got != expected:
        print(name + ": the self-test failed; expected:", *expected, "got:", *got, sep="\n  ")
        return False
    return True


def main(doc, self_test, findings):
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--self-test", action="store_true")
    arguments = parser.parse_args()
    if not self_test():
        return 1
    if arguments.self_test:
        return 0
    found = findings(arguments.root)
    for line in found:
        print(line)
    return 1 if found else 0
