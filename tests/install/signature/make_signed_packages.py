#!/usr/bin/env python3
"""Packages for the signature check's tests, written by Python's zipfile and signed with
scripts/sign-package:

    make_signed_packages.py SIGNING_DIR OUTDIR

SIGNING_DIR holds the throwaway key pairs current/, next/ and unknown/ (package-key.pem). OUTDIR
receives current.zip, next.zip, unknown.zip (the same package signed with each key, for the 64-bit
build, version 10.22.0.0, at SIGNED_AT), unsigned.zip and commented.zip (an ordinary archive
comment instead of a signature).
"""
import os
import shutil
import subprocess
import sys
import zipfile

# What every package here is signed as; the tests' requirements are set against these.
BUILD, VERSION, SIGNED_AT = "x64", "10.22.0.0", 1765000000

SIGN_PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts", "sign-package")


def write_package(path, comment=b""):
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("Installer.exe", b"MZ" + bytes(range(256)) * 40)
        archive.writestr("data/", b"")
        archive.writestr("data/readme.txt", "the product's files\n" * 50)
        archive.comment = comment


def main(signing_dir, out):
    os.makedirs(out, exist_ok=True)
    unsigned = os.path.join(out, "unsigned.zip")
    write_package(unsigned)
    write_package(os.path.join(out, "commented.zip"), b"an ordinary comment, made by hand")
    for key in ("current", "next", "unknown"):
        signed = os.path.join(out, key + ".zip")
        shutil.copy(unsigned, signed)
        subprocess.run([SIGN_PACKAGE, "--build", BUILD, "--version", VERSION, "--signed-at", str(SIGNED_AT),
                        os.path.join(signing_dir, key, "package-key.pem"), signed],
                       check=True, stdout=subprocess.DEVNULL)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
