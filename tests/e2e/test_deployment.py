"""The program as deployment tools meet it: they judge a run by its exit code, pass their own silent
switches and may start it where nobody sees a desktop.

Wine hands only the low 8 bits of a Windows exit code to its Linux caller, so each test reads the
full code from the log's "Exit code: N" line and checks that the Linux side saw its low 8 bits.
The program is QuorVelSetupTest.exe; QV_TEST_NO_DESKTOP_SESSION makes it see no interactive desktop.
"""
import os
import unittest

import harness
import packages
from server import PackageServer
from test_pipeline import PORT, PipelineTest, WindowWatch, log_entries

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
        run = harness.run_program(self.program("QuorVelSetupTest.exe"), args, timeout=90, env=env)
        codes = [m for level, m in log_entries() if level == "Note" and m.startswith("Exit code: ")]
        self.assertEqual(1, len(codes), f"log: {log_entries()}")
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


def load_tests(loader, tests, pattern):
    """Only this file's tests (the pipeline's own run in e2e_pipeline)."""
    return unittest.TestSuite(DeploymentTest(name) for name in sorted(vars(DeploymentTest)) if name.startswith("test_"))


if __name__ == "__main__":
    unittest.main()
