#!/usr/bin/env python3
"""Everything boardinv shows of the driver, written as files.

For the built-in platform (with each NioTypeProtected setting) and for every
platform description of the test set: the boot report as JSON and as text,
the SMBIOS dump and the allocation sweep. For the device-path converter: the
answers (hex, JSON, single node) over the benchmark corpus, the answers over
each seed of the text fuzzer, and the explanation of each seed of the binary
fuzzer. Each file records the exit status and standard error too.

  snapshot.py TOOL SOURCE_DIR OUT_DIR            write the snapshot
  snapshot.py TOOL SOURCE_DIR OUT_DIR --check    compare with the snapshot
                                                 kept in tests/behaviour/expected

A refactoring must leave the snapshot byte-identical; a change of behaviour
updates tests/behaviour/expected in the same commit (write into it directly).
"""
import filecmp
import os
import subprocess
import sys
import tempfile


def run(tool, args, stdin=b""):
    env = dict(os.environ)
    env.pop("BOARDINV_EFI_TRAPS", None)
    done = subprocess.run([tool] + args, input=stdin, capture_output=True, env=env, timeout=120)
    return done.returncode, done.stdout, done.stderr


def record(out_dir, name, status, stdout, stderr):
    with open(os.path.join(out_dir, name), "wb") as f:
        f.write(b"exit status: %d\n--- stdout\n" % status)
        f.write(stdout)
        f.write(b"\n--- stderr\n")
        f.write(stderr)


def boots(tool, source_dir):
    yield "default", []
    for nio in ["0x200", "0x201", "0x202", "0x203", "0x100", "0x300", "0"]:
        yield "default-nio-" + nio, ["--nio", nio]
    yield "default-no-nio", ["--no-nio"]
    platforms = os.path.join(source_dir, "tests", "platforms")
    for name in sorted(os.listdir(platforms)):
        if name.endswith(".json"):
            yield name[: -len(".json")], ["--platform", os.path.join(platforms, name)]


def snapshot(tool, source_dir, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        dump = os.path.join(scratch, "smbios.dump")
        for name, args in boots(tool, source_dir):
            # A platform path differs between checkouts; the reports name
            # the file only by what the tool was given, so run from its
            # directory with a relative name.
            status, out, err = run(tool, ["boot"] + args + ["--format", "json", "--dump", dump])
            record(out_dir, "boot-" + name + ".json.txt", status, out, err)
            if os.path.exists(dump):
                with open(dump, "rb") as f:
                    record(out_dir, "boot-" + name + ".dump.txt", 0, f.read().hex(" ").encode(), b"")
                os.remove(dump)
            status, out, err = run(tool, ["boot"] + args + ["--format", "text"])
            record(out_dir, "boot-" + name + ".text.txt", status, out, err)
            sweep_args = [a for a in args if not a.startswith("--nio") and a != "--no-nio"]
            if sweep_args == args:
                status, out, err = run(tool, ["sweep"] + args + ["--format", "json"])
                record(out_dir, "sweep-" + name + ".json.txt", status, out, err)

    with open(os.path.join(source_dir, "bench", "devpath-corpus.txt"), "rb") as f:
        corpus = f.read()
    for mode, flags in [("hex", []), ("json", ["--json"]), ("node", ["--node"]), ("node-json", ["--node", "--json"])]:
        status, out, err = run(tool, ["devpath"] + flags, corpus)
        record(out_dir, "devpath-corpus-" + mode + ".txt", status, out, err)
    # The corpus's paths (the texts after the family and its tab) written
    # back as text, and as JSON.
    texts = b"".join(line.split(b"\t", 1)[1] + b"\n" for line in corpus.splitlines()
                     if line and not line.startswith(b"#"))
    status, hex_lines, err = run(tool, ["devpath"], texts)
    for mode, flags in [("text", []), ("json", ["--json"])]:
        status, out, err = run(tool, ["devpath", "--to-text"] + flags, hex_lines)
        record(out_dir, "devpath-corpus-to-" + mode + ".txt", status, out, err)

    seeds = os.path.join(source_dir, "tests", "fuzz", "corpus", "devpath_text_fuzzer")
    lines = []
    for name in sorted(os.listdir(seeds)):
        with open(os.path.join(seeds, name), "rb") as f:
            seed = f.read()
        status, out, err = run(tool, ["devpath", "--json"], seed)
        lines.append(b"== %s: exit status %d\n%s%s" % (name.encode(), status, out, err))
    record(out_dir, "devpath-text-seeds.txt", 0, b"".join(lines), b"")

    seeds = os.path.join(source_dir, "tests", "fuzz", "corpus", "devpath_binary_fuzzer")
    lines = []
    for name in sorted(os.listdir(seeds)):
        status, out, err = run(tool, ["devpath", "--explain", "--binary", os.path.join(seeds, name)])
        err = err.replace(seeds.encode(), b"SEEDS")
        lines.append(b"== %s: exit status %d\n%s%s" % (name.encode(), status, out, err))
        status, out, err = run(tool, ["devpath", "--to-text", "--binary", os.path.join(seeds, name)])
        lines.append(b"-- to-text: exit status %d\n%s%s" % (status, out, err))
    record(out_dir, "devpath-binary-seeds.txt", 0, b"".join(lines), b"")


def main():
    if len(sys.argv) not in (4, 5) or (len(sys.argv) == 5 and sys.argv[4] != "--check"):
        print(__doc__, file=sys.stderr)
        return 2
    tool, source_dir, out_dir = sys.argv[1:4]
    tool = os.path.abspath(tool)
    source_dir = os.path.abspath(source_dir)
    out_dir = os.path.abspath(out_dir)
    # Relative platform names keep the reports free of checkout paths.
    os.chdir(source_dir)
    snapshot(tool, ".", out_dir)
    if len(sys.argv) == 4:
        return 0
    expected = os.path.join(source_dir, "tests", "behaviour", "expected")
    names = sorted(set(os.listdir(expected)) | set(os.listdir(out_dir)))
    differ = [n for n in names
              if not (os.path.exists(os.path.join(expected, n)) and os.path.exists(os.path.join(out_dir, n))
                      and filecmp.cmp(os.path.join(expected, n), os.path.join(out_dir, n), shallow=False))]
    for name in differ:
        print("FAIL: %s differs from tests/behaviour/expected" % name)
        subprocess.run(["diff", os.path.join(expected, name), os.path.join(out_dir, name)])
    print("%d files compared, %d differ" % (len(names), len(differ)))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
