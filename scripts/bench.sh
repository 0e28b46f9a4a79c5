#!/usr/bin/env bash
# Takes every figure of the README's performance section:
#   - the Google Benchmark programs (device-path conversion over the corpus,
#     libefivar formatting the same paths, the binary utilities over long
#     paths, End-of-DXE and whole boots per layout), 5 repetitions, medians;
#   - instruction counts under callgrind, per device-path family and for
#     the two halves of a default boot, split into the driver's own code and
#     the rest (the simulated firmware, the C library);
#   - boardinv devpath converting 100,000 lines from standard input;
#   - the size of BoardInventory.efi by section.
# Results go to build/bench/ (raw JSON, callgrind files) and a summary in
# build/bench/summary.md, which is also printed. Run on an otherwise idle
# machine: the timings are wall and CPU time.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset efi >/dev/null
cmake --build --preset efi

out="$root/build/bench"
rm -rf "$out"
mkdir -p "$out"

for program in devpath_bench end_of_dxe_bench; do
  echo "bench: $program"
  build/bin/"$program" \
    --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$program.json" \
    --benchmark_out_format=json
done

echo "bench: instruction counts under callgrind"
valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" build/bin/instruction_counts \
  2>"$out/callgrind.log"
for dump in "$out"/callgrind.out.*; do
  callgrind_annotate --auto=no --threshold=100 "$dump" >"$dump.annotated" 2>/dev/null
done

echo "bench: boardinv devpath, 100,000 lines"
python3 - "$out/batch.txt" <<'EOF'
import sys
texts = ["PciRoot(0x0)/Pci(0x0,0x3)", "PciRoot(0x0)/Pci(0x3,0x7)",
         "PciRoot(0x0)/Pci(0x16,0x19)", "PciRoot(0x0)/Pci(0x8,0x8)"]
with open(sys.argv[1], "w") as f:
    for i in range(100000):
        f.write(texts[i % 4] + "\n")
EOF
python3 - "$out/batch.txt" "$out/batch-seconds.txt" <<'EOF'
import subprocess, sys, time
best = None
for _ in range(5):
    with open(sys.argv[1], "rb") as f:
        start = time.perf_counter()
        subprocess.run(["build/bin/boardinv", "devpath"], stdin=f, stdout=subprocess.DEVNULL, check=True)
        elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
open(sys.argv[2], "w").write(f"{best:.3f}\n")
EOF

llvm-readobj --sections build/efi/BoardInventory.efi >"$out/efi-sections.txt"

python3 - "$out" <<'EOF'
import json, os, re, subprocess, sys, platform
out = sys.argv[1]

def medians(name):
    data = json.load(open(os.path.join(out, name)))
    result = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            result[b["run_name"]] = b
    return data["context"], result

lines = []
context, devpath = medians("devpath_bench.json")
_, boot = medians("end_of_dxe_bench.json")

cpu = "unknown"
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        cpu = line.split(":", 1)[1].strip()
        break
lines.append(f"Machine: {cpu}, {context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz, "
             f"{platform.system()} {platform.release()}; compiler: the host preset (RelWithDebInfo, -O2).")
lines.append("")
lines.append("| Benchmark | Time per iteration (CPU) | Rate |")
lines.append("|---|---|---|")
def rate(b):
    parts = []
    if "items_per_second" in b:
        parts.append(f"{b['items_per_second']/1e6:.3f} M items/s")
    if "bytes_per_second" in b:
        parts.append(f"{b['bytes_per_second']/2**20:.1f} MiB/s")
    return ", ".join(parts)
for name, b in list(devpath.items()) + list(boot.items()):
    unit = b["time_unit"]
    lines.append(f"| `{name}` | {b['cpu_time']:.1f} {unit} | {rate(b)} |")
convert = devpath["BM_ConvertTextToDevicePath"]["items_per_second"]
efivar = devpath["BM_EfivarFormatDevicePath"]["items_per_second"]
lines.append("")
lines.append(f"Conversion over formatting (paths per second, medians): {convert/efivar:.2f} "
             f"({convert/1e6:.3f} M paths/s converted by the driver, {efivar/1e6:.3f} M paths/s formatted by libefivar).")
ours = devpath["BM_FormatDevicePathAsText"]["items_per_second"]
lines.append(f"Our formatting over libefivar's (paths per second, medians): {ours/efivar:.2f} "
             f"({ours/1e6:.3f} M paths/s formatted by host/devtext, each keyword form converted back, "
             f"{efivar/1e6:.3f} M paths/s by libefivar).")

# callgrind_annotate names files relative to the current directory or as
# compiled, which for an object taken from the compiler cache may be another
# checkout's build directory ("/elsewhere/build/host/../../driver/devpath/X.cpp"):
# a file is the driver's when the nearest of its directories named "driver"
# is not itself inside tests/, host/, bench/ or tools/.
def is_driver_file(path):
    parts = os.path.normpath(path).split("/")[:-1]
    for i in range(len(parts) - 1, -1, -1):
        if parts[i] == "driver":
            return i == 0 or parts[i - 1] not in ("tests", "host", "bench", "tools", "include")
    return False

rows = []
for name in sorted(os.listdir(out)):
    m = re.fullmatch(r"callgrind\.out\.(\d+)", name)
    if not m:
        continue
    text = open(os.path.join(out, name), errors="replace").read()
    trigger = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
    total = re.search(r"^summary: (\d+)$", text, re.M)
    if not trigger or not total:
        continue
    driver = 0
    for line in open(os.path.join(out, name + ".annotated"), errors="replace"):
        m2 = re.match(r"\s*([\d,]+) \([ \d.]+%\)\s+(\S.*?):", line)
        if m2 and is_driver_file(m2.group(2)):
            driver += int(m2.group(1).replace(",", ""))
    rows.append((int(m.group(1)), trigger.group(1), int(total.group(1)), driver))
rows.sort()
lines.append("")
lines.append("| Region (callgrind) | Instructions | Driver's own | Per path (all / driver's own) |")
lines.append("|---|---|---|---|")
for _, trigger, total, driver in rows:
    words = trigger.split()
    fields = dict(w.split("=") for w in words if "=" in w)
    label = " ".join(w for w in words if "=" not in w)
    per = ""
    if "paths" in fields:
        n = int(fields["paths"]) * int(fields["rounds"])
        label += f" ({fields['paths']} paths x {fields['rounds']})"
        per = f"{total/n:,.0f} / {driver/n:,.0f}"
    lines.append(f"| {label} | {total:,} | {driver:,} | {per} |")

batch = open(os.path.join(out, "batch-seconds.txt")).read().strip()
lines.append("")
lines.append(f"`boardinv devpath` converting 100,000 lines from standard input: {batch} s (best of 5).")

sections = re.findall(r"Name: (\S+).*?VirtualSize: (0x[0-9A-F]+).*?RawDataSize: (\d+)",
                      open(os.path.join(out, "efi-sections.txt")).read(), re.S)
size = os.path.getsize("build/efi/BoardInventory.efi")
lines.append("")
lines.append(f"`BoardInventory.efi`: {size:,} bytes.")
lines.append("")
lines.append("| Section | Size in memory | Size in file |")
lines.append("|---|---|---|")
for name, virtual, raw in sections:
    lines.append(f"| `{name}` | {int(virtual, 16):,} | {int(raw):,} |")

summary = "\n".join(lines) + "\n"
open(os.path.join(out, "summary.md"), "w").write(summary)
print(summary)
EOF
