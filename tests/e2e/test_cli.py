"""The installer's command line as a script meets it: exact standard output, exit code, log.

Runs the real QuorVelSetup.exe under Wine. Standard output is a pipe (or a file), which the
installer writes to directly; its lines end with CR LF as every text-mode line on Windows.
"""
import os
import subprocess
import tempfile
import unittest

import harness

VERSION = "QuorVel Installer version " + harness.file_version()
VERSION_OUTPUT = [VERSION] + ([harness.UNSIGNED_TEST_PROGRAM] if harness.installer_is_unsigned() else [])
NOTICE = "QuorVel Software Inc. All rights reserved."
HELP = [
    NOTICE,
    "QuorVel Installer",
    "Usage:",
    "  QuorVel Installer [OPTION...]",
    "",
    "  -h, --help          Print a usage guide.",
    "  -x, --x86           Force 32 bit app build installation ignoring the ",
    "                      environment.",
    "  -p, --path arg      Destination folder to install to, use quotes if path ",
    "                      contains space(s), recommended to pass as a last ",
    "                      argument.",
    "  -s, --silent        Silent (unattended) installation mode, useful for ",
    "                      installing from a command line or a script.",
    "  -u, --user arg      License user login (usualy email).",
    "  -v, --version       Print installer version.",
    "  -l, --log PATH      Write the installation log to PATH.",
    "      --package FILE  Install from the package FILE, no download.",
    "      --proxy URL     Download through the proxy URL (host:port), or direct ",
    "                      for none.",
    "  /S /q /qn /quiet /silent /verysilent as -s; /norestart is accepted.",
    "",
]
PREFIX = "Failed to parse command line arguments, error: "
SILENT_SENTENCE = ("By installing this software in silent mode you are agreed to the End User Licence "
                   "Agreement and conditions.")
TITLE = "QuorVel"  # the title line logged by the window's initialisation starts with it


def crlf(lines):
    """The bytes of |lines| as the installer writes them (UTF-8): the console's empty line first."""
    return ("\r\n" + "".join(line + "\r\n" for line in lines)).encode("utf-8")


VERSION_CASES = [["--version"], ["-v"], ["-v", "-h"], ["-h", "-v"], ["--help", "--version", "--silent"]]
HELP_CASES = [["--help"], ["-h"], ["--help", "--silent"], ["-h", "-p", "x"], ["-h", "--silent=false", "stray"]]
REJECTED_CASES = [
    (["--foo"], "Option 'foo' does not exist"),
    (["-z"], "Option 'z' does not exist"),
    (["--path"], "Option 'path' is missing an argument"),
    (["-s", "--user"], "Option 'user' is missing an argument"),
    (["--silent=yes"], "Argument 'yes' failed to parse"),
    (["--a"], "Argument '--a' starts with a - but has incorrect syntax"),
    (["--silents"], "Option 'silents' does not exist"),
    (["--pat", "C:\\x"], "Option 'pat' does not exist"),
    (["-sz"], "Option 'z' does not exist"),
    (["--version", "--foo"], "Option 'foo' does not exist"),  # the parser's verdict comes first
    (["-h", "--x86=maybe"], "Argument 'maybe' failed to parse"),
    (["--proxy", "socks5://p:1080"], "--proxy socks5://p:1080: a proxy is reached over http (http://HOST:PORT)"),
    (["-s", "--proxy", "nowhere"], "--proxy nowhere: expected HOST:PORT, http://HOST:PORT or direct"),
]


class CommandLineTest(harness.WineTestCase):

    def run_installer(self, args, **kwargs):
        harness.remove_log()
        return harness.run_installer(args, **kwargs)

    def assertOutput(self, run, expected_stdout, expected_code):
        self.assertEqual(expected_stdout, run.stdout, f"stdout of {run.args}")
        self.assertEqual(harness.seen_exit_code(expected_code), run.returncode, f"exit code of {run.args}")

    def assertLog(self, expected_middle, args):
        """The log: the title line, |expected_middle| (level, message) pairs, the last line."""
        entries = harness.log_entries()
        self.assertGreaterEqual(len(entries), 2, f"log of {args}: {entries}")
        self.assertEqual("Note", entries[0][0], f"first log line of {args}")
        self.assertTrue(entries[0][1].startswith(TITLE), f"first log line of {args}: {entries[0]}")
        self.assertEqual(expected_middle, entries[1:-1], f"log of {args}")
        self.assertEqual(("Note", harness.LAST_LOG_LINE), entries[-1], f"last log line of {args}")

    def test_version_wins_over_every_other_option(self):
        for args in VERSION_CASES:
            with self.subTest(args=args):
                run = self.run_installer(args)
                self.assertOutput(run, crlf(VERSION_OUTPUT), harness.EXIT_SUCCESS)
                self.assertLog([], args)

    def test_help_prints_the_option_table_and_nothing_else_happens(self):
        for args in HELP_CASES:
            with self.subTest(args=args):
                run = self.run_installer(args)
                self.assertOutput(run, crlf(HELP), harness.EXIT_SUCCESS)
                self.assertLog([], args)

    def test_a_rejected_command_line_prints_the_reason_and_the_help(self):
        for args, reason in REJECTED_CASES:
            with self.subTest(args=args):
                run = self.run_installer(args)
                self.assertOutput(run, crlf([PREFIX + reason, ""] + HELP), harness.EXIT_BAD_COMMAND_LINE)
                self.assertLog([("Warning", PREFIX + reason)], args)

    def test_non_ascii_words_travel_as_utf8_to_the_output_and_the_log(self):
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")  # how Wine decodes our arguments
        reason = "Argument '--gr\u00f6\u00dfe' starts with a - but has incorrect syntax"
        run = self.run_installer(["--gr\u00f6\u00dfe"], env=env)
        self.assertOutput(run, crlf([PREFIX + reason, ""] + HELP), harness.EXIT_BAD_COMMAND_LINE)
        self.assertLog([("Warning", PREFIX + reason)], run.args)

    def test_output_redirected_to_a_file_reaches_the_file(self):
        with tempfile.TemporaryFile() as out:
            run = self.run_installer(["--version"], stdout=out)
            out.seek(0)
            self.assertEqual(crlf(VERSION_OUTPUT), out.read())
            self.assertEqual(harness.EXIT_SUCCESS, run.returncode)

    def test_output_thrown_away_to_the_null_device_counts_as_redirected(self):
        # The null device (NUL on Windows, /dev/null here) is a character device like a console,
        # but the caller chose it: nothing is attached to a console and no failure is logged.
        for args, code, middle in [
            (["--version"], harness.EXIT_SUCCESS, []),
            (["--foo"], harness.EXIT_BAD_COMMAND_LINE, [("Warning", PREFIX + "Option 'foo' does not exist")]),
        ]:
            with self.subTest(args=args):
                run = self.run_installer(args, stdout=subprocess.DEVNULL)
                self.assertEqual(harness.seen_exit_code(code), run.returncode)
                entries = harness.log_entries()
                self.assertEqual([], [e for e in entries if e[0] == "Eerror"], f"log: {entries}")
                self.assertLogApartFrom(entries, None, middle, args)

    def assertLogApartFrom(self, entries, dropped, middle, args):
        rest = [e for e in entries if e != dropped]
        self.assertEqual(middle, rest[1:-1], f"log of {args}")
        self.assertEqual(("Note", harness.LAST_LOG_LINE), rest[-1])

    def test_a_window_that_cannot_be_created_ends_the_run_with_a_failure(self):
        env = dict(os.environ)
        for name, value in harness_vars().items():
            env[name] = value
        env["DISPLAY"] = ""  # no display: the dialog cannot be created
        harness.remove_log()
        process = subprocess.run(["/usr/lib/wine/wine64", harness.INSTALLER, "--version"], env=env,
                                 capture_output=True, timeout=60)
        self.assertEqual(harness.seen_exit_code(harness.EXIT_INSTALL_FAILURE), process.returncode)
        self.assertEqual(b"", process.stdout)
        entries = harness.log_entries()
        self.assertEqual(2, len(entries), f"log: {entries}")
        self.assertEqual("Failure", entries[0][0])
        self.assertRegex(entries[0][1], r"^Creating the main window failed with error \d+ \(0x[0-9A-F]{4,}\): ")
        self.assertEqual(("Note", harness.LAST_LOG_LINE), entries[1])

    def test_a_silent_run_prints_its_banner_to_the_caller(self):
        harness.remove_log()
        with tempfile.TemporaryFile() as out:
            with harness.StartedInstaller(["-sx", "--path", "C:\\Program Files\\QuorVel"], stdout=out) as run:
                expected = crlf([VERSION, NOTICE, SILENT_SENTENCE])
                deadline_reached = True
                for _ in range(100):
                    out.seek(0)
                    if len(out.read()) >= len(expected):
                        deadline_reached = False
                        break
                    run.wait(0.1)
            out.seek(0)
            seen = out.read()
        self.assertFalse(deadline_reached, f"banner not written within 10 s; seen {seen!r}")
        self.assertEqual(expected, seen[:len(expected)])


def harness_vars():
    out = subprocess.run([harness.WINE_ENV, "vars", harness.BUILD_DIR], capture_output=True, text=True,
                         check=True).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


if __name__ == "__main__":
    unittest.main()
