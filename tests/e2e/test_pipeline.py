"""The installation as users and scripts meet it: the real program under Wine downloads a package
from a real local HTTP server, unpacks it, runs the stand-in setup programs it carries and cleans
up, or tells why it could not.

The program run here is QuorVelSetupTest.exe: the installer built from the same sources as the
shipped one, with its download addresses pointing at http://127.0.0.1:PORT/x86|x64/Installer.zip.
The stand-ins (tests/standins) record how they were started into a file outside the work folder.
"""
import glob
import os
import queue
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import harness
import packages
from server import PackageServer

E2E_BUILD = os.path.join(harness.BUILD_DIR, "tests", "e2e")
WINDOW_WATCH = os.path.join(E2E_BUILD, "window_watch.exe")
STANDINS = os.path.join(harness.BUILD_DIR, "tests", "standins")
PORT = harness.test_server_port()
VERSION = "QuorVel Installer version " + harness.file_version()
NOTICE = "QuorVel Software Inc. All rights reserved."
SILENT_SENTENCE = ("By installing this software in silent mode you are agreed to the End User Licence "
                   "Agreement and conditions.")
FETCHING, EXTRACTING, PREPARING, ERROR_OCCURRED, CANCEL = (
    "Fetching files...", "Extracting files...", "Preparing...", "Error occurred", "Cancel")
REDISTRIBUTABLE_ARGUMENTS = "/install /quiet /norestart"
DOWNLOAD_FAILURE = re.compile(
    r"Downloading install files failed with error (?:\d+ \(0x[0-9A-F]{4,}\)|0x[0-9A-F]{8}): [^\n]+\n"
    r"Check your Internet connection\.")  # a Win32 error with its number, an HRESULT as 0x... only
CLEANUP_WARNING = "Unable to clean up install files. Reason: "


def temp_folder():
    """(Linux path, Windows path) of the prefix user's temporary folder."""
    found = glob.glob(os.path.join(harness.PREFIX, "drive_c", "users", "*", "Temp"))
    if not found:
        raise AssertionError("no temporary folder in " + harness.PREFIX)
    user = os.path.basename(os.path.dirname(found[0]))
    return found[0], f"C:\\users\\{user}\\Temp\\"


def work_folder():
    linux, windows = temp_folder()
    return os.path.join(linux, "QuorVel"), windows + "QuorVel\\"


def set_windows_version(version):
    """Makes Wine report another Windows version (None: Wine's default, Windows 7)."""
    if version is None:
        args = ["reg", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f"]
    else:
        args = ["reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f"]
    harness.run_program(args[0], args[1:], timeout=60)


def log_entries():
    """[(level, message)] of the installation log. A message that holds line breaks (the download
    failure text does) is logged as one line per part, each with its own time stamp and level."""
    return harness.log_entries()


def screenshot_folder():
    """Screenshots stay in the build folder for a look afterwards."""
    folder = os.path.join(E2E_BUILD, "screenshots")
    os.makedirs(folder, exist_ok=True)
    return folder


def crlf(lines):
    return "".join(line + "\r\n" for line in lines)


class WindowWatch:
    """window_watch.exe running beside the installer: every change of what the window shows, as
    dicts, collected by a reader thread. Ended by its pid."""

    FIELDS = ("visible", "status", "bar_visible", "position", "maximum", "cancel_visible", "cancel_label",
              "cancel_x", "cancel_y", "bar_left", "bar_top", "bar_right", "bar_bottom")
    NUMBERS = {"visible", "bar_visible", "position", "maximum", "cancel_visible", "cancel_x", "cancel_y",
               "bar_left", "bar_top", "bar_right", "bar_bottom"}

    def __init__(self, seconds=90):
        self.process = subprocess.Popen(
            [harness.WINE_ENV, "run", harness.BUILD_DIR, WINDOW_WATCH, "QuorVel", "QuorVel", str(seconds)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        self.events = []
        self.arrived = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            fields = raw.decode("utf-8", "replace").rstrip("\r\n").split("\t")
            event = {"kind": fields[0], "ms": int(fields[1])}
            if fields[0] == "window":
                for name, value in zip(self.FIELDS, fields[2:]):
                    event[name] = int(value) if name in self.NUMBERS else value
            elif fields[0] == "box":
                event["caption"] = fields[2]
                event["text"] = fields[3].replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t")
            self.events.append(event)
            self.arrived.put(event)

    def wait_for(self, predicate, timeout, what):
        """The first event (earlier ones included) that satisfies |predicate|."""
        deadline = time.monotonic() + timeout
        checked = 0
        while True:
            while checked < len(self.events):
                event = self.events[checked]
                checked += 1
                if predicate(event):
                    return event
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"the window never showed {what}; seen: {self.events}")
            try:
                self.arrived.get(timeout=min(remaining, 0.2))
            except queue.Empty:
                pass

    def windows(self):
        return [e for e in self.events if e["kind"] == "window"]

    def boxes(self):
        return [e for e in self.events if e["kind"] == "box"]

    def stop(self):
        harness._stop(self.process)
        self.reader.join(timeout=5)
        self.process.stdout.close()


class PipelineTest(harness.WineTestCase):

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qv-pipeline-")
        self.records = os.path.join(self.folder, "records.txt")
        self.site = os.path.join(self.folder, "site")
        os.makedirs(self.site)
        linux_work, _ = work_folder()
        shutil.rmtree(linux_work, ignore_errors=True)
        harness.remove_run_folders()

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    # --- building blocks ---------------------------------------------------------------------

    def package(self):
        return packages.StandinPackage(STANDINS, self.records)

    def publish(self, write):
        """Puts the same package at both build addresses; |write| gets the path to write to."""
        for build in ("x86", "x64"):
            write(os.path.join(self.site, build, "Installer.zip"))

    def program(self, name):
        """A copy of the test program under |name|: the file name carries the tag."""
        path = os.path.join(self.folder, name)
        shutil.copy(harness.TEST_INSTALLER, path)
        return path

    def run_silent(self, args=(), name="QuorVelSetupTest.exe", timeout=90):
        run = harness.run_program(self.program(name), ["-s", *args], timeout=timeout)
        return run, run.stdout.decode("utf-8")

    def starts(self):
        return [r for r in packages.read_records(self.records) if r["kind"] == "start"]

    def wait_for_the_runtime(self, seconds=60):
        """Waits until the redistributable has started (a loaded machine may take long to get
        there); fails with the log so far when it does not."""
        deadline = time.monotonic() + seconds
        while not self.starts() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(["vcredist"], [s["role"] for s in self.starts()], f"log so far: {log_entries()}")

    def assertExit(self, expected, run_or_code):
        code = run_or_code if isinstance(run_or_code, int) else run_or_code.returncode
        self.assertEqual(harness.seen_exit_code(expected), code,
                         f"exit code: expected {expected} (seen as {harness.seen_exit_code(expected)}), got {code}")

    def assertNoExtractionFolder(self):
        linux_work, _ = work_folder()
        self.assertFalse(os.path.exists(os.path.join(linux_work, "Installer")), "extraction folder left behind")
        self.assertEqual([], harness.run_folders(), "run folder left behind")

    def assertLogHas(self, level, message):
        entries = log_entries()
        self.assertIn((level, message), entries, f"log: {entries}")

    def assertNothingRun(self):
        self.assertEqual([], self.starts(), "setup programs were started")

    def extracting_lines(self, names):
        return [("Note", "Extracting " + name) for name in names]

    # --- a complete silent run ---------------------------------------------------------------

    def test_silent_run_installs_with_the_users_choices_and_cleans_up(self):
        self.publish(self.package().write)
        with PackageServer(self.site, PORT) as server:
            run, out = self.run_silent(["-u", "alice", "-p", "C:\\Program Files\\App"], name="setup_x1.exe")
            requests = server.requests()
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertEqual(["/x86/Installer.zip"], requests, "Wine's default Windows 7 gets the 32-bit build")

        _, windows_work = work_folder()
        run_folder = harness.run_folder_of([m for level, m in log_entries()])
        extraction = run_folder + "\\Installer"
        starts = self.starts()
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in starts], f"records: {starts}")
        redistributable, installer = starts
        self.assertEqual([("vcredist", [extraction + "\\vcredist.exe", *REDISTRIBUTABLE_ARGUMENTS.split()]),
                          ("Installer", ["", "-s", "-i", "x1", "-u", "alice", "-p", "C:\\Program Files\\App"])],
                         packages.argument_vectors(self.records), "the arguments each program parsed")
        self.assertEqual(' -s -i x1 -u alice -p "C:\\Program Files\\App"', installer["command_line"],
                         "simple values keep their plain text")
        self.assertEqual(extraction, installer["cwd"].rstrip("\\"))
        self.assertEqual(extraction, redistributable["cwd"].rstrip("\\"))
        ends = {r["role"]: r["time"] for r in packages.read_records(self.records) if r["kind"] == "end"}
        self.assertLessEqual(ends["vcredist"], installer["time"], "the product installer starts after the runtime")

        self.assertEqual("\r\n" + crlf([VERSION, NOTICE, SILENT_SENTENCE, FETCHING, EXTRACTING, PREPARING, "",
                                       "Installer.exe ended with exit code 0"]), out,
                         "standard output: banner, status lines, the line end and the product installer's result")
        self.assertNotIn("stand-in", out, "a setup program wrote into the installer's console")

        entries = log_entries()
        # The time of signing is the package's own.
        notes = [re.sub(r", signed \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC\)$", ", signed TIME)", message)
                 for level, message in entries if level == "Note"]
        self.assertEqual([], [e for e in entries if e[0] != "Note"], f"log: {entries}")
        self.assertEqual([
            "Online installation started",
            "Installing 32 bit app build",
            "Downloading install files to: " + run_folder + "\\Installer.zip",
            "Connecting through no proxy (from no proxy setting)",
            "Downloading finished",
            "Checking the package signature",
            f"The package signature is valid (key {packages.key_id('current')}; version {packages.product_version()} "
            "for the 32-bit build, signed TIME)",
            "Unzipping to " + extraction,
            "Unzipping 3 entries",
            "Extracting standin.cfg",
            "Extracting vcredist.exe",
            "Extracting Installer.exe",
            f'Run exe file: {extraction}\\vcredist.exe Args: "{extraction}\\vcredist.exe" {REDISTRIBUTABLE_ARGUMENTS}',
            "vcredist.exe ended with exit code 0",
            f'Run exe file: {extraction}\\Installer.exe Args:  -s -i x1 -u alice -p "C:\\Program Files\\App"',
            "Installer.exe ended with exit code 0",
            "Closing...",
            "Cleaning up temp install files",
            "Exit code: 0",
            harness.LAST_LOG_LINE,
        ], notes[1:], "the log's trail after the title line")

        linux_work, _ = work_folder()
        self.assertEqual([harness.LOG_NAME], os.listdir(linux_work), "the work folder keeps only the log")

    def test_the_build_follows_the_windows_version_unless_x86_is_forced(self):
        self.publish(lambda path: None)  # every request gets a 404: the address asked for is what counts
        cases = [(None, [], "/x86/Installer.zip", "Installing 32 bit app build"),
                 ("win10", [], "/x64/Installer.zip", "Installing 64 bit app build"),
                 ("win10", ["--x86"], "/x86/Installer.zip", "Installing 32 bit app build"),
                 ("win81", [], "/x86/Installer.zip", "Installing 32 bit app build")]
        try:
            for version, args, address, line in cases:
                with self.subTest(version=version, args=args):
                    set_windows_version(version)
                    with PackageServer(self.site, PORT, mode="404") as server:
                        run, _ = self.run_silent(args)
                        requests = server.requests()
                    self.assertEqual([address], requests)
                    self.assertLogHas("Note", line)
                    self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        finally:
            set_windows_version(None)

    # --- what the package carries and what the program is called --------------------------------

    def test_runtime_under_its_x86_name_and_no_tag_in_an_interactive_run(self):
        self.publish(self.package().without("vcredist.exe").with_program("vcredist_x86.exe").write)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    code = run.wait(60)
            watch.wait_for(lambda e: e["kind"] == "gone", 10, "its end")
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_SUCCESS, code)
        starts = self.starts()
        self.assertEqual(["vcredist_x86", "Installer"], [s["role"] for s in starts])
        extraction = harness.run_folder_of([m for level, m in log_entries()]) + "\\Installer"
        self.assertEqual(("vcredist_x86", [extraction + "\\vcredist_x86.exe", *REDISTRIBUTABLE_ARGUMENTS.split()]),
                         packages.argument_vectors(self.records)[0])
        installer = extraction + "\\Installer.exe"
        self.assertLogHas("Note", f"Run exe file: {installer} Args: ")
        # The empty argument text reaches the program as it is; Wine puts the program's quoted
        # path in place of an empty command line, Windows passes it on empty.
        self.assertIn(starts[1]["command_line"], ("", f'"{installer}"'))
        self.assertEqual(0, watch.windows()[-1]["visible"], "the window is hidden for the product installer")
        self.assertIn(PREPARING, [w["status"] for w in watch.windows()])

    def test_the_tag_is_what_follows_the_last_underscore(self):
        self.publish(self.package().write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent(name="a_b_c.d.exe")
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertEqual(" -s -i c", self.starts()[-1]["command_line"])
        self.assertEqual(["", "-s", "-i", "c"], packages.argument_vectors(self.records)[-1][1])

    def test_a_package_without_installer_fails_the_run(self):
        self.publish(self.package().without("Installer.exe").write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        run_folder = harness.run_folder_of([m for level, m in log_entries()])
        self.assertLogHas("Eerror", "Unable to run " + run_folder + "\\Installer\\Installer.exe")
        self.assertEqual(["vcredist"], [s["role"] for s in self.starts()])
        self.assertNoExtractionFolder()

    def test_a_corrupt_or_empty_package_runs_nothing(self):
        for name, write in [("corrupt", packages.write_corrupt_package), ("empty", packages.write_empty_package)]:
            with self.subTest(package=name):
                self.publish(write)
                with PackageServer(self.site, PORT):
                    run, out = self.run_silent()
                self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
                self.assertIn("\r\nFailed to extract files.\r\n", out)
                self.assertLogHas("Eerror", "Failed to extract files.")
                self.assertNothingRun()
                self.assertNoExtractionFolder()

    # --- downloads that fail --------------------------------------------------------------------

    def test_failed_downloads_are_reported_and_fail_the_run(self):
        self.publish(self.package().with_payload("payload.bin", 400_000).write)
        for mode in ("404", "refused", "drop"):
            with self.subTest(mode=mode):
                if mode == "refused":
                    run, out = self.run_silent()
                else:
                    with PackageServer(self.site, PORT, mode=mode):
                        run, out = self.run_silent()
                self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
                self.assertRegex(out, r"\r\n" + DOWNLOAD_FAILURE.pattern.replace(r"\n", r"\r\n") + r"\r\n$")
                errors = [message for level, message in log_entries() if level == "Eerror"]
                self.assertRegex("\n".join(errors), DOWNLOAD_FAILURE, "its two parts are consecutive error lines")
                self.assertNotIn(EXTRACTING, out)
                self.assertNothingRun()
                self.assertNoExtractionFolder()

    def test_an_interactive_download_failure_shows_the_error_box(self):
        self.publish(lambda path: None)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT, mode="404"):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    box = watch.wait_for(lambda e: e["kind"] == "box", 30, "an error box")
                    # The status line changes a moment before the bar is hidden: the watch may see both.
                    watch.wait_for(lambda e: e["kind"] == "window" and e["status"] == ERROR_OCCURRED
                                   and e["bar_visible"] == 0, 10, "the error status line and the progress bar hidden")
                    harness.screenshot(os.path.join(screenshot_folder(), "download-error.png"))
                    self.assertIsNone(run.wait(1), "the run ended while its error box was shown")
                    box_window = harness.wait_for_window("^QuorVel$")
                    harness.focus(box_window)
                    harness.key("Return")
                    code = run.wait(30)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_INSTALL_FAILURE, code)
        self.assertEqual("QuorVel", box["caption"])
        self.assertRegex(box["text"], "^" + DOWNLOAD_FAILURE.pattern + "$")
        self.assertNoExtractionFolder()

    def test_a_download_without_length_shows_no_byte_progress_and_completes(self):
        self.publish(self.package().with_payload("payload.bin", 600_000).write)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT, mode="slowchunked", piece=32768):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    code = run.wait(90)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_SUCCESS, code)
        fetching = [w for w in watch.windows() if w["status"] == FETCHING]
        self.assertGreater(len(fetching), 0, f"the download was never seen: {watch.events}")
        self.assertEqual({0}, {w["position"] for w in fetching}, "progress without a total")
        self.assertLogHas("Note", "Downloading finished")
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])

    # --- cancelling -------------------------------------------------------------------------

    def prepare_cancel(self, watch):
        """Waits for the cancel button, brings the dialog to the top (a setup program's console
        window may have opened over it) and returns the button's screen position."""
        shown = watch.wait_for(lambda e: e["kind"] == "window" and e["cancel_visible"] == 1, 20,
                               "the cancel button")
        self.assertEqual(CANCEL, shown["cancel_label"])
        harness.xdotool("windowraise", harness.wait_for_window("^QuorVel installer$"))
        # The pointer may still rest where an earlier test clicked; the click comes with a move.
        harness.xdotool("mousemove", "--sync", "1", "1")
        return shown["cancel_x"], shown["cancel_y"]

    def click_cancel(self, watch, shot=None):
        button = self.prepare_cancel(watch)
        if shot:
            harness.screenshot(os.path.join(screenshot_folder(), shot))
        harness.click(*button)

    def cancel_mid_download(self, watch, server_mode, pause=0.0):
        """Clicks Cancel once the download shows progress; returns the exit code (None: still running)."""
        self.publish(self.package().with_payload("payload.bin", 2_000_000).write)
        with PackageServer(self.site, PORT, mode=server_mode, piece=4096):
            with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                watch.wait_for(lambda e: e["kind"] == "window" and e["status"] == FETCHING and e["position"] > 0,
                               30, "download progress")
                time.sleep(pause)
                self.click_cancel(watch)
                return run.wait(30)

    def test_cancel_during_the_download(self):
        watch = WindowWatch()
        try:
            code = self.cancel_mid_download(watch, "slow")
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_USER_CANCELLED, code)
        entries = log_entries()
        notes = [m for level, m in entries if level == "Note"]
        self.assertEqual([], [e for e in entries if e[0] != "Note"], f"log: {entries}")
        for earlier, later in [("Downloading canceled", "Cleaning up temp install files"),
                               ("Closing...", "Cleaning up temp install files")]:
            self.assertLess(notes.index(earlier), notes.index(later), f"log: {notes}")
        self.assertNotIn("Downloading finished", notes)
        self.assertEqual([], watch.boxes(), "an error box after a cancel")
        self.assertNothingRun()
        self.assertNoExtractionFolder()

    def test_cancel_while_the_server_has_gone_silent(self):
        # No progress call comes while the server says nothing: the cancel must not wait for one.
        watch = WindowWatch()
        try:
            code = self.cancel_mid_download(watch, "stall", pause=1.0)  # half the body is in, no more comes
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_USER_CANCELLED, code)
        notes = [m for level, m in log_entries() if level == "Note"]
        self.assertIn("Downloading canceled", notes)
        self.assertEqual("Main window destroyed, exiting...", notes[-1])
        self.assertNothingRun()
        # The transfer the silent server holds is left behind with its part file open, so the run
        # folder may stay with that part file alone (the next run's start removes it); nothing
        # was unpacked.
        for folder in harness.run_folders():
            self.assertEqual([], [n for n in os.listdir(folder) if not n.startswith("Installer.zip.part")],
                             f"left in {folder}")

    def test_cancel_during_the_extraction(self):
        package = self.package()
        for folder in range(6):  # many entries, in several folders (one huge folder is slow in Wine)
            package.with_entries(1000, prefix=f"data{folder}/")
        self.publish(package.write)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT, mode="slow", piece=65536):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    button = self.prepare_cancel(watch)
                    watch.wait_for(lambda e: self.showing(e, EXTRACTING, 0.0, 0.5), 30, "extraction progress")
                    harness.click(*button)
                    code = run.wait(30)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_USER_CANCELLED, code)
        entries = log_entries()
        notes = [m for level, m in entries if level == "Note"]
        self.assertEqual([], [e for e in entries if e[0] != "Note"], f"log: {entries}")
        self.assertIn("Canceling extraction...", notes)
        self.assertLess(notes.index("Closing..."), notes.index("Canceling extraction..."))
        self.assertLess(notes.index("Canceling extraction..."), notes.index("Cleaning up temp install files"))
        extracted = sum(1 for m in notes if m.startswith("Extracting "))
        self.assertLess(extracted, 6000, "the extraction stopped early")
        self.assertEqual([], watch.boxes(), "an error box after a cancel")
        self.assertNothingRun()
        self.assertNoExtractionFolder()

    def test_cancel_while_the_runtime_installs_waits_for_it_and_runs_nothing_more(self):
        self.publish(self.package().wait("vcredist", 4000).write)
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    self.wait_for_the_runtime()
                    self.click_cancel(watch, "cancel-while-runtime-runs.png")
                    code = run.wait(30)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_USER_CANCELLED, code)
        records = packages.read_records(self.records)
        self.assertEqual([("start", "vcredist"), ("end", "vcredist")], [(r["kind"], r["role"]) for r in records],
                         "the runtime finished by itself and the product installer never started")
        notes = [m for level, m in log_entries() if level == "Note"]
        self.assertFalse(any(m.startswith("Run exe file:") and "Installer.exe" in m for m in notes), notes)
        self.assertNoExtractionFolder()

    # --- clean-up ---------------------------------------------------------------------------

    def test_a_file_held_open_at_cleanup_gives_one_warning(self):
        self.publish(self.package().hold_open("Installer", "standin.cfg", 3000).write)
        with PackageServer(self.site, PORT):
            run, out = self.run_silent()
        try:
            self.assertExit(harness.EXIT_SUCCESS, run)
            warnings = [m for level, m in log_entries() if level == "Warning"]
            self.assertEqual(1, len(warnings), f"log warnings: {warnings}")
            self.assertTrue(warnings[0].startswith(CLEANUP_WARNING) and len(warnings[0]) > len(CLEANUP_WARNING),
                            warnings[0])
            self.assertTrue(out.endswith("\r\n" + warnings[0] + "\r\n"), f"standard output: {out!r}")
        finally:
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline and not any(
                    r["kind"] == "released" for r in packages.read_records(self.records)):
                time.sleep(0.1)
            harness.remove_run_folders()

    # --- what the user sees of the progress ---------------------------------------------------

    def test_progress_is_shown_during_download_and_extraction(self):
        self.publish(self.package().with_payload("payload.bin", 3_000_000).with_entries(3000).write)
        shots = screenshot_folder()
        watch = WindowWatch()
        try:
            with PackageServer(self.site, PORT, mode="slow", piece=32768):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    first = watch.wait_for(lambda e: self.showing(e, FETCHING, 0.2, 0.6), 30, "download progress")
                    download_shot = harness.screenshot(os.path.join(shots, "downloading.png"))
                    watch.wait_for(lambda e: self.showing(e, FETCHING, 0.6, 1.0), 30, "the download progress moving")
                    extracting = watch.wait_for(lambda e: self.showing(e, EXTRACTING, 0.1, 0.4), 60,
                                                "extraction progress")
                    extraction_shot = harness.screenshot(os.path.join(shots, "extracting.png"))
                    code = run.wait(90)
        finally:
            watch.stop()
        self.assertExit(harness.EXIT_SUCCESS, code)
        self.assertGreater(first["maximum"], 3_000_000, "bytes in all")
        self.assertEqual(3005, extracting["maximum"],
                         "one step per entry: configuration, 2 programs, payload, 3000 files and their folder")
        for shot in (download_shot, extraction_shot):
            middle = (first["bar_top"] + first["bar_bottom"]) // 2
            width = first["bar_right"] - first["bar_left"]
            filled = harness.pixel(shot, first["bar_left"] + width // 10, middle)
            empty = harness.pixel(shot, first["bar_right"] - width // 20, middle)
            self.assertNotEqual(filled, empty, f"{shot}: the bar should be partly filled")

    @staticmethod
    def showing(event, status, low, high):
        """The window shows |status| with the bar between |low| and |high| of its range."""
        return (event["kind"] == "window" and event["status"] == status and event["maximum"] > 0
                and low * event["maximum"] < event["position"] < high * event["maximum"])


if __name__ == "__main__":
    unittest.main()
