#!/usr/bin/env python3
"""Times qv-unzip against unzip, 7z x and bsdtar -xf on the same packages.

  bench/bench.py [--runs N] [--size-mb MB] [--work DIR] [--qv-unzip PATH] [--methods stored,deflate,...]

Builds a source tree of realistic mixed content (programs and libraries, headers and other text,
a few already-compressed files) of about --size-mb MB from the machine's own files, packs it
once per method with 7z -tzip, then extracts every package with every tool --runs times into a
fresh folder (removed and synced between runs, outside the timing), the tools taking turns
round by round. Prints median wall-clock and CPU seconds, the ratio of each tool to the fastest
peer, and peak memory (maximum resident set size from /usr/bin/time -v). The machine's load
average before each round is printed too: other work on the machine distorts wall-clock times.
Extra packages: deflate packages of 5000, 20000 and 100000 small files (does qv-unzip's memory
grow with the number of entries?), one bzip2 entry of many blocks (one large file), and a
hostile bzip2 entry made of false block markers (how fast is it refused?; every tool is expected
to fail on it, and its time is what counts), and 24 bzip2 entries of about 5 MB each, a quarter
of them random bytes and the rest text (do both cores keep decoding across entries?).
With --large also two ZIP64 packages, extracted once by qv-unzip alone (its exit code says that
every entry matched its CRC-32): one entry of 4.5 GiB of zeros, deflated by a streaming writer
(Python's zipfile), and 1,000,000 one-byte entries (does memory stay flat?).
"""
import argparse
import os
import platform
import random
import re
import shutil
import statistics
import struct
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

METHODS = {"stored": "Copy", "deflate": "Deflate", "bzip2": "BZip2", "lzma": "LZMA"}
SOURCES = ["/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/include", "/usr/share/doc", "/usr/share/perl",
           "/usr/lib/python3", "/usr/share/locale"]


def tools(qv_unzip):
    return {
        "qv-unzip": lambda pkg, out: [qv_unzip, pkg, out],
        "unzip": lambda pkg, out: ["unzip", "-qq", "-o", pkg, "-d", out],
        "7z x": lambda pkg, out: ["7z", "x", "-y", "-bd", "-bso0", "-o" + out, pkg],
        "bsdtar -xf": lambda pkg, out: ["bsdtar", "-xf", pkg, "-C", out],
    }


def fresh_source_folder(dest):
    """Empties dest for a new source set; False when a finished set is already there."""
    if os.path.isfile(os.path.join(dest, ".complete")):
        return False
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    return True


def mark_complete(dest):
    open(os.path.join(dest, ".complete"), "w").close()


def gather_sources(dest, size_mb):
    """Copies regular files from the machine into dest until about size_mb MB (each below 24 MB)."""
    if not fresh_source_folder(dest):
        return
    budget = size_mb * 1_000_000
    # Interleave the source folders so that the mix holds binaries and text alike.
    walkers = [sorted_files(top) for top in SOURCES if os.path.isdir(top)]
    total = 0
    while walkers and total < budget:
        for walker in list(walkers):
            path = next(walker, None)
            if path is None:
                walkers.remove(walker)
                continue
            size = os.path.getsize(path)
            if size == 0 or size > 24_000_000 or total + size > budget:
                continue
            target = os.path.join(dest, path.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            total += size
    mark_complete(dest)


def sorted_files(top):
    for root, dirs, files in os.walk(top):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            if os.path.isfile(path) and not os.path.islink(path):
                yield path


def small_files(dest, count):
    if not fresh_source_folder(dest):
        return
    for i in range(count):
        folder = os.path.join(dest, "d%03d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
            f.write(("entry %d of many small files\n" % i) * (20 + i % 50))
    mark_complete(dest)


def many_block_source(dest, size_mb):
    """One large text file (the source tree's text files, concatenated) for a bzip2 entry of many blocks."""
    if not fresh_source_folder(dest):
        return
    budget = size_mb * 1_000_000
    written = 0
    with open(os.path.join(dest, "large.txt"), "wb") as out:
        for top in ("/usr/include", "/usr/share/perl", "/usr/lib/python3"):
            for path in sorted_files(top):
                if written >= budget:
                    break
                with open(path, "rb") as f:
                    data = f.read(budget - written)
                out.write(data)
                written += len(data)
    mark_complete(dest)


def mixed_bzip2_entries(dest, count=24, size=5_000_000):
    """count files of about size bytes: every fourth one random bytes, the others text."""
    if not fresh_source_folder(dest):
        return
    rng = random.Random(24)
    text = bytearray()
    for path in sorted_files("/usr/include"):
        if len(text) >= size * count:
            break
        with open(path, "rb") as f:
            text += f.read()
    for i in range(count):
        data = rng.randbytes(size) if i % 4 == 0 else bytes(text[(i * size) % len(text):][:size])
        with open(os.path.join(dest, "entry_%02d.bin" % i), "wb") as f:
            f.write(data)
    mark_complete(dest)


def zip64_zeros_package(package, size=9 << 29):
    """One entry of |size| zero bytes, deflated and written as a stream (ZIP64, a few MB)."""
    if os.path.isfile(package):
        return
    block = bytes(1 << 20)
    with zipfile.ZipFile(package + ".tmp", "w", zipfile.ZIP_DEFLATED) as z, z.open("zeros.bin", "w", force_zip64=True) as f:
        for _ in range(size // len(block)):
            f.write(block)
    os.rename(package + ".tmp", package)


def million_entries_package(package, count=1_000_000):
    """count stored one-byte entries in 1000 folders: a ZIP64 end record for the count."""
    if os.path.isfile(package):
        return
    with zipfile.ZipFile(package + ".tmp", "w", zipfile.ZIP_STORED) as z:
        for i in range(count):
            z.writestr("d%03d/f%07d" % (i % 1000, i), b"%d" % (i % 10))
    os.rename(package + ".tmp", package)


def false_marker_package(package, size_mb=3):
    """One bzip2 entry of a stream header and nothing but block magics: every one is a false
    boundary. A decoder that retries each one costs minutes; a bounded one refuses it at once."""
    if os.path.isfile(package):
        return
    payload = b"BZh9" + b"\x31\x41\x59\x26\x53\x59" * (size_mb * 1_000_000 // 6)
    name = b"markers.bin"
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 46, 0, 12, 0, 0, 0, len(payload), 50_000_000, len(name), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x31E, 46, 0, 12, 0, 0, 0, len(payload), 50_000_000,
                          len(name), 0, 0, 0, 0, 0, 0) + name
    body = local + name + payload
    with open(package, "wb") as f:
        f.write(body + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(body), 0))


def pack(src, package, method):
    if os.path.isfile(package):
        return
    tmp = package + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0", "-mm=" + METHODS[method], "-mmt=2", "-x!.complete", tmp, "."],
                   cwd=src, check=True)
    os.rename(tmp, package)


def timed_run(command):
    """Wall-clock seconds, CPU seconds (user + system) and peak resident memory (KiB) of one run."""
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start

    def field(name):
        found = re.search(name + r": ([\d.]+)", result.stderr)
        return float(found.group(1)) if found else 0.0

    cpu = field(r"User time \(seconds\)") + field(r"System time \(seconds\)")
    return result.returncode, elapsed, cpu, int(field(r"Maximum resident set size \(kbytes\)"))


def measure_round(package, tool_commands, out_root, samples, expect_failure=False):
    """One run of every tool on |package|, one after the other, so that any load from elsewhere
    on the machine falls on all tools alike over the rounds."""
    for tool, command_of in tool_commands.items():
        if samples.get(tool) is None and tool in samples:
            continue  # failed before: unsupported
        out = os.path.join(out_root, "out")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        subprocess.run(["sync"])
        code, elapsed, cpu, peak = timed_run(command_of(package, out))
        if code != 0 and not expect_failure:
            samples[tool] = None
            continue
        samples.setdefault(tool, []).append((elapsed, cpu, peak))
    shutil.rmtree(os.path.join(out_root, "out"), ignore_errors=True)


def ratio(value, peers):
    """value over the least of peers; tools that fail at once can take no measurable time."""
    least = min(peers, default=0)
    return "%.2f" % (value / least) if least > 0 else "n/a"


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def machine():
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    return "%s, %d cores, %.0f GiB RAM, %s %s" % (model, os.cpu_count(), mem_kb / 1048576, platform.system(), platform.release())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size-mb", type=int, default=300)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--qv-unzip", default=os.path.join(ROOT, "build", "host", "tools", "qv-unzip", "qv-unzip"))
    parser.add_argument("--methods", default="stored,deflate,bzip2,lzma")
    parser.add_argument("--only", default="", help="time only packages whose label holds one of these comma-separated texts "
                        "(a text cannot hold a comma: \"one-byte\" picks the 1,000,000 entries)")
    parser.add_argument("--prepare-only", action="store_true", help="make the packages, time nothing")
    parser.add_argument("--large", action="store_true", help="also the 4.5 GiB entry and the 1,000,000 entries (qv-unzip once)")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    src = os.path.join(args.work, "src")
    gather_sources(src, args.size_mb)
    count = sum(len(files) for _, _, files in os.walk(src)) - 1
    size = sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(src) for f in fs)
    print("# machine: %s" % machine())
    print("# source tree: %d files, %.1f MB; %d runs per tool, median seconds" % (count, size / 1e6, args.runs))
    packages = []
    for method in args.methods.split(","):
        package = os.path.join(args.work, "mixed_%s.zip" % method)
        pack(src, package, method)
        packages.append(("mixed " + method, package))
    for count in (5000, 20000, 100000):
        folder = os.path.join(args.work, "small_%d" % count)
        small_files(folder, count)
        package = os.path.join(args.work, "small_%d_deflate.zip" % count)
        pack(folder, package, "deflate")
        packages.append(("%d small files, deflate" % count, package))
    folder = os.path.join(args.work, "many_blocks")
    many_block_source(folder, args.size_mb // 3)
    package = os.path.join(args.work, "one_file_bzip2.zip")
    pack(folder, package, "bzip2")
    packages.append(("one %d MB file, bzip2 (many blocks)" % (args.size_mb // 3), package))
    package = os.path.join(args.work, "false_markers_bzip2.zip")
    false_marker_package(package)
    packages.append(("false bzip2 block markers (hostile; failure expected)", package))
    folder = os.path.join(args.work, "mixed_bzip2_entries")
    mixed_bzip2_entries(folder)
    package = os.path.join(args.work, "24_entries_bzip2.zip")
    pack(folder, package, "bzip2")
    packages.append(("24 entries of 5 MB, a quarter random, bzip2", package))
    if args.large:
        package = os.path.join(args.work, "zip64_zeros_4.5GiB.zip")
        zip64_zeros_package(package)
        packages.append(("large: one 4.5 GiB entry of zeros, ZIP64 deflate", package))
        package = os.path.join(args.work, "zip64_1000000_entries.zip")
        million_entries_package(package)
        packages.append(("large: 1,000,000 one-byte entries, ZIP64", package))

    if args.prepare_only:
        return
    print("| package | size MB | tool | median wall s | wall runs s | wall ratio to fastest peer | median CPU s "
          "| CPU ratio to least peer | peak RSS MB |")
    print("|---|---|---|---|---|---|---|---|---|")
    for label, package in packages:
        if args.only and not any(part in label for part in args.only.split(",")):
            continue
        samples = {}
        loads = []
        large = label.startswith("large")
        commands = {"qv-unzip": tools(args.qv_unzip)["qv-unzip"]} if large else tools(args.qv_unzip)
        for _ in range(1 if large else args.runs):
            loads.append(load_average())
            measure_round(package, commands, args.work, samples, expect_failure="hostile" in label)
        medians = {t: (statistics.median(r[0] for r in s), statistics.median(r[1] for r in s)) for t, s in samples.items() if s}
        peer_wall = [m[0] for t, m in medians.items() if t != "qv-unzip"]
        peer_cpu = [m[1] for t, m in medians.items() if t != "qv-unzip"]
        size_mb = os.path.getsize(package) / 1e6
        for tool in commands:
            runs = samples.get(tool)
            if not runs:
                print("| %s | %.0f | %s | failed/unsupported | | | | | |" % (label, size_mb, tool))
                continue
            wall, cpu = medians[tool]
            print("| %s | %.0f | %s | %.3f | %s | %s | %.2f | %s | %.1f |" % (
                label, size_mb, tool, wall, " ".join("%.2f" % r[0] for r in runs), ratio(wall, peer_wall), cpu,
                ratio(cpu, peer_cpu), max(r[2] for r in runs) / 1024))
        print("| %s: load average before each round: %s |||||||||" % (label, " ".join("%.1f" % l for l in loads)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
