"""Test setup packages, written with Python's zipfile (an archive writer independent of ours).

A package holds the stand-in programs built for Windows (tests/standins) under the names the
installer looks for, and their configuration "standin.cfg" (see standin.cpp): where they record
how they were started, how long each waits, which file one of them keeps open.
"""

import os
import random
import zipfile


def windows_path(linux_path):
    """The path under Wine's drive Z:, which maps the Linux root."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


class StandinPackage:
    """Describes one package; write() makes the ZIP file."""

    def __init__(self, standin_dir, record_file):
        self.standin_dir = standin_dir
        self.record_file = record_file
        self.programs = {"vcredist.exe": "vcredist.exe", "Installer.exe": "Installer.exe"}
        self.settings = {}
        self.extra_entries = []  # (name, bytes or None for a folder entry)

    def without(self, name):
        self.programs.pop(name, None)
        return self

    def with_program(self, name):
        self.programs[name] = name
        return self

    def wait(self, role, milliseconds):
        self.settings[f"{role}.wait_ms"] = str(milliseconds)
        return self

    def exits(self, role, code):
        self.settings[f"{role}.exit"] = str(code)
        return self

    def hold_open(self, role, file_name, milliseconds):
        self.settings[f"{role}.hold"] = file_name
        self.settings[f"{role}.hold_ms"] = str(milliseconds)
        return self

    def with_payload(self, name, size, seed=1):
        """An incompressible file, to make the package big enough to watch its progress."""
        source = random.Random(seed)
        piece = 1 << 24  # randbytes takes at most 256 MiB at once
        self.extra_entries.append((name, b"".join(source.randbytes(min(piece, size - at))
                                                  for at in range(0, size, piece))))
        return self

    def with_entries(self, count, prefix="data/"):
        """Many small files in one folder, so the extraction takes visible steps."""
        self.extra_entries.append((prefix, None))
        for i in range(count):
            self.extra_entries.append((f"{prefix}file{i:04d}.txt", (f"entry {i}\n" * 40).encode()))
        return self

    def configuration(self):
        lines = [f"log={windows_path(self.record_file)}"]
        lines += [f"{key}={value}" for key, value in sorted(self.settings.items())]
        return "\r\n".join(lines) + "\r\n"

    def write(self, path):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("standin.cfg", self.configuration())
            for name, source in self.programs.items():
                archive.write(os.path.join(self.standin_dir, source), name)
            for name, data in self.extra_entries:
                if data is None:
                    archive.writestr(zipfile.ZipInfo(name), b"")
                else:
                    archive.writestr(name, data, compress_type=zipfile.ZIP_STORED)
        return sign_package(path)


def write_empty_package(path):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with zipfile.ZipFile(path, "w"):
        pass
    return sign_package(path)


def write_corrupt_package(path, size=4096):
    """Bytes that are no ZIP archive, closed by the end record of an empty directory and signed:
    the vendor's key vouches for them, so they reach the reader, which finds no entries."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as file:
        file.write(random.Random(7).randbytes(size) + EMPTY_END_RECORD)
    return sign_package(path)


def read_records(record_file):
    """The stand-ins' records: a list of dicts with kind, role, time and, for a start, cwd and
    command_line (exactly as GetCommandLineW gave it)."""
    records = []
    if not os.path.exists(record_file):
        return records
    with open(record_file, encoding="utf-8") as file:
        for line in file.read().split("\n"):
            if not line:
                continue
            fields = line.split("\t")
            record = {"kind": fields[0], "role": fields[1], "time": int(fields[2])}
            if fields[0] == "start":
                record["cwd"] = fields[3]
                record["command_line"] = fields[4] if len(fields) > 4 else ""
            records.append(record)
    return records


# --- package signatures -----------------------------------------------------------------------
# The test program carries the public halves of the build's throwaway keys "current" and "next";
# "unknown" is a key it does not know (tests/CMakeLists.txt makes all three at configure time).

SIGN_PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign-package")
# The end record of an archive without entries and without comment (APPNOTE 4.3.16).
EMPTY_END_RECORD = b"PK\x05\x06" + bytes(18)


def signing_key(name="current"):
    """The private key |name| of the build's throwaway keys."""
    import harness  # the build folder; imported here, as harness does not need this module
    return os.path.join(harness.BUILD_DIR, "signing", name, "package-key.pem")


def product_version():
    """The product version the build wrote into common/version.h: the oldest package version the
    test program accepts."""
    import harness
    import re
    with open(os.path.join(harness.BUILD_DIR, "generated", "common", "version.h")) as file:
        return re.search(r'#define QV_PRODUCT_VERSION_TEXT "([^"]+)"', file.read()).group(1)


def sign_package(path, key="current", build=None, version=None, signed_at=None):
    """Signs the package in place with scripts/sign-package; returns |path|. The build is the
    address's folder (x86 or x64), else x86, the build Wine's default Windows 7 gets; the version
    is the product version."""
    import subprocess
    if build is None:
        folder = os.path.basename(os.path.dirname(os.path.abspath(path)))
        build = folder if folder in ("x86", "x64") else "x86"
    command = [SIGN_PACKAGE, "--build", build, "--version", version or product_version()]
    if signed_at is not None:
        command += ["--signed-at", str(signed_at)]
    subprocess.run(command + [signing_key(key), path], check=True, stdout=subprocess.DEVNULL)
    return path


def key_id(name="current"):
    """The key id (hexadecimal) the program logs for the build's throwaway key |name|: the first 8
    bytes of SHA-256 over the public point's X and Y."""
    import base64
    import hashlib
    with open(signing_key(name).replace("package-key.pem", "package-key.pub.pem")) as file:
        body = "".join(line for line in file.read().splitlines() if not line.startswith("-----"))
    return hashlib.sha256(base64.b64decode(body)[-64:]).digest()[:8].hex()


def argument_vectors(record_file):
    """[(role, argv)] of every start record: the argument vector each stand-in parsed from its
    command line (CommandLineToArgvW), program name first."""
    vectors = []
    if not os.path.exists(record_file):
        return vectors
    with open(record_file, encoding="utf-8") as file:
        for line in file.read().split("\n"):
            fields = line.split("\t")
            if fields[0] != "start":
                continue
            count, _, encoded = fields[-1].partition(":")
            argv = [bytes.fromhex(part).decode("utf-8") for part in encoded.split(",")] if int(count) else []
            vectors.append((fields[1], argv))
    return vectors
