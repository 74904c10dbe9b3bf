#!/usr/bin/env python3
"""qv-unzip as its users meet it: archives written at test time in the shapes real writers and
attackers produce, extracted by qv-unzip and, where they are valid, compared with bsdtar's
extraction of the same archive.

  qv_unzip_test.py QV_UNZIP
"""
import os
import random
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

QV_UNZIP = None
TEXT = b"".join(b"line %d of a setup file\n" % i for i in range(2000))


def tree(root):
    files = {}
    for folder, dirs, names in os.walk(root):
        for d in dirs:
            files[os.path.relpath(os.path.join(folder, d), root) + "/"] = None
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                files[os.path.relpath(os.path.join(folder, n), root)] = f.read()
    return files


# A sanitizer build reserves far more address space than any limit worth testing.
ADDRESS_LIMIT_POSSIBLE = os.environ.get("QV_SANITIZED") != "1"


def run(args, limit_bytes=None):
    def limit():
        if limit_bytes and ADDRESS_LIMIT_POSSIBLE:
            resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))
    return subprocess.run([QV_UNZIP] + args, capture_output=True, preexec_fn=limit, timeout=300)


def local(name, payload, method=0, crc=None, size=None, version=20):
    crc = zlib.crc32(payload) if crc is None else crc
    size = len(payload) if size is None else size
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, version, 0, method, 0, 0, crc, len(payload), size, len(name), 0) + name + payload


def central(name, payload, offset, method=0, crc=None, size=None, version=20):
    crc = zlib.crc32(payload) if crc is None else crc
    size = len(payload) if size is None else size
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x31E, version, 0, method, 0, 0, crc, len(payload), size,
                       len(name), 0, 0, 0, 0, 0, offset) + name


def end(directory, offset, count):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(directory), offset, 0)


class QvUnzipTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="qv_unzip_test_")

    def tearDown(self):
        shutil.rmtree(self.temp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.temp, name)

    def extract(self, archive, limit_bytes=None):
        out = self.path("out_" + os.path.basename(archive))
        log = out + ".log"
        result = run(["--log", log, archive, out], limit_bytes)
        with open(log, encoding="utf-8", errors="replace") as f:
            return result, out, f.read()

    def python_zip(self, name, write, comment=b""):
        path = self.path(name)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            write(z)
            z.comment = comment
        return path

    def test_valid_shapes_extract_as_bsdtar_extracts_them(self):
        def host_byte(z):
            for name in ["a.txt", "b.txt", "c.txt"]:
                z.writestr(name, TEXT)

        def folder_by_attribute(z):
            info = zipfile.ZipInfo("Program Files")
            info.create_system = 0  # MS-DOS
            info.external_attr = 0x10
            z.writestr(info, b"")
            z.writestr("Program Files/app.dll", TEXT)

        def plain(z):
            z.writestr("docs/readme.txt", TEXT)
            z.writestr("bin/tool.bin", bytes(range(256)) * 40)

        stub = b"MZ" + bytes(random.Random(1).getrandbits(8) for _ in range(30000))
        unadjusted = self.path("unadjusted.zip")
        with open(unadjusted, "wb") as f, open(self.python_zip("inner.zip", plain), "rb") as inner:
            f.write(stub + inner.read())
        adjusted = self.path("adjusted.zip")
        shutil.copy(unadjusted, adjusted)
        subprocess.run(["zip", "-qA", adjusted], check=True)
        # Writers that put their host system in the high byte of "version needed to extract".
        host = self.python_zip("host.zip", host_byte)
        with open(host, "rb") as f:
            data = bytearray(f.read())
        versions = iter([0x0314, 0x032E, 0x033F] * 2)
        at = 0
        while (at := min((i for i in (data.find(b"PK\x03\x04", at), data.find(b"PK\x01\x02", at)) if i >= 0), default=-1)) >= 0:
            field = at + (4 if data[at + 2] == 3 else 6)
            data[field:field + 2] = struct.pack("<H", next(versions))
            at += 4
        with open(host, "wb") as f:
            f.write(data)
        table = [
            ("version needed with a host byte", host),
            ("folder marked only by its attribute", self.python_zip("attr.zip", folder_by_attribute)),
            ("comment holding the end signature", self.python_zip("comment.zip", plain, b"notes PK\x05\x06 end")),
            ("stub in front, offsets not adjusted", unadjusted),
            ("stub in front, offsets adjusted by zip -A", adjusted),
        ]
        for shape, archive in table:
            with self.subTest(shape):
                result, out, log = self.extract(archive)
                self.assertEqual(0, result.returncode, log)
                reference = self.path("bsdtar_" + os.path.basename(archive))
                os.makedirs(reference)
                subprocess.run(["bsdtar", "-xf", archive, "-C", reference], check=True)
                self.assertEqual(tree(reference), tree(out))
                self.assertNotIn("Eerror", log)

    def test_unsound_packages_fail_with_their_reason(self):
        shared_data = zlib.compressobj(6, zlib.DEFLATED, -15)
        stream = shared_data.compress(b"z" * 10_000_000) + shared_data.flush()
        one = local(b"x", stream, 8, zlib.crc32(b"z" * 10_000_000), 10_000_000)
        records = b"".join(central(b"f%03d" % i, stream, 0, 8, zlib.crc32(b"z" * 10_000_000), 10_000_000) for i in range(200))
        overlapping = self.path("overlapping.zip")
        with open(overlapping, "wb") as f:
            f.write(one + records + end(records, len(one), 200))
        text = self.path("text.zip")
        with open(text, "wb") as f:
            f.write(TEXT)
        cut = self.path("cut.zip")
        with open(self.python_zip("whole.zip", lambda z: z.writestr("a.txt", TEXT * 10)), "rb") as f:
            whole = f.read()
        with open(cut, "wb") as f:
            f.write(whole[:len(whole) // 2])
        encrypted = self.path("encrypted.zip")
        source = self.path("src")
        os.makedirs(source)
        with open(os.path.join(source, "secret.txt"), "wb") as f:
            f.write(TEXT)
        subprocess.run(["zip", "-qP", "pw", encrypted, "secret.txt"], cwd=source, check=True)
        table = [
            ("entries sharing one stream", overlapping, "Corrupt package overlapping.zip: entries share bytes (f000 and f001)"),
            ("not an archive", text, "text.zip is not a ZIP archive"),
            ("cut short", cut, "cut.zip ends before its central directory"),
            ("encrypted entry", encrypted, "Unable to extract secret.txt: it is encrypted"),
        ]
        for shape, archive, reason in table:
            with self.subTest(shape):
                result, out, log = self.extract(archive)
                self.assertNotEqual(0, result.returncode)
                self.assertIn("Eerror: " + reason, log)
                self.assertEqual({}, tree(out) if os.path.isdir(out) else {})

    def test_listing_escapes_control_characters(self):
        archive = self.python_zip("names.zip", lambda z: (z.writestr("esc\x1b[31mred", b"1"), z.writestr("two\nlines", b"2")))
        listing = run(["-l", archive]).stdout
        self.assertIn(b"esc\\x1B[31mred", listing)
        self.assertIn(b"two\\x0Alines", listing)
        self.assertNotIn(b"\x1b", listing)

    def test_bzip2_under_a_memory_limit_and_with_false_block_markers(self):
        rng = random.Random(5)
        text = bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz \n") for _ in range(3_000_000))
        multi = self.path("bzip2.zip")
        with zipfile.ZipFile(multi, "w", zipfile.ZIP_BZIP2) as z:
            z.writestr("text.txt", text)
            z.writestr("zeros.bin", b"\0" * 150_000_000)  # one block decodes to tens of MB
        result, out, log = self.extract(multi, limit_bytes=250_000_000)
        self.assertEqual(0, result.returncode, log + result.stderr.decode(errors="replace"))
        with open(os.path.join(out, "text.txt"), "rb") as f:
            self.assertEqual(text, f.read())
        self.assertEqual(150_000_000, os.path.getsize(os.path.join(out, "zeros.bin")))

        payload = b"BZh9" + b"\x31\x41\x59\x26\x53\x59" * 400_000
        markers = self.path("markers.zip")
        directory = central(b"m", payload, 0, 12, 0, 5_000_000, 46)
        with open(markers, "wb") as f:
            body = local(b"m", payload, 12, 0, 5_000_000, 46)
            f.write(body + directory + end(directory, len(body), 1))
        result, out, log = self.extract(markers, limit_bytes=250_000_000)
        self.assertEqual(1, result.returncode, "a clean failure, not a signal")
        self.assertIn("Eerror: Corrupt entry m: size 5000000 expected, 0 found", log)


if __name__ == "__main__":
    QV_UNZIP = os.path.abspath(sys.argv.pop(1))
    unittest.main()
