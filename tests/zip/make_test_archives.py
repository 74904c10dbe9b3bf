#!/usr/bin/env python3
"""Writes the test archives of independent ZIP writers into OUTDIR.

OUTDIR/src holds the source files (text, binary noise, an empty file, nested folders);
every archive holds all of them. OUTDIR/archives.txt lists one archive per line:
name, tab, password ("-" for none), tab, archive comment ("-" for none).
Writers: Python's zipfile (stored, deflate, bzip2, LZMA with end marker), Info-ZIP zip
(deflate, -P traditional encryption, -z comment, -D without folder entries) and 7z -tzip
(LZMA without end marker, bzip2 with 900k blocks whose first block is far above 32 KiB).
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

out = os.path.abspath(sys.argv[1])
src = os.path.join(out, "src")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(os.path.join(src, "docs", "deep", "er"))
os.makedirs(os.path.join(src, "bin"))

rng = random.Random(20261208)
files = {
    "readme.txt": "".join(f"line {i}: setup notes for the product\n" for i in range(4000)).encode(),
    "empty.dat": b"",
    # Random over 20 symbols: compresses to about half, so one 900k bzip2 block is ~500 KiB.
    "bin/symbols.bin": bytes(rng.choice(b"abcdefghijklmnopqr \n") for _ in range(1_100_000)),
    "bin/noise.bin": bytes(rng.getrandbits(8) for _ in range(40_000)),
    "bin/small.bin": bytes(range(256)) * 3,
    "docs/manual.html": ("<p>" + "Install, configure, run. " * 3000 + "</p>\n").encode(),
    "docs/deep/er/nested.cfg": b"key=value\n" * 50,
    "docs/one.txt": b"1",
}
for name, data in files.items():
    with open(os.path.join(src, name), "wb") as f:
        f.write(data)

manifest = []


def python_zip(name, method):
    with zipfile.ZipFile(os.path.join(out, name), "w", method) as z:
        for root, dirs, names in sorted(os.walk(src)):
            rel = os.path.relpath(root, src)
            if rel != ".":
                z.write(root, rel + "/")
            for n in sorted(names):
                z.write(os.path.join(root, n), os.path.normpath(os.path.join(rel, n)).replace(os.sep, "/"))
    manifest.append((name, "-", "-"))


def tool(args, name, password="-", comment="-", stdin=None):
    subprocess.run(args, cwd=src, check=True, input=stdin, stdout=subprocess.DEVNULL)
    manifest.append((name, password, comment))


python_zip("python_stored.zip", zipfile.ZIP_STORED)
python_zip("python_deflate.zip", zipfile.ZIP_DEFLATED)
python_zip("python_bzip2.zip", zipfile.ZIP_BZIP2)
python_zip("python_lzma_end_marker.zip", zipfile.ZIP_LZMA)
tool(["zip", "-qr", "../infozip_deflate.zip", "."], "infozip_deflate.zip")
tool(["zip", "-qrD", "../infozip_no_folders.zip", "."], "infozip_no_folders.zip")
tool(["zip", "-qr", "-P", "secret", "../infozip_encrypted.zip", "."], "infozip_encrypted.zip", password="secret")
tool(["zip", "-qr", "-z", "../infozip_comment.zip", "."], "infozip_comment.zip",
     comment="QuorVel package comment", stdin=b"QuorVel package comment\n.\n")
tool(["7z", "a", "-bd", "-tzip", "-mm=LZMA:eos=off", "../7z_lzma_no_end_marker.zip", "."], "7z_lzma_no_end_marker.zip")
tool(["7z", "a", "-bd", "-tzip", "-mm=BZip2", "-mx9", "../7z_bzip2_900k.zip", "."], "7z_bzip2_900k.zip")

with open(os.path.join(out, "archives.txt"), "w") as f:
    for row in manifest:
        f.write("\t".join(row) + "\n")
