"""The program as deployment tools meet it: they judge a run by its exit code, pass their own silent
switches and may start it where nobody sees a desktop.

Wine hands only the low 8 bits of a Windows exit code to its Linux caller, so each test reads the
full code from the log's "Exit code: N" line and checks that the Linux side saw its low 8 bits.
The program is QuorVelSetupTest.exe; QV_TEST_NO_DESKTOP_SESSION makes it see no interactive desktop.
"""
import os
import re
import time
import unittest
import zipfile

import harness
import packages
from server import PackageServer
from test_pipeline import PORT, PipelineTest, WindowWatch, log_entries, work_folder

# The redistributable's code: whether the product installer runs, the program's code when the
# product installer then ends with 0.
RUNTIME_CODES = [(0, True, 0), (1638, True, 0), (5100, True, 0), (3010, True, 3010), (1641, True, 3010),
                 (1618, False, 1618), (1603, False, 1603), (5, False, 1603)]
# (runtime code, product installer code, program's code): the product installer's own code passes
# unchanged, a restart the runtime asked for does not hide a failure.
INSTALLER_CODES = [(0, 3010, 3010), (0, 1603, 1603), (0, 2, 2), (3010, 1603, 1603), (1641, 1641, 1641)]


class DeploymentTest(PipelineTest):
    def run_for_code(self, args, env=None):
        """Runs to the end; returns the full exit code (from the log) and the run."""
        if os.path.exists(self.records):
            os.remove(self.records)
        harness.remove_log()  # no earlier run's log can be taken for this one's
        run = harness.run_program(self.program("QuorVelSetupTest.exe"), args, timeout=90, env=env)
        entries = log_entries() if harness.read_log() is not None else []
        codes = [m for level, m in entries if level == "Note" and m.startswith("Exit code: ")]
        self.assertEqual(1, len(codes), f"exit {run.returncode}, log: {entries}, output: {run.stdout!r}, "
                                        f"errors: {run.stderr[-2000:]!r}")
        code = int(codes[0].split(": ")[1])
        self.assertExit(code, run)
        return code, run

    def roles(self):
        return [s["role"] for s in self.starts()]

    def test_the_setup_programs_exit_codes_become_the_programs(self):
        cases = [(runtime, 0, code) for runtime, _, code in RUNTIME_CODES] + INSTALLER_CODES
        with PackageServer(self.site, PORT):
            for runtime, installer, expected in cases:
                with self.subTest(runtime=runtime, installer=installer):
                    self.publish(self.package().exits("vcredist", runtime).exits("Installer", installer).write)
                    code, run = self.run_for_code(["-s"])
                    installer_runs = next(runs for c, runs, _ in RUNTIME_CODES if c == runtime)
                    self.assertEqual(expected, code)
                    self.assertEqual(["vcredist", "Installer"] if installer_runs else ["vcredist"], self.roles())
                    notes = [m for level, m in log_entries() if level == "Note"]
                    self.assertIn(f"vcredist.exe ended with exit code {runtime}", notes)
                    out = run.stdout.decode("utf-8")
                    if installer_runs:
                        self.assertIn(f"Installer.exe ended with exit code {installer}", notes)
                        self.assertIn(f"Installer.exe ended with exit code {installer}\r\n", out)
                    else:
                        self.assertIn(f"The runtime redistributable failed with exit code {runtime}.", out)
                        self.assertIn(("Eerror", f"The runtime redistributable failed with exit code {runtime}."),
                                      [(level, m.split(" Another")[0]) for level, m in log_entries()])

    def test_other_installers_silent_switches(self):
        self.publish(self.package().write)
        cases = [  # words, what the product installer receives, the words logged as ignored
            (["/S"], ["-s"], []),
            (["/quiet", "/norestart"], ["-s"], []),
            (["/VERYSILENT"], ["-s"], []),
            (["/foo", "/q"], ["-s"], ["/foo"]),
            (["/S", "-u", "alice"], ["-s", "-u", "alice"], []),
        ]
        with PackageServer(self.site, PORT):
            for words, received, ignored in cases:
                with self.subTest(words=words):
                    code, run = self.run_for_code(words)
                    self.assertEqual(harness.EXIT_SUCCESS, code)
                    self.assertIn("Fetching files...", run.stdout.decode("utf-8"), "the status lines went to the console")
                    installer = [argv for role, argv in packages.argument_vectors(self.records) if role == "Installer"]
                    self.assertEqual([["", *received]], installer)
                    self.assertEqual([f"Ignored command-line word: {w}" for w in ignored],
                                     [m for level, m in log_entries() if level == "Warning"])

    def test_without_a_desktop_a_failing_run_ends_by_itself_without_a_box(self):
        # The same run with a desktop shows its box and waits for it (test_pipeline's
        # test_an_interactive_download_failure_shows_the_error_box): here the run's own end, within
        # the time limit, shows that nothing waited for a person.
        self.publish(lambda path: None)
        env = dict(os.environ, QV_TEST_NO_DESKTOP_SESSION="0")
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT, mode="404"):
                code, run = self.run_for_code([], env=env)
        finally:
            watch.stop()
        self.assertEqual(harness.EXIT_INSTALL_FAILURE, code)
        self.assertEqual([], watch.boxes(), "a message box nobody can answer")
        self.assertEqual([], [w for w in watch.windows() if w.get("visible") == 1], "a window was shown")
        self.assertIn(("Warning", "No interactive desktop (session 0): running silently"), log_entries())
        out = run.stdout.decode("utf-8")
        self.assertIn("Fetching files...", out)
        self.assertIn("Downloading install files failed", out)


class LogAndPackageTest(PipelineTest):
    """--log PATH and --package FILE."""

    def run_installer(self, args, timeout=90):
        return harness.run_program(self.program("QuorVelSetupTest.exe"), args, timeout=timeout)

    def lines_of(self, path):
        with open(path, encoding="utf-8") as file:
            return [harness.parse_log_line(line)[1] for line in file.read().splitlines()]

    def test_the_log_goes_where_the_caller_says(self):
        self.publish(self.package().write)
        target = os.path.join(self.folder, "new logs", "night run", "qv.log")
        victim = os.path.join(self.folder, "victim")
        os.makedirs(victim)
        linked = os.path.join(self.folder, "linked")
        os.symlink(victim, linked)
        with PackageServer(self.site, PORT):
            made = self.run_installer(["-s", "--log", packages.windows_path(target)])
            refused = self.run_installer(["-s", "-l", packages.windows_path(os.path.join(linked, "qv.log"))])
        self.assertExit(harness.EXIT_SUCCESS, made)
        lines = self.lines_of(target)
        self.assertIn("Installer.exe ended with exit code 0", lines)
        self.assertEqual("Main window destroyed, exiting...", lines[-1])
        self.assertEqual(None, harness.read_log(), "the default log was written too")
        # Wine shows a symbolic link as a plain folder: its real place gives it away.
        self.assertExit(harness.EXIT_INSTALL_FAILURE, refused)
        self.assertIn("The installation log cannot be written to ", refused.stdout.decode("utf-8"))
        self.assertEqual([], os.listdir(victim), "the log was written through a link")
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()], "the refused run installed")

    def test_the_previous_default_log_is_kept(self):
        self.publish(self.package().write)
        with PackageServer(self.site, PORT):
            for user in ("first", "second", "third"):
                self.assertExit(harness.EXIT_SUCCESS, self.run_installer(["-s", "-u", user]))
        linux_work, _ = work_folder()
        self.assertEqual(sorted(harness.LOG_NAMES), sorted(os.listdir(linux_work)))
        previous = "\n".join(self.lines_of(os.path.join(linux_work, harness.PREVIOUS_LOG_NAME)))
        self.assertIn("-u second", previous)
        self.assertNotIn("-u first", previous)
        self.assertIn("-u third", harness.read_log().decode("utf-8"))

    def test_a_package_on_disk_is_copied_checked_and_installed(self):
        signed = os.path.join(self.folder, "disk", "Installer.zip")
        self.package().with_payload("payload.bin", 20_000_000).write(signed)
        altered = os.path.join(self.folder, "disk", "altered.zip")
        with open(signed, "rb") as source:
            data = bytearray(source.read())
        data[len(data) // 2] ^= 0xFF
        with open(altered, "wb") as target:
            target.write(data)
        unsigned = os.path.join(self.folder, "disk", "unsigned.zip")
        with zipfile.ZipFile(unsigned, "w") as archive:
            archive.writestr("Installer.exe", b"MZ")
        missing = os.path.join(self.folder, "disk", "missing.zip")
        with PackageServer(self.site, PORT) as server:
            runs = {name: self.run_installer(["-s", "--package", packages.windows_path(path)])
                    for name, path in (("altered", altered), ("unsigned", unsigned), ("missing", missing))}
            self.assertEqual([], self.starts(), "a refused package ran")
            with harness.StartedInstaller(["-s", "--package", packages.windows_path(signed)],
                                          program=self.program("QuorVelSetupTest.exe")) as run:
                # Spoiling the file once it is copied changes nothing: the copy is what counts.
                deadline = time.monotonic() + 60
                while "Copying the package finished" not in (harness.read_log() or b"").decode("utf-8", "replace"):
                    self.assertLess(time.monotonic(), deadline, "the package was never copied")
                    time.sleep(0.02)
                with open(signed, "r+b") as source:
                    source.write(b"\0" * 4096)
                code = run.wait(90)
            self.assertEqual([], server.requests(), "a package on disk needs no download")
        self.assertExit(harness.EXIT_SUCCESS, code)
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
        notes = [m for level, m in log_entries() if level == "Note"]
        self.assertIn(f"Installing from the package file {packages.windows_path(signed)} (no download is made)", notes)
        self.assertFalse(any(m.startswith("Downloading") for m in notes), notes)
        for name in ("altered", "unsigned"):
            self.assertExit(harness.EXIT_INSTALL_FAILURE, runs[name])
        out = runs["missing"].stdout.decode("utf-8")
        self.assertExit(harness.EXIT_INSTALL_FAILURE, runs["missing"])
        self.assertRegex(out, "Reading the package file " + re.escape(packages.windows_path(missing)) +
                         r" failed with error 2 \(0x0002\): \S")


def load_tests(loader, tests, pattern):
    """Only this file's tests (the pipeline's own run in e2e_pipeline)."""
    return unittest.TestSuite(case(name) for case in (DeploymentTest, LogAndPackageTest)
                              for name in sorted(vars(case)) if name.startswith("test_"))


if __name__ == "__main__":
    unittest.main()
