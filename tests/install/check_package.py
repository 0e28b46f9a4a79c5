#!/usr/bin/env python3
"""Builds the Debian package of a host build and checks it.

    check_package.py CPACK BUILD_DIR VERSION BUILT_BOARDINV MAN_PAGE [--lintian]

Runs `cpack -G DEB` on BUILD_DIR's configuration into a temporary
directory; checks the file's name (boardinv_VERSION_amd64.deb), the control
fields (Package, Version, Architecture, Section, Maintainer, Depends naming
what boardinv links dynamically), the files it holds; unpacks it with
`dpkg-deb -x` and runs the packaged boardinv from there: a boot on the
default platform and a device-path conversion answer as the built program
does; the program is stripped; the manual page is MAN_PAGE gzipped. With
--lintian, lintian finds no error and no warning.
"""

import gzip
import os
import re
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(argv):
    return subprocess.run(argv, capture_output=True, check=False)


def main():
    args = [a for a in sys.argv[1:] if a != "--lintian"]
    with_lintian = "--lintian" in sys.argv[1:]
    cpack, build_dir, version, built, man_page = args

    with tempfile.TemporaryDirectory(prefix="boardinv-deb-") as out:
        packed = run([cpack, "-G", "DEB", "--config", os.path.join(build_dir, "CPackConfig.cmake"), "-B", out])
        if packed.returncode != 0:
            sys.exit(f"cpack failed:\n{packed.stdout.decode()}{packed.stderr.decode()}")
        deb = os.path.join(out, f"boardinv_{version}_amd64.deb")
        if not os.path.isfile(deb):
            sys.exit(f"no {os.path.basename(deb)} in {sorted(os.listdir(out))}")

        info = run(["dpkg-deb", "-I", deb]).stdout.decode()
        fields = dict(re.findall(r"^ ([A-Z][A-Za-z-]*): (.*)$", info, re.M))
        for field, expected in (("Package", "boardinv"), ("Version", version), ("Architecture", "amd64"),
                                ("Section", "utils"), ("Priority", "optional")):
            check(fields.get(field) == expected, f"{field}: {fields.get(field)!r}, expected {expected!r}")
        check(bool(fields.get("Maintainer")), "no Maintainer")
        depends = [d.split()[0] for d in fields.get("Depends", "").split(", ") if d]
        for library in ("libc6", "libstdc++6", "libgcc-s1"):
            check(library in depends, f"Depends: {fields.get('Depends')!r} does not name {library}")

        listing = run(["dpkg-deb", "-c", deb]).stdout.decode()
        files = {line.split()[-1].lstrip(".") for line in listing.splitlines() if not line.startswith("d")}
        expected_files = {"/usr/bin/boardinv", "/usr/share/man/man1/boardinv.1.gz",
                          "/usr/share/bash-completion/completions/boardinv",
                          "/usr/share/doc/boardinv/copyright", "/usr/share/doc/boardinv/changelog.gz",
                          "/usr/share/doc/boardinv/README.md.gz", "/usr/share/boardinv/BoardInventory.efi",
                          "/usr/share/boardinv/BoardInventory.ffs", "/usr/share/boardinv/BoardInventory.map"}
        check(files == expected_files, f"the package holds {sorted(files)}, expected {sorted(expected_files)}")

        root = os.path.join(out, "root")
        check(run(["dpkg-deb", "-x", deb, root]).returncode == 0, "dpkg-deb -x failed")
        boardinv = os.path.join(root, "usr", "bin", "boardinv")
        for words in (["boot"], ["devpath", "PciRoot(0x0)/Pci(0x1C,0x0)", "Pci(0x1,0x2)"], ["boot", "--nio", "x"]):
            mine, theirs = run([boardinv, *words]), run([built, *words])
            check((mine.returncode, mine.stdout, mine.stderr) == (theirs.returncode, theirs.stdout, theirs.stderr),
                  f"the packaged boardinv {' '.join(words)} answers otherwise than {built}: "
                  f"exit status {mine.returncode}, {mine.stderr!r}")
        check(run([boardinv, "boot"]).returncode == 0, "the packaged boardinv boot: exit status not 0")
        sections = run(["readelf", "-S", "-W", boardinv]).stdout.decode()
        check(".text" in sections and ".symtab" not in sections and ".debug_info" not in sections,
              "the packaged boardinv is not stripped")
        with gzip.open(os.path.join(root, "usr", "share", "man", "man1", "boardinv.1.gz")) as packed_page, \
                open(man_page, "rb") as page:
            check(packed_page.read() == page.read(), f"the packaged manual page is not {man_page}")

        if with_lintian:
            linted = run(["lintian", "--fail-on", "error,warning", deb])
            check(linted.returncode == 0, "lintian:\n" + linted.stdout.decode() + linted.stderr.decode())


main()
for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
