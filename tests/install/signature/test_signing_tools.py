#!/usr/bin/env python3
"""The release engineer's tools as they are used: scripts/make-signing-key, scripts/sign-package
and qv-unzip --verify, on packages written by Python's zipfile.

    test_signing_tools.py QV_UNZIP
"""
import os
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts")
QV_UNZIP = None


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=60)


class SigningToolsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.keys = {}
        for name in ("a", "b"):
            made = run(os.path.join(SCRIPTS, "make-signing-key"), os.path.join(cls.folder.name, name))
            assert made.returncode == 0, made.stderr
            cls.keys[name] = os.path.join(cls.folder.name, name, "package-key")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def package(self, name, comment=b""):
        path = os.path.join(self.folder.name, name)
        with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("Installer.exe", b"MZ" + bytes(5000))
            archive.comment = comment
        return path

    def sign(self, key, path, *options):
        options = options or ("--build", "x64", "--version", "10.22.0.0")
        return run(os.path.join(SCRIPTS, "sign-package"), *options, self.keys[key] + ".pem", path)

    def verify(self, key, path):
        return run(QV_UNZIP, "--verify", self.keys[key] + ".pub.pem", path)

    def test_the_private_key_is_for_its_owner_only_and_never_overwritten(self):
        self.assertEqual(0o600, stat.S_IMODE(os.stat(self.keys["a"] + ".pem").st_mode))
        again = run(os.path.join(SCRIPTS, "make-signing-key"), os.path.dirname(self.keys["a"]))
        self.assertNotEqual(0, again.returncode)
        self.assertIn("not overwriting", again.stderr)

    def test_signing_again_replaces_the_signature(self):
        path = self.package("twice.zip", comment=b"an old comment")
        for key, other in (("a", "b"), ("a", "b"), ("b", "a")):
            with self.subTest(signed_with=key):
                self.assertEqual(0, self.sign(key, path).returncode)
                self.assertEqual(0, self.verify(key, path).returncode, self.verify(key, path).stdout)
                refused = self.verify(other, path)
                self.assertEqual(1, refused.returncode)
                self.assertIn("NOT authentic: the package is signed with an unknown key", refused.stdout)
                with zipfile.ZipFile(path) as archive:
                    self.assertIsNone(archive.testzip(), "the signed package is no longer a sound ZIP archive")
                    self.assertEqual(95, len(archive.comment))

    def test_the_signed_header_names_build_version_and_time(self):
        path = self.package("header.zip")
        cases = [(("--build", "x86", "--version", "10.22.3.4", "--signed-at", "1765000000"), 0,
                  ", version 10.22.3.4 for the 32-bit build, signed 2025-12-06 05:46:40 UTC"),
                 (("--build", "x64", "--version", "1.2.3.65535", "--signed-at", "0"), 0,
                  ", version 1.2.3.65535 for the 64-bit build, signed 1970-01-01 00:00:00 UTC"),
                 (("--version", "10.22.0.0"), 2, "the following arguments are required: --build"),
                 (("--build", "x64"), 2, "the following arguments are required: --version"),
                 (("--build", "arm64", "--version", "1.0.0.0"), 2, "invalid choice: 'arm64'"),
                 (("--build", "x64", "--version", "10.22.0"), 2, "is not four numbers"),
                 (("--build", "x64", "--version", "10.22.0.65536"), 2, "is not four numbers")]
        for options, code, shown in cases:
            with self.subTest(options=options):
                signed = self.sign("a", path, *options)
                self.assertEqual(code, signed.returncode, signed.stderr)
                if code == 0:
                    verified = self.verify("a", path)
                    self.assertEqual(0, verified.returncode, verified.stdout)
                    self.assertTrue(verified.stdout.rstrip().endswith(shown), verified.stdout)
                else:
                    self.assertIn(shown, signed.stderr)

    def test_the_signer_and_the_reader_pick_the_same_end_record(self):
        """Archives whose end record is hard to find: each is signed, verified by the installer's
        own check and listed by its reader with the entry it really holds."""
        def commented(comment):
            return lambda path: self.package(os.path.basename(path), comment=comment)

        def inner_archive(path):
            inner = self.package("inner.zip")
            with zipfile.ZipFile(inner, "a") as archive:
                archive.writestr("decoy.txt", "the comment's archive")
            return self.package(os.path.basename(path), comment=open(inner, "rb").read())

        def stub_in_front(path):
            data = open(self.package(os.path.basename(path)), "rb").read()
            with open(path, "wb") as file:
                file.write(b"MZ stub" * 100 + data)  # offsets not adjusted

        def info_zip_zip64(path):
            source = os.path.join(self.folder.name, "Installer.exe")
            with open(source, "wb") as file:
                file.write(b"MZ" + bytes(5000))
            subprocess.run(["zip", "-q", "-j", "-fz", path, source], check=True)

        cases = [("plain", commented(b"")),
                 ("a comment with the end record signature and 16 bytes", commented(b"PK\x05\x06" + bytes(16))),
                 ("a comment holding a whole second archive", inner_archive),
                 ("a stub in front", stub_in_front),
                 ("ZIP64 end records (zip -fz)", info_zip_zip64)]
        for what, write in cases:
            with self.subTest(what):
                path = os.path.join(self.folder.name, "end-record.zip")
                if os.path.exists(path):
                    os.unlink(path)
                write(path)
                signed = self.sign("a", path)
                self.assertEqual(0, signed.returncode, signed.stderr)
                verified = self.verify("a", path)
                self.assertEqual(0, verified.returncode, verified.stdout)
                listed = run(QV_UNZIP, "-l", path)
                self.assertEqual(0, listed.returncode, listed.stdout + listed.stderr)
                self.assertIn("  Installer.exe\n1 entries\n", listed.stdout)

    def test_refusals_leave_the_file_alone(self):
        cases = [("not a ZIP archive", b"plain text, no archive\n" * 10, "not a ZIP archive"),
                 ("data after the end record", None, "its end record does not end the file")]
        for what, content, message in cases:
            with self.subTest(what):
                path = os.path.join(self.folder.name, "refused.bin")
                if content is None:
                    with open(self.package("refused.bin"), "ab") as file:
                        file.write(b"trailing")
                else:
                    with open(path, "wb") as file:
                        file.write(content)
                before = open(path, "rb").read()
                signed = self.sign("a", path)
                self.assertEqual(1, signed.returncode)
                self.assertIn(message, signed.stderr)
                self.assertEqual(before, open(path, "rb").read())

    def test_the_build_takes_one_or_two_public_keys_and_nothing_else(self):
        embed = os.path.join(SCRIPTS, "..", "cmake", "embed_package_keys.py")
        rsa = os.path.join(self.folder.name, "rsa.pub.pem")
        subprocess.run(f"openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 2>/dev/null | "
                       f"openssl pkey -pubout -out {rsa}", shell=True, check=True)
        a, b = self.keys["a"] + ".pub.pem", self.keys["b"] + ".pub.pem"
        cases = [([a], 0, ""), ([a, b], 0, ""), ([], 0, ""),
                 ([a, b, a], 1, "one or two different keys"), ([a, a], 1, "one or two different keys"),
                 ([self.keys["a"] + ".pem"], 1, "holds a private key"), ([rsa], 1, "not an uncompressed P-256 key")]
        for files, code, message in cases:
            with self.subTest(files=[os.path.basename(f) for f in files]):
                output = os.path.join(self.folder.name, "keys.cpp")
                made = run(sys.executable, embed, output, *files)
                self.assertEqual(code, made.returncode, made.stderr)
                self.assertIn(message, made.stderr)
                if code == 0:
                    self.assertEqual(len(files), open(output).read().count("P256PublicPoint{{"))

    def test_a_windows_build_without_package_keys_is_refused_at_configure_time(self):
        source = os.path.abspath(os.path.join(SCRIPTS, ".."))
        with tempfile.TemporaryDirectory() as build:
            configured = run("cmake", "-S", source, "-B", build, "-G", "Ninja",
                             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "mingw-i686.cmake"))
        self.assertNotEqual(0, configured.returncode, configured.stdout)
        message = " ".join(configured.stderr.split())
        self.assertIn("QUORVEL_PACKAGE_KEYS is empty: QuorVelSetup.exe would install packages without checking", message)
        self.assertIn("-DQUORVEL_ALLOW_UNSIGNED_PACKAGES=ON for a test program only", message)

    def test_qv_unzip_says_why_a_package_is_refused(self):
        path = self.package("changed.zip")
        self.sign("a", path)
        with open(path, "r+b") as file:
            file.seek(40)
            byte = file.read(1)
            file.seek(40)
            file.write(bytes([byte[0] ^ 1]))
        cases = [(path, "does not match the package's contents"),
                 (self.package("unsigned.zip"), "carries no signature")]
        for package, reason in cases:
            with self.subTest(package=os.path.basename(package)):
                seen = self.verify("a", package)
                self.assertEqual(1, seen.returncode)
                self.assertIn(reason, seen.stdout)


if __name__ == "__main__":
    QV_UNZIP = sys.argv.pop(1)
    unittest.main()
