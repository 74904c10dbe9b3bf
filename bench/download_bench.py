#!/usr/bin/env python3
"""Times the program's own package transfer (WinHTTP under Wine) against curl on the same
loopback server and file.

  bench/download_bench.py [--build build/win64] [--size-mb 200] [--runs 3] [--work DIR]

Writes a file of --size-mb MB of random bytes, serves it with the tests' server
(tests/e2e/server.py, normal mode: Content-Length, ETag), and downloads it --runs times with each
tool in turn: curl (to a file), then the build's download_bench.exe (the transfer of the real
program, TransferPackage, run by wine64 in the build's own prefix). Every copy is compared with
the original. Prints each time, the median of each, and the program's speed as a share of curl's.
"""
import argparse
import filecmp
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "win64"))
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--port", type=int, default=18901)
    parser.add_argument("--work", default=None)
    return parser.parse_args()


def main():
    options = arguments()
    os.environ["QV_BUILD_DIR"] = os.path.abspath(options.build)
    import harness  # noqa: E402  (reads QV_BUILD_DIR)
    from server import PackageServer  # noqa: E402
    program = os.path.join(harness.BUILD_DIR, "tests", "install", "download_bench.exe")
    work = options.work or tempfile.mkdtemp(prefix="qv-download-bench-")
    site = os.path.join(work, "site")
    os.makedirs(site, exist_ok=True)
    original = os.path.join(site, "package.bin")
    with open(original, "wb") as file:
        for _ in range(options.size_mb):
            file.write(os.urandom(1 << 20))
    url = f"http://127.0.0.1:{options.port}/package.bin"
    received = os.path.join(work, "received.bin")
    times = {"curl": [], "program": []}
    subprocess.run([harness.WINE_ENV, "start", harness.BUILD_DIR], check=True)
    try:
        with PackageServer(site, options.port):
            for run in range(options.runs):
                for tool in ("curl", "program"):
                    if os.path.exists(received):
                        os.unlink(received)
                    started = time.monotonic()
                    if tool == "curl":
                        subprocess.run(["curl", "-s", "-o", received, url], check=True)
                        took = time.monotonic() - started
                    else:
                        done = subprocess.run([harness.WINE_ENV, "run", harness.BUILD_DIR, program, url,
                                               "Z:" + received.replace("/", "\\")],
                                              capture_output=True, text=True, check=True)
                        took = int(re.search(r"in (\d+) ms", done.stdout).group(1)) / 1000
                    if not filecmp.cmp(original, received, shallow=False):
                        raise SystemExit(f"{tool}: the copy differs from the original")
                    times[tool].append(took)
                    print(f"run {run + 1}: {tool:8s} {took:6.2f} s  {options.size_mb / took:7.1f} MB/s", flush=True)
    finally:
        subprocess.run([harness.WINE_ENV, "stop", harness.BUILD_DIR], check=False)
        if not options.work:
            shutil.rmtree(work, ignore_errors=True)
    curl, ours = statistics.median(times["curl"]), statistics.median(times["program"])
    print(f"median: curl {curl:.2f} s ({options.size_mb / curl:.0f} MB/s), program {ours:.2f} s "
          f"({options.size_mb / ours:.0f} MB/s): {curl / ours:.2f} of curl's speed")


if __name__ == "__main__":
    main()
