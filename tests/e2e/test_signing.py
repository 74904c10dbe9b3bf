"""Signed end to end: the test program installs only packages signed with a key it carries, and
itself carries an Authenticode signature.

QuorVelSetupTest.exe carries the throwaway keys "current" and "next" of the build and is signed with
the build's throwaway certificate; QuorVelSetupUncheckedTest.exe is the same program built without
keys. Packages are written by packages.py and signed with scripts/sign-package.
"""
import os
import shutil
import subprocess
import tempfile
import zipfile

import harness
import packages
from server import PackageServer
from test_pipeline import STANDINS, PORT, WindowWatch, log_entries, set_windows_version, work_folder

UNCHECKED_INSTALLER = os.path.join(harness.BUILD_DIR, "tests", "e2e", "QuorVelSetupUncheckedTest.exe")
CODESIGN = os.path.join(harness.BUILD_DIR, "signing", "codesign")
NOT_AUTHENTIC = "The downloaded package is not authentic."
CHECK_FAILED = "The package signature check failed: "
NOT_CHECKED = "The package is not checked: this program was built without package keys"


def unsign(path):
    """Takes the signature off: the archive comment becomes empty."""
    with zipfile.ZipFile(path, "a") as archive:
        archive.comment = b""


def flip_bit(path, offset):
    with open(path, "r+b") as file:
        file.seek(offset)
        byte = file.read(1)[0]
        file.seek(offset)
        file.write(bytes([byte ^ 0x10]))


def append(path, data):
    with open(path, "ab") as file:
        file.write(data)


def osslsigncode_verify(program):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(CODESIGN, "certificate.pem"),
                           "-in", program], capture_output=True, text=True, timeout=60)


class SigningTest(harness.WineTestCase):

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qv-signing-")
        self.records = os.path.join(self.folder, "records.txt")
        self.site = os.path.join(self.folder, "site")
        linux_work, _ = work_folder()
        shutil.rmtree(linux_work, ignore_errors=True)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def publish(self, change=None):
        """A stand-in package, signed with the current key, then |change|d, at both addresses."""
        for build in ("x86", "x64"):
            path = packages.StandinPackage(STANDINS, self.records).write(os.path.join(self.site, build, "Installer.zip"))
            if change:
                change(path)

    def run_silent(self, program=harness.TEST_INSTALLER, args=()):
        copy = os.path.join(self.folder, os.path.basename(program))
        shutil.copy(program, copy)
        with PackageServer(self.site, PORT) as server:
            run = harness.run_program(copy, ["-s", *args], timeout=90)
            requests = server.requests()
        return run, run.stdout.decode("utf-8"), requests

    def started_roles(self):
        return [r["role"] for r in packages.read_records(self.records) if r["kind"] == "start"]

    def assertExit(self, expected, code):
        self.assertEqual(harness.seen_exit_code(expected), code, f"exit code: expected {expected}, got {code}")

    def test_packages_signed_with_either_key_install(self):
        for key in ("current", "next"):
            with self.subTest(key=key):
                os.makedirs(self.folder, exist_ok=True)
                self.publish(lambda path: packages.sign_package(path, key))
                run, _, _ = self.run_silent()
                self.assertExit(harness.EXIT_SUCCESS, run.returncode)
                notes = [m for level, m in log_entries() if level == "Note"]
                self.assertIn("Checking the package signature", notes)
                valid = [m for m in notes if m.startswith("The package signature is valid (key ")]
                self.assertEqual(1, len(valid), notes)
                self.assertRegex(valid[0], r"; version 10\.22\.0\.0 for the 32-bit build, signed "
                                           r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC\)$")
                self.assertLess(notes.index("Checking the package signature"),
                                [i for i, m in enumerate(notes) if m.startswith("Unzipping to ")][0])
                self.assertEqual(["vcredist", "Installer"], self.started_roles())
                shutil.rmtree(self.folder)

    def test_refused_packages_fail_the_run_and_run_nothing(self):
        cases = [
            ("unsigned", unsign, "the package carries no signature (its archive comment is empty)"),
            ("signed with an unknown key", lambda p: packages.sign_package(p, "unknown"), "signed with an unknown key "),
            ("changed after signing", lambda p: flip_bit(p, 10), "does not match the package's contents"),
            ("bytes appended", lambda p: append(p, b"more"), "(4 bytes follow it)"),
            ("a second end record appended", lambda p: append(p, packages.EMPTY_END_RECORD),
             "the package carries no signature (its archive comment is empty)"),
        ]
        for what, change, reason in cases:
            with self.subTest(package=what):
                os.makedirs(self.folder, exist_ok=True)
                self.publish(change)
                run, out, requests = self.run_silent()
                self.assertExit(harness.EXIT_INSTALL_FAILURE, run.returncode)
                self.assertTrue(out.endswith("\r\n" + NOT_AUTHENTIC + "\r\n"), f"standard output: {out!r}")
                errors = [m for level, m in log_entries() if level == "Eerror"]
                self.assertEqual(1, len([m for m in errors if m.startswith(CHECK_FAILED) and reason in m]),
                                 f"the reason {reason!r} in the log's errors: {errors}")
                self.assertIn(NOT_AUTHENTIC, errors)
                self.assertEqual([], self.started_roles(), "a setup program was started")
                self.assertEqual(1, len(requests), f"downloaded again: {requests}")
                linux_work, _ = work_folder()
                self.assertLessEqual(set(os.listdir(linux_work)), harness.LOG_NAMES,
                                 "the package must be deleted and nothing unpacked")
                shutil.rmtree(self.folder)

    def test_a_package_for_the_other_build_or_an_older_version_is_refused(self):
        """What a mirror could serve instead: authentic packages that are not the ones asked for."""
        disk = os.path.join(self.folder, "disk", "Installer.zip")
        cases = [
            ("the 32-bit package at the 64-bit address", "win10", {"build": "x86"}, [],
             "the package is signed for the 32-bit build, but this installation needs the 64-bit build"),
            ("a rollback to an older version", None, {"version": "10.21.9.9"}, [],
             "the package's version 10.21.9.9 is older than 10.22.0.0, the oldest this program accepts"),
            ("the 64-bit package as --package", None, {"build": "x64"}, ["--package", disk],
             "the package is signed for the 64-bit build, but this installation needs the 32-bit build"),
        ]
        try:
            for what, windows, signed_as, args, reason in cases:
                with self.subTest(what):
                    os.makedirs(self.folder, exist_ok=True)
                    self.publish(lambda path: packages.sign_package(path, **signed_as))
                    os.makedirs(os.path.dirname(disk), exist_ok=True)
                    packages.StandinPackage(STANDINS, self.records).write(disk)
                    packages.sign_package(disk, **signed_as)
                    set_windows_version(windows)
                    run, out, _ = self.run_silent(args=args)
                    self.assertExit(harness.EXIT_INSTALL_FAILURE, run.returncode)
                    self.assertTrue(out.endswith("\r\n" + NOT_AUTHENTIC + "\r\n"), f"standard output: {out!r}")
                    errors = [m for level, m in log_entries() if level == "Eerror"]
                    self.assertTrue(any(m.startswith(CHECK_FAILED + reason) for m in errors), errors)
                    self.assertEqual([], self.started_roles(), "a setup program was started")
                    shutil.rmtree(self.folder)
        finally:
            set_windows_version(None)

    def test_an_interactive_run_shows_the_failure_in_its_error_box(self):
        self.publish(unsign)
        copy = os.path.join(self.folder, "QuorVelSetupTest.exe")
        shutil.copy(harness.TEST_INSTALLER, copy)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT), harness.StartedInstaller([], program=copy) as run:
                box = watch.wait_for(lambda e: e["kind"] == "box", 30, "an error box")
                harness.focus(harness.wait_for_window("^QuorVel$"))
                harness.key("Return")
                code = run.wait(30)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_INSTALL_FAILURE, code)
        self.assertEqual(("QuorVel", NOT_AUTHENTIC), (box["caption"], box["text"]))
        self.assertEqual([], self.started_roles())

    def test_a_build_without_keys_installs_an_unsigned_package_with_a_warning(self):
        self.publish(unsign)
        run, _, _ = self.run_silent(UNCHECKED_INSTALLER)
        self.assertExit(harness.EXIT_SUCCESS, run.returncode)
        entries = log_entries()
        self.assertIn(("Warning", NOT_CHECKED), entries)
        self.assertNotIn(("Note", "Checking the package signature"), entries)
        self.assertEqual(["vcredist", "Installer"], self.started_roles())
        version = harness.run_program(UNCHECKED_INSTALLER, ["--version"], timeout=60)
        self.assertEqual(f"\r\nQuorVel Installer version {harness.file_version()}\r\n{harness.UNSIGNED_TEST_PROGRAM}\r\n",
                         version.stdout.decode("utf-8"), "the console's empty line, the version, the warning")


class AuthenticodeTest(harness.WineTestCase):

    def test_the_signed_test_program_verifies_runs_and_a_changed_byte_fails(self):
        verified = osslsigncode_verify(harness.TEST_INSTALLER)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        for shown in ("QuorVel Throwaway Test Signer", "Message digest algorithm  : SHA256", "Text description: QuorVel",
                      "URL description: https://www.quorvel.com/"):
            self.assertIn(shown, verified.stdout)

        run = harness.run_program(harness.TEST_INSTALLER, ["--version"], timeout=60)
        self.assertEqual(0, run.returncode)
        self.assertIn(b"QuorVel Installer version", run.stdout)
        self.assertNotIn(harness.UNSIGNED_TEST_PROGRAM.encode(), run.stdout)

        with tempfile.TemporaryDirectory() as folder:
            changed = os.path.join(folder, "changed.exe")
            shutil.copy(harness.TEST_INSTALLER, changed)
            flip_bit(changed, os.path.getsize(changed) // 3)  # inside the program's code
            verified = osslsigncode_verify(changed)
        self.assertNotEqual(0, verified.returncode, verified.stdout)
        self.assertNotIn("Signature verification: ok", verified.stdout)

    def test_no_program_imports_bcrypt(self):
        """bcrypt.dll is not a KnownDLL: an import would be looked for beside the program first."""
        for program in (harness.INSTALLER, harness.TEST_INSTALLER, UNCHECKED_INSTALLER):
            imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", program], capture_output=True, text=True,
                                     check=True).stdout
            names = [line.split(":")[-1].strip().lower() for line in imports.splitlines() if "DLL Name" in line]
            self.assertTrue(names, f"no imports read from {program}")
            self.assertNotIn("bcrypt.dll", names, program)


if __name__ == "__main__":
    import unittest
    unittest.main()
