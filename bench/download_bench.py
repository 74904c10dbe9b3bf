#!/usr/bin/env python3
"""Times the program's own package transfer (WinHTTP under Wine) against curl on the same
loopback server and file.

  bench/download_bench.py [--build build/win64] [--size-mb 200] [--runs 3] [--work DIR]

Writes a file of --size-mb MB of random bytes, serves it with the tests' server
(tests/e2e/server.py, normal mode: Content-Length, ETag), and downloads it --runs times with each
tool in turn: curl (to a file), then the build's download_bench.exe (the transfer of the real
program, TransferPackage, run by wine64 in the build's own prefix), then the build's
socket_bench.exe twice: a plain Winsock GET received 8 KiB at a time (as Wine's WinHTTP receives,
whatever it is asked for: the most the program can reach here) and 1 MiB at a time (what the
connection itself can do under Wine). Every copy is compared with the original. Prints each time,
the median of each, and each one's speed as a share of curl's.
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
    benches = os.path.join(harness.BUILD_DIR, "tests", "install")
    work = options.work or tempfile.mkdtemp(prefix="qv-download-bench-")
    site = os.path.join(work, "site")
    os.makedirs(site, exist_ok=True)
    original = os.path.join(site, "package.bin")
    with open(original, "wb") as file:
        for _ in range(options.size_mb):
            file.write(os.urandom(1 << 20))
    url = f"http://127.0.0.1:{options.port}/package.bin"
    received = os.path.join(work, "received.bin")
    windows_received = "Z:" + received.replace("/", "\\")

    def under_wine(program, *arguments):
        done = subprocess.run([harness.WINE_ENV, "run", harness.BUILD_DIR, os.path.join(benches, program), *arguments],
                              capture_output=True, text=True, check=True)
        return int(re.search(r"in (\d+) ms", done.stdout).group(1)) / 1000

    def with_curl():
        started = time.monotonic()
        subprocess.run(["curl", "-s", "-o", received, url], check=True)
        return time.monotonic() - started

    tools = {
        "curl": with_curl,
        "program": lambda: under_wine("download_bench.exe", url, windows_received),
        "winsock 8 KiB": lambda: under_wine("socket_bench.exe", str(options.port), "/package.bin",
                                            windows_received, "8192"),
        "winsock 1 MiB": lambda: under_wine("socket_bench.exe", str(options.port), "/package.bin",
                                            windows_received, str(1 << 20)),
    }
    times = {tool: [] for tool in tools}
    subprocess.run([harness.WINE_ENV, "start", harness.BUILD_DIR], check=True)
    try:
        with PackageServer(site, options.port):
            for run in range(options.runs):
                for tool, fetch in tools.items():
                    if os.path.exists(received):
                        os.unlink(received)
                    took = fetch()
                    if not filecmp.cmp(original, received, shallow=False):
                        raise SystemExit(f"{tool}: the copy differs from the original")
                    times[tool].append(took)
                    print(f"run {run + 1}: {tool:14s} {took:6.2f} s  {options.size_mb / took:7.1f} MB/s", flush=True)
    finally:
        subprocess.run([harness.WINE_ENV, "stop", harness.BUILD_DIR], check=False)
        if not options.work:
            shutil.rmtree(work, ignore_errors=True)
    curl = statistics.median(times["curl"])
    for tool, taken in times.items():
        median = statistics.median(taken)
        print(f"median: {tool:14s} {median:.2f} s ({options.size_mb / median:4.0f} MB/s): {curl / median:.2f} of curl's speed")


if __name__ == "__main__":
    main()
