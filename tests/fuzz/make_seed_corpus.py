#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus into OUTDIR: small archives of every method and writer the
tests use, and hand-built shapes that no writer makes (each file named after what it breaks)."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

out = os.path.abspath(sys.argv[1])
shutil.rmtree(out, ignore_errors=True)
os.makedirs(out)
text = b"".join(b"line %d of a small setup file\n" % i for i in range(300))
binary = bytes((i * 131 + 7) % 256 for i in range(3000))


def put(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


for label, method in [("stored", zipfile.ZIP_STORED), ("deflate", zipfile.ZIP_DEFLATED),
                      ("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA)]:
    path = os.path.join(out, "python_%s.zip" % label)
    with zipfile.ZipFile(path, "w", method) as z:
        z.writestr("dir/", b"")
        z.writestr("dir/text.txt", text)
        z.writestr("binary.bin", binary)
        z.writestr("empty.txt", b"")

# Several bzip2 blocks (level 1: 100 kB each), so that block cutting and retries are reached.
lines = b"".join(b"%d: %s\n" % (i, bytes((i * 7 + j) % 26 + 97 for j in range(40))) for i in range(6000))
with zipfile.ZipFile(os.path.join(out, "python_bzip2_multi_block.zip"), "w", zipfile.ZIP_BZIP2, compresslevel=1) as z:
    z.writestr("blocks.txt", lines)
    z.writestr("small.txt", text)

with tempfile.TemporaryDirectory() as src:
    os.makedirs(os.path.join(src, "sub"))
    for name, data in [("a.txt", text), ("sub/b.bin", binary)]:
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    for name, args in [("infozip_encrypted.zip", ["zip", "-qr", "-P", "fuzz"]),
                       ("infozip_no_folders.zip", ["zip", "-qrD"]),
                       ("7z_lzma.zip", ["7z", "a", "-bd", "-tzip", "-mm=LZMA:eos=off"]),
                       ("7z_bzip2.zip", ["7z", "a", "-bd", "-tzip", "-mm=BZip2"])]:
        subprocess.run(args + [os.path.join(out, name), "."], cwd=src, check=True, stdout=subprocess.DEVNULL)
    # Written to a pipe, Info-ZIP puts sizes and CRC in data descriptors after each entry.
    with open(os.path.join(out, "infozip_data_descriptors.zip"), "wb") as f:
        subprocess.run(["zip", "-q", "-r", "-", "."], cwd=src, check=True, stdout=f)


def local(name, payload, method=0, flags=0, version=20, crc=None, size=None, extra=b""):
    crc = zlib.crc32(payload) if crc is None else crc
    size = len(payload) if size is None else size
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, version, flags, method, 0, 0, crc, len(payload), size,
                       len(name), len(extra)) + name + extra + payload


def central(name, payload, offset, method=0, flags=0, version=20, crc=None, size=None, extra=b"", attrs=0, comment=b"",
            made_by=0x31E):
    crc = zlib.crc32(payload) if crc is None else crc
    size = len(payload) if size is None else size
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, made_by, version, flags, method, 0, 0, crc, len(payload), size,
                       len(name), len(extra), len(comment), 0, 0, attrs, offset) + name + extra + comment


def archive(entries, comment=b"", count=None):
    body, directory = b"", b""
    for e in entries:
        lx = e.pop("local_extra", b"")
        directory += central(offset=len(body), **e)
        e.pop("attrs", None), e.pop("comment", None), e.pop("made_by", None)
        e["extra"] = lx
        body += local(**e)
    n = len(entries) if count is None else count
    return body + directory + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(directory), len(body), len(comment)) + comment


def raw_deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


put("comment_with_end_signature.zip", archive([dict(name=b"a", payload=b"x")], comment=b"PK\x05\x06" + b"\0" * 18))
put("extra_field_with_stray_bytes.zip", archive([dict(name=b"a", payload=b"x", extra=b"\x55\x54\x01\x00z\x01\x02"),
                                                  dict(name=b"b", payload=b"y")]))
put("local_extra_longer_than_central.zip", archive([dict(name=b"a", payload=text, local_extra=b"\x75\x70\x08\x00" + b"e" * 8)]))
put("folder_with_sizes_and_both_bits.zip", archive([dict(name=b"d\\", payload=b"zz", attrs=0x30)]))
put("version_needed_64.zip", archive([dict(name=b"v", payload=b"x", version=64)]))
put("unknown_method_99.zip", archive([dict(name=b"m", payload=b"raw", method=99)]))
put("lzma_properties_byte_225.zip", archive([dict(name=b"l", payload=b"\x09\x14\x05\x00\xe1\x00\x00\x01\x00" + b"\0" * 20,
                                                   method=14, version=63, size=100)]))
deflated = bytearray(raw_deflate(text * 4))
deflated[len(deflated) // 2:len(deflated) // 2 + 16] = b"\xff" * 16
put("damaged_deflate.zip", archive([dict(name=b"d", payload=bytes(deflated), method=8, crc=zlib.crc32(text * 4),
                                         size=len(text) * 4)]))
put("deflate_longer_than_declared.zip", archive([dict(name=b"big", payload=raw_deflate(b"a" * 100000), method=8,
                                                      size=1000)]))
put("names_leaving_the_folder.zip", archive([dict(name=b"../up.txt", payload=b"1"), dict(name=b"C:/x", payload=b"2"),
                                             dict(name=b"/abs//x", payload=b"3")]))
put("too_short_for_an_end_record.zip", b"PK\x05\x06" + b"\0" * 10)

# Shapes of real-world writers and hostile packages.
plain = archive([dict(name=b"a.txt", payload=text), dict(name=b"b.bin", payload=binary)])
put("prefixed_unadjusted.zip", b"MZ stub " * 64 + plain)
put("version_needed_host_byte.zip", archive([dict(name=b"v", payload=b"x", version=0x0314),
                                             dict(name=b"w", payload=b"y", version=0x033F)]))
put("folder_by_attribute_only.zip", archive([dict(name=b"folder", payload=b"", attrs=0x10, made_by=0x0014),
                                             dict(name=b"folder/inside.txt", payload=text)]))
one = local(b"x", raw_deflate(b"z" * 100000), method=8, crc=zlib.crc32(b"z" * 100000), size=100000)
shared = b"".join(central(b"f%d" % i, raw_deflate(b"z" * 100000), 0, method=8, crc=zlib.crc32(b"z" * 100000), size=100000)
                  for i in range(20))
put("entries_sharing_one_stream.zip", one + shared + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 20, 20, len(shared), len(one), 0))
put("control_characters_in_names.zip", archive([dict(name=b"line\nbreak.txt", payload=b"1"), dict(name=b"esc\x1b[31m", payload=b"2")]))
put("false_bzip2_markers.zip", archive([dict(name=b"m", payload=b"BZh9" + b"\x31\x41\x59\x26\x53\x59" * 3000, method=12,
                                             version=46, size=5000)]))

# ZIP64 records from writers (Python's force_zip64, Info-ZIP -fz, streamed with 8-byte data
# descriptors) and broken by hand, and Unicode Path fields that match their name or do not.
with zipfile.ZipFile(os.path.join(out, "python_force_zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in [("a.txt", text), ("dir/b.bin", binary)]:
        with z.open(name, "w", force_zip64=True) as f:
            f.write(data)
with tempfile.TemporaryDirectory() as src:
    with open(os.path.join(src, "a.txt"), "wb") as f:
        f.write(text)
    subprocess.run(["zip", "-qfz", os.path.join(out, "infozip_zip64.zip"), "a.txt"], cwd=src, check=True)
    with open(os.path.join(out, "infozip_zip64_streamed.zip"), "wb") as f:
        subprocess.run(["zip", "-qfz", "-", "a.txt"], cwd=src, check=True, stdout=f)


class Pipe:
    """A file that cannot seek: zipfile then streams each entry with a data descriptor."""

    def __init__(self, path):
        self.file = open(path, "wb")

    def write(self, data):
        return self.file.write(data)

    def flush(self):
        self.file.flush()


pipe = Pipe(os.path.join(out, "python_zip64_data_descriptors.zip"))
with zipfile.ZipFile(pipe, "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in [("a.txt", text), ("b.bin", binary)]:
        with z.open(name, "w", force_zip64=True) as f:
            f.write(data)
pipe.file.close()
with open(os.path.join(out, "infozip_zip64.zip"), "rb") as f:
    zip64 = f.read()
put("zip64_end_record_missing.zip", zip64.replace(b"PK\x06\x06", b"PK\x06\x00"))
put("zip64_locator_elsewhere.zip", zip64[:-22 - 12] + struct.pack("<Q", 3) + zip64[-22 - 4:])


def zip64_extra(*values):
    return struct.pack("<HH", 1, 8 * len(values)) + b"".join(struct.pack("<Q", v) for v in values)


def unicode_path(stored, name, version=1):
    field = bytes([version]) + struct.pack("<I", zlib.crc32(stored)) + name.encode()
    return struct.pack("<HH", 0x7075, len(field)) + field


put("zip64_field_too_short.zip", archive([dict(name=b"a", payload=b"x", size=0xFFFFFFFF, extra=b"\x01\x00\x03\x00abc")]))
put("zip64_local_field_disagrees.zip", archive([dict(name=b"a", payload=b"x", size=0xFFFFFFFF, extra=zip64_extra(1),
                                                     local_extra=zip64_extra(5))]))
put("zip64_huge_declared_size.zip", archive([dict(name=b"a", payload=b"x", size=0xFFFFFFFF, extra=zip64_extra(1 << 62))]))
cp437 = "Ölfässer.txt".encode("cp437")
put("unicode_path_fields.zip", archive([dict(name=cp437, payload=b"1", extra=unicode_path(cp437, "Ölfässer.txt")),
                                        dict(name=b"renamed", payload=b"2", extra=unicode_path(b"old", "Änderung")),
                                        dict(name=b"v2", payload=b"3", extra=unicode_path(b"v2", "../v2", 2)),
                                        dict(name=b"up", payload=b"4", extra=unicode_path(b"up", "../escape"))]))
