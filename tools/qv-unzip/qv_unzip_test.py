#!/usr/bin/env python3
"""qv-unzip as its users meet it: archives written at test time in the shapes real writers and
attackers produce, extracted by qv-unzip and, where they are valid, compared with bsdtar's
extraction of the same archive.

  qv_unzip_test.py QV_UNZIP
"""
import io
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


def record_zip(entries, comment=b""):
    """An archive built record by record. Each entry: name, data (stored), and optionally
    cextra/lextra (extra fields), flags, csize/size/offset (the 32-bit fields as written) and
    at (where the central record points, when not at the entry's own header)."""
    body, directory = b"", b""
    for e in entries:
        data, name = e["data"], e["name"]
        csize, size = e.get("csize", len(data)), e.get("size", len(data))
        at = e.get("at", len(body))
        lextra, cextra, flags = e.get("lextra", b""), e.get("cextra", b""), e.get("flags", 0)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, 0, 0, 0, zlib.crc32(data), e.get("lcsize", csize),
                            e.get("lsize", size), len(name), len(lextra)) + name + lextra + data
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x31E, 45, flags, 0, 0, 0, zlib.crc32(data), csize,
                                 size, len(name), len(cextra), 0, 0, 0, 0, e.get("offset", at)) + name + cextra
    return body + directory + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory),
                                          len(body), len(comment)) + comment


def extra(tag, data):
    return struct.pack("<HH", tag, len(data)) + data


def unicode_path(name_field, utf8_name):
    return extra(0x7075, b"\x01" + struct.pack("<I", zlib.crc32(name_field)) + utf8_name.encode())


def zip64_field(*values):
    return extra(0x0001, b"".join(struct.pack("<Q", v) for v in values))


class Unseekable(io.RawIOBase):
    """An output zipfile cannot seek back into: it writes data descriptors after each entry."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        return self.target.write(data)


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

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def source_tree(self, files):
        folder = self.path("tree_%d" % len(os.listdir(self.temp)))
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        return folder

    def test_zip64_and_unicode_path_archives_extract_whole(self):
        files = {"docs/Ölfässer.txt": TEXT, "bin/tool.bin": bytes(range(256)) * 300, "empty.dat": b""}
        folder = self.source_tree(files)

        def python_zip64(target):
            with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
                for name, data in files.items():
                    with z.open(name, "w", force_zip64=True) as f:
                        f.write(data)

        forced = self.path("python_force_zip64.zip")
        python_zip64(forced)
        streamed = self.path("python_streamed_zip64.zip")
        with open(streamed, "wb") as f:
            python_zip64(Unseekable(f))
        infozip = self.path("infozip_fz.zip")
        subprocess.run(["zip", "-qrfz", infozip, "."], cwd=folder, check=True)
        infozip_streamed = self.path("infozip_fz_streamed.zip")
        with open(infozip_streamed, "wb") as f:
            subprocess.run(["zip", "-qrfz", "-", "."], cwd=folder, check=True, stdout=f)
        many = {"f%05d" % i: b"%d" % i for i in range(70_000)}
        many_zip = self.path("7z_70000.zip")
        subprocess.run(["7z", "a", "-bd", "-tzip", many_zip, "."], cwd=self.source_tree(many), check=True,
                       stdout=subprocess.DEVNULL)
        inner = record_zip([{"name": b"inner.txt", "data": b"the archive in the comment"}])
        outer = self.path("archive_in_comment.zip")
        with zipfile.ZipFile(outer, "w") as z:
            for name, data in files.items():
                z.writestr(name, data)
            z.comment = inner
        # As WinZip and 7-Zip write non-ASCII names: CP437 bytes, no UTF-8 flag, the real name in
        # a Unicode Path field. A field whose CRC-32 no longer matches (the entry was renamed by a
        # writer that did not know it) is ignored.
        cp437 = "Ölfässer.txt".encode("cp437")
        unicode_names = self.write("unicode_path.zip", record_zip([
            {"name": cp437, "data": TEXT, "cextra": unicode_path(cp437, "Ölfässer.txt")},
            {"name": "数据/说明.txt".encode("gbk"), "data": b"gbk",
             "cextra": unicode_path("数据/说明.txt".encode("gbk"), "数据/说明.txt")},
            {"name": b"renamed.txt", "data": b"r", "cextra": unicode_path(b"old.txt", "Änderung.txt")},
        ]))
        table = [
            ("Python zipfile, force_zip64", forced, files),
            ("Python zipfile streamed, 8-byte data descriptors", streamed, files),
            ("zip -fz", infozip, files),
            ("zip -fz streamed", infozip_streamed, files),
            ("7z, 70,000 entries", many_zip, many),
            ("a whole archive in the comment", outer, files),
            ("Unicode Path fields", unicode_names, {"Ölfässer.txt": TEXT, "数据/说明.txt": b"gbk", "renamed.txt": b"r"}),
        ]
        for shape, archive, expected in table:
            with self.subTest(shape):
                result, out, log = self.extract(archive)
                self.assertEqual(0, result.returncode, log[-2000:])
                self.assertEqual(expected, {k: v for k, v in tree(out).items() if v is not None})
                self.assertNotIn("Eerror", log)
        listing = run(["-l", unicode_names]).stdout.decode()
        self.assertIn("数据/说明.txt", listing)

    def test_inconsistent_zip64_records_and_unsafe_unicode_names_fail(self):
        subprocess.run(["zip", "-qfz", self.path("fz.zip"), "a.txt"], cwd=self.source_tree({"a.txt": TEXT}), check=True)
        with open(self.path("fz.zip"), "rb") as f:
            fz = f.read()
        eocd = fz.rindex(b"PK\x05\x06")
        no_zip64_end = fz.replace(b"PK\x06\x06", b"PK\x06\x00")
        disagree = fz[:eocd + 12] + struct.pack("<I", struct.unpack_from("<I", fz, eocd + 12)[0] + 1) + fz[eocd + 16:]
        placeholder = 0xFFFFFFFF
        table = [
            ("ZIP64 end record missing", no_zip64_end, "is corrupt: its ZIP64 end record is not where its locator points"),
            ("end records disagree", disagree, "is corrupt: its end record and its ZIP64 end record state different"),
            ("ZIP64 field too short", record_zip([{"name": b"a", "data": b"x", "size": placeholder,
                                                   "cextra": extra(1, b"\0\0\0")}]),
             "is corrupt: a central directory record lacks the ZIP64 size or offset it refers to"),
            ("local ZIP64 sizes disagree", record_zip([{"name": b"a", "data": b"x", "lsize": placeholder,
                                                        "lcsize": placeholder, "lextra": zip64_field(2, 1)}]),
             "Corrupt package x.zip: the ZIP64 sizes in the local header of a disagree with the central directory"),
            ("a terabyte declared in 64 bits", record_zip([{"name": b"a", "data": b"x", "size": placeholder,
                                                             "cextra": zip64_field(1 << 40), "lcsize": placeholder,
                                                             "lextra": zip64_field(1 << 40, 1)}]),
             "Not enough free space to extract x.zip: 1099511627776 bytes needed"),
            ("two 64-bit offsets to one header", record_zip([
                {"name": b"a", "data": b"x"},
                {"name": b"b", "data": b"x", "offset": placeholder, "cextra": zip64_field(0)}]),
             "Corrupt package x.zip: entries share bytes (a and b)"),
            ("Unicode Path name leaving the folder", record_zip([{"name": b"up", "data": b"x",
                                                                   "cextra": unicode_path(b"up", "../escape")}]),
             "Unable to extract ../escape: its name leads out of the extraction folder"),
        ]
        for shape, data, reason in table:
            with self.subTest(shape):
                result, out, log = self.extract(self.write("x.zip", data))
                self.assertEqual(1, result.returncode)
                self.assertIn("Eerror: ", log)
                self.assertIn(reason, log)
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
