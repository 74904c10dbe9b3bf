"""The extraction stage of the real program under Wine, on packages shaped as real writers and
attackers shape them: what is read, what is refused, and what the user and the log are told."""
import os
import shutil
import struct
import unittest
import zipfile
import zlib

import harness
import packages
import test_pipeline as pipeline
from server import PackageServer

FAILED = "Failed to extract files."
UNCHECKED_INSTALLER = os.path.join(harness.BUILD_DIR, "tests", "e2e", "QuorVelSetupUncheckedTest.exe")
REFUSED_NAME = ": its name leads out of the extraction folder or names a device"


class ExtractionTest(harness.WineTestCase):
    # The pipeline tests' building blocks, borrowed without their test cases.
    setUp = pipeline.PipelineTest.setUp
    tearDown = pipeline.PipelineTest.tearDown
    package = pipeline.PipelineTest.package
    publish = pipeline.PipelineTest.publish
    program = pipeline.PipelineTest.program
    run_silent = pipeline.PipelineTest.run_silent
    starts = pipeline.PipelineTest.starts
    assertExit = pipeline.PipelineTest.assertExit
    assertNoExtractionFolder = pipeline.PipelineTest.assertNoExtractionFolder
    assertLogHas = pipeline.PipelineTest.assertLogHas
    assertNothingRun = pipeline.PipelineTest.assertNothingRun

    def write_reshaped(self, reshape, package=None):
        """A writer that makes the stand-in package (or |package|), lets |reshape| change its file,
        then signs it again as the vendor would (the signature replaces any archive comment)."""
        def write(path):
            (package or self.package()).write(path)
            reshape(path)
            return packages.sign_package(path)
        return write

    def test_packages_with_entries_that_cannot_be_written_run_nothing(self):
        def shared_stream(path):
            # A second directory record pointing at the first entry's bytes.
            with open(path, "rb") as f:
                data = bytearray(f.read())
            directory = data.find(b"PK\x01\x02")
            record_end = data.find(b"PK\x01\x02", directory + 4)
            copy = bytearray(data[directory:record_end])
            name_length = int.from_bytes(copy[28:30], "little")
            copy[46:46 + name_length] = b"x" * name_length
            end = data.rfind(b"PK\x05\x06")
            data[end + 8:end + 12] = (int.from_bytes(data[end + 8:end + 10], "little") + 1).to_bytes(2, "little") * 2
            data[end + 12:end + 16] = (int.from_bytes(data[end + 12:end + 16], "little") + len(copy)).to_bytes(4, "little")
            data[end:end] = copy
            with open(path, "wb") as f:
                f.write(data)

        table = [
            ("device name", lambda p: p.extra_entries.append(("data/con.txt", b"x")), "Unable to extract data/con.txt" + REFUSED_NAME),
            ("console device", lambda p: p.extra_entries.append(("CONOUT$", b"x")), "Unable to extract CONOUT$" + REFUSED_NAME),
            ("superscript port", lambda p: p.extra_entries.append(("LPT\u00b2.log", b"x")),
             "Unable to extract LPT\u00b2.log" + REFUSED_NAME),
            ("absolute name", lambda p: p.extra_entries.append(("/abs.txt", b"x")), "Unable to extract abs.txt" + REFUSED_NAME),
        ]
        for shape, change, reason in table:
            with self.subTest(shape):
                package = self.package()
                change(package)
                self.publish(package.write)
                self.expect_refusal(reason)
        with self.subTest("entries sharing bytes"):
            self.publish(self.write_reshaped(shared_stream))
            self.expect_refusal("Corrupt package Installer.zip: entries share bytes (standin.cfg and " + "x" * 11 + ")")
        with self.subTest("not a ZIP archive"):
            # A signed package is a ZIP archive by construction: what is not one is refused by the
            # signature check first. The reader's own reason shows in a build without keys.
            def html_page(path):
                with open(path, "wb") as f:
                    f.write(b"<html><body>The server is busy.</body></html>\n" * 40)
                return path
            self.publish(html_page)
            unchecked = os.path.join(self.folder, "QuorVelSetupUnchecked.exe")
            shutil.copy(UNCHECKED_INSTALLER, unchecked)
            self.expect_refusal("Installer.zip is not a ZIP archive", program=unchecked)

    def expect_refusal(self, reason, program=None):
        with PackageServer(self.site, pipeline.PORT):
            if program:
                run = harness.run_program(program, ["-s"], timeout=90)
                out = run.stdout.decode("utf-8")
            else:
                run, out = self.run_silent()
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertIn("\r\n" + FAILED + "\r\n", out)
        self.assertLogHas("Eerror", reason)
        self.assertLogHas("Eerror", FAILED)
        self.assertNothingRun()
        self.assertNoExtractionFolder()

    def test_a_package_shaped_by_other_writers_installs(self):
        def reshape(path):
            with zipfile.ZipFile(path, "a") as archive:
                folder = zipfile.ZipInfo("Program Files")  # a folder by its MS-DOS attribute only
                folder.create_system = 0
                folder.external_attr = 0x10
                archive.writestr(folder, b"")
                archive.writestr("Program Files/app.txt", b"application data\r\n" * 100)
                archive.comment = b"built by a writer whose comment holds PK\x05\x06 as text"
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(b"MZ self-extracting stub" + bytes(4000) + data)  # offsets not adjusted

        self.publish(self.write_reshaped(reshape))
        with PackageServer(self.site, pipeline.PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
        self.assertLogHas("Note", "Extracting Program Files/app.txt")
        self.assertFalse([e for e in pipeline.log_entries() if e[0] == "Eerror"])
        self.assertNoExtractionFolder()

    def test_names_from_a_unicode_path_field_are_the_names_the_installer_finds(self):
        # As WinZip and 7-Zip write names that are not ASCII: the raw name in the writer's code
        # page, no UTF-8 flag, the real name in a Unicode Path field (0x7075) whose CRC-32 matches.
        names = {"Ölfässer.txt": "cp437", "数据/说明.txt": "gbk"}

        class RawNameInfo(zipfile.ZipInfo):
            def _encodeFilenameFlags(self):
                return self.raw_name, self.flag_bits

        def reshape(path):
            with zipfile.ZipFile(path, "a") as archive:
                for name, code_page in names.items():
                    info = RawNameInfo(name)
                    info.raw_name = name.encode(code_page)
                    info.extra = (struct.pack("<HHB", 0x7075, 5 + len(name.encode()), 1) +
                                  struct.pack("<I", zlib.crc32(info.raw_name)) + name.encode())
                    archive.writestr(info, name.encode() * 10)

        for name in names:
            with self.subTest(name=name):
                # The product installer opens the file by its real name (its record: write=0 when found).
                package = self.package()
                package.settings["Installer.swap"] = name.replace("/", "\\")
                self.publish(self.write_reshaped(reshape, package))
                if os.path.exists(self.records):
                    os.remove(self.records)
                with PackageServer(self.site, pipeline.PORT):
                    run, _ = self.run_silent()
                self.assertExit(harness.EXIT_SUCCESS, run)
                self.assertLogHas("Note", "Extracting " + name)
                with open(self.records, encoding="utf-8") as records:
                    swaps = [line.split("\t")[3] for line in records.read().splitlines() if line.startswith("swap\t")]
                self.assertEqual(1, len(swaps), swaps)
                self.assertTrue(swaps[0].startswith("write=0,"), f"Installer.exe did not find {name}: {swaps}")


if __name__ == "__main__":
    unittest.main()
