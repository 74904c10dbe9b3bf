"""The installer as an attacker meets it: it runs with administrator rights from a folder anybody
can write to (Downloads), works in places other programs can reach, may be started twice, and
hands values it was given to the programs it starts.

The real program (QuorVelSetupTest.exe) runs under Wine against the local package server, with the
stand-in setup programs. Wine enforces no security descriptors and runs everything as an
administrator, so these tests plant what an ordinary user could plant and check that nothing of it
runs, is entered or is deleted; what only Windows enforces (the descriptor of the folders) is
checked by the unit tests on the descriptor the program hands to the system.
"""
import os
import shutil
import subprocess
import time
import unittest

import harness
import packages
from server import PackageServer
from test_pipeline import PORT, STANDINS, PipelineTest, log_entries, temp_folder, work_folder

E2E_BUILD = os.path.join(harness.BUILD_DIR, "tests", "e2e")
MARKER_DLL = os.path.join(STANDINS, "marker.dll")
DLL_PROBE = os.path.join(STANDINS, "dll_probe.exe")
# Every DLL the program reaches that is not one of Windows' KnownDLLs, and some they use in turn.
# Not zlib1 and version: Wine's own user32.dll imports both (Windows' user32 imports neither), so
# under Wine they are taken from the folder of any program that uses user32, before its first
# line; that the program itself imports neither is what shipped_program_imports checks.
PLANTED_DLLS = ("urlmon", "uxtheme", "comctl32", "bcrypt", "wininet", "iertutil", "dwmapi", "winhttp", "propsys",
                "cryptbase")
ALREADY_RUNNING = "Another installation is already in progress."


def stop_holder(process):
    harness._stop(process)
    process.stdout.close()


def hold_file(windows_path, share, seconds=60):
    """A Windows program that keeps |windows_path| open (|share|: "read" or "none"), as a program of
    the user would; returns the process once the file is held. End it with stop_holder."""
    process = subprocess.Popen(
        [harness.WINE_ENV, "run", harness.BUILD_DIR, os.path.join(STANDINS, "Installer.exe"), "--hold-file",
         windows_path, str(seconds * 1000), share],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
    line = process.stdout.readline().decode().strip()
    if line != "holding 1":
        stop_holder(process)
        raise AssertionError(f"could not hold {windows_path}: {line!r}")
    return process


def tree_snapshot(root):
    """{relative path: bytes or None for a folder} of everything below |root|."""
    snapshot = {}
    for folder, folders, files in os.walk(root):
        for name in folders:
            snapshot[os.path.relpath(os.path.join(folder, name), root)] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                snapshot[os.path.relpath(os.path.join(folder, name), root)] = f.read()
    return snapshot


class SafetyTest(PipelineTest):

    def setUp(self):
        super().setUp()
        self.victim = os.path.join(self.folder, "victim")
        os.makedirs(os.path.join(self.victim, "sub"))
        for name in ("precious.txt", os.path.join("sub", "deep.txt")):
            with open(os.path.join(self.victim, name), "w") as f:
                f.write("not the installer's to delete\n")
        self.victim_before = tree_snapshot(self.victim)
        self.evil_records = os.path.join(self.folder, "evil-records.txt")
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            stop_holder(holder)
        if os.path.islink(harness.RUN_FOLDER_PARENT):
            os.remove(harness.RUN_FOLDER_PARENT)
        harness.remove_run_folders()
        super().tearDown()

    # --- building blocks -------------------------------------------------------------------

    def plant_programs(self, folder):
        """Stand-ins that record into the evil records file: they must never run."""
        os.makedirs(folder, exist_ok=True)
        for name in ("Installer.exe", "vcredist.exe", "vcredist_x86.exe"):
            shutil.copy(os.path.join(STANDINS, name), os.path.join(folder, name))
        with open(os.path.join(folder, "standin.cfg"), "w") as f:
            f.write(f"log={packages.windows_path(self.evil_records)}\r\n")

    def assertVictimUntouched(self):
        self.assertEqual(self.victim_before, tree_snapshot(self.victim), "a folder that is not ours was changed")

    def assertOnlyThePackagesProgramsRan(self):
        self.assertEqual([], packages.read_records(self.evil_records), "a planted program ran")
        starts = self.starts()
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in starts], f"records: {starts}")
        run_folder = harness.run_folder_of([m for level, m in log_entries()])
        for start in starts:
            self.assertEqual(run_folder + "\\Installer", start["cwd"].rstrip("\\"))

    # --- no DLL from the program's folder -------------------------------------------------------

    def test_marker_dlls_beside_the_program_are_never_loaded(self):
        downloads = os.path.join(self.folder, "Downloads")
        os.makedirs(downloads)
        for name in PLANTED_DLLS:
            shutil.copy(MARKER_DLL, os.path.join(downloads, name + ".dll"))
        shutil.copy(DLL_PROBE, downloads)
        markers = os.path.join(downloads, "markers-loaded.txt")
        env = dict(os.environ, WINEDLLOVERRIDES=",".join(PLANTED_DLLS) + "=n,b")

        # The control: with Windows' own search order a program that loads a DLL the ordinary way
        # gets the one beside it, and the marker says so.
        harness.run_program(os.path.join(downloads, "dll_probe.exe"), ["uxtheme.dll"], env=env)
        with open(markers, encoding="utf-8") as f:
            self.assertIn("uxtheme.dll\t", f.read())
        os.remove(markers)

        self.publish(self.package().write)
        program = os.path.join(downloads, "QuorVelSetupTest.exe")
        shutil.copy(harness.TEST_INSTALLER, program)
        with PackageServer(self.site, PORT):
            silent = harness.run_program(program, ["-s"], timeout=90, env=env)
        self.assertExit(harness.EXIT_SUCCESS, silent)
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
        self.assertFalse(os.path.exists(markers), "planted DLLs were loaded: " +
                         (open(markers, encoding="utf-8").read() if os.path.exists(markers) else ""))

    # --- the old place of the work files: %TEMP%\QuorVel ----------------------------------------

    def test_planted_and_stale_programs_at_the_old_place_never_run(self):
        linux_work, windows_work = work_folder()
        self.plant_programs(os.path.join(linux_work, "Installer"))
        packages.write_corrupt_package(os.path.join(linux_work, "Installer.zip"))
        planted = tree_snapshot(linux_work)
        # The planted product installer is held open, so that nobody could write over it.
        self.holders.append(hold_file(windows_work + "Installer\\Installer.exe", "read"))
        self.publish(self.package().without("vcredist.exe").with_program("vcredist_x86.exe").write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertEqual([], packages.read_records(self.evil_records), "a planted program ran")
        self.assertEqual(["vcredist_x86", "Installer"], [s["role"] for s in self.starts()])
        after = tree_snapshot(linux_work)
        after.pop(harness.LOG_NAME)
        self.assertEqual(planted, after, "what was planted in the user's folder was touched")

    def test_a_link_at_the_old_place_leads_nowhere(self):
        linux_work, _ = work_folder()
        os.makedirs(linux_work)
        os.symlink(self.victim, os.path.join(linux_work, "Installer"))
        self.publish(self.package().write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertOnlyThePackagesProgramsRan()
        self.assertVictimUntouched()

    def test_a_link_at_the_logs_name_does_not_reach_its_target(self):
        linux_work, _ = work_folder()
        os.makedirs(linux_work, exist_ok=True)
        log = os.path.join(linux_work, harness.LOG_NAME)
        if os.path.lexists(log):
            os.remove(log)
        os.link(os.path.join(self.victim, "precious.txt"), log)  # the user's hard link to a file not theirs
        run = harness.run_program(self.program("QuorVelSetup.exe"), ["--version"])
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertVictimUntouched()
        self.assertIn("Main window destroyed, exiting...", [m for _, m in log_entries()])

    # --- the new place: the run folders ------------------------------------------------------

    def test_abandoned_run_folders_go_owned_ones_and_links_stay(self):
        os.makedirs(harness.RUN_FOLDER_PARENT, exist_ok=True)
        crashed = os.path.join(harness.RUN_FOLDER_PARENT, "QuorVel-00000000DEADBEEF")
        self.plant_programs(os.path.join(crashed, "Installer"))
        owned = os.path.join(harness.RUN_FOLDER_PARENT, "QuorVel-1111111111111111")
        os.makedirs(owned)
        with open(os.path.join(owned, "owner.lock"), "w"):
            pass
        self.holders.append(hold_file(harness.RUN_FOLDER_PARENT_WINDOWS + "\\QuorVel-1111111111111111\\owner.lock",
                                      "none"))
        linked = os.path.join(harness.RUN_FOLDER_PARENT, "QuorVel-2222222222222222")
        os.symlink(self.victim, linked)

        self.publish(self.package().write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertOnlyThePackagesProgramsRan()
        self.assertFalse(os.path.exists(crashed), "the crashed run's folder was not removed")
        self.assertTrue(os.path.exists(os.path.join(owned, "owner.lock")), "a running copy's folder was removed")
        self.assertVictimUntouched()
        entries = log_entries()
        self.assertIn(("Note", "Removing the folder of an earlier run: " + harness.RUN_FOLDER_PARENT_WINDOWS +
                       "\\QuorVel-00000000DEADBEEF"), entries)
        # Wine shows a symbolic link as a plain folder; the folder's real place gives it away.
        refused = [m for level, m in entries if level == "Warning" and "QuorVel-2222222222222222" in m]
        self.assertEqual(1, len(refused), f"the link was not refused: {entries}")
        self.assertTrue(refused[0].startswith("Unable to remove " + harness.RUN_FOLDER_PARENT_WINDOWS), refused)
        stop_holder(self.holders.pop())
        self.assertEqual(sorted([owned, linked]), harness.run_folders(), "the run's own folder is gone")

    def test_a_link_in_place_of_our_parent_folder_is_refused(self):
        shutil.rmtree(harness.RUN_FOLDER_PARENT, ignore_errors=True)
        os.symlink(self.victim, harness.RUN_FOLDER_PARENT)
        self.publish(self.package().write)
        with PackageServer(self.site, PORT) as server:
            run, out = self.run_silent()
            requests = server.requests()
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertIn("Creating work folder failed", out)
        self.assertEqual([], requests, "nothing was downloaded")
        self.assertNothingRun()
        self.assertVictimUntouched()

    def test_a_program_cannot_be_swapped_while_the_runtime_runs(self):
        package = self.package()
        package.settings["vcredist.swap"] = "Installer.exe"
        self.publish(package.write)
        with PackageServer(self.site, PORT):
            run, _ = self.run_silent()
        self.assertExit(harness.EXIT_SUCCESS, run)
        with open(self.records, encoding="utf-8") as records:
            swaps = [line.split("\t")[3] for line in records.read().splitlines() if line.startswith("swap\t")]
        sharing_violation = "32"
        self.assertEqual([f"write={sharing_violation},rename={sharing_violation},delete={sharing_violation}"], swaps,
                         "the product installer could be changed before it ran")
        self.assertOnlyThePackagesProgramsRan()

    # --- one installation at a time ----------------------------------------------------------

    def test_a_second_copy_changes_nothing_of_the_running_one(self):
        # The runtime takes long enough for the four runs of the second copy on a loaded machine.
        self.publish(self.package().wait("vcredist", 20000).write)
        second = self.program("QuorVelSetup_second.exe")
        with PackageServer(self.site, PORT) as server:
            with harness.StartedInstaller(["-s"], program=self.program("QuorVelSetupTest.exe")) as first:
                deadline = time.monotonic() + 60
                while not self.starts() and time.monotonic() < deadline:
                    time.sleep(0.1)
                self.assertEqual(["vcredist"], [s["role"] for s in self.starts()], "the first copy is installing")
                log_while_running = harness.read_log()
                folders_while_running = harness.run_folders()

                version = harness.run_program(second, ["--version"])
                rejected = harness.run_program(second, ["--foo"])
                silent = harness.run_program(second, ["-s", "-u", "mallory"])
                interactive = harness.run_program(second, [])
                self.assertEqual(log_while_running, harness.read_log(), "a second copy changed the running copy's log")
                self.assertEqual(folders_while_running, harness.run_folders())
                code = first.wait(60)
            requests = server.requests()

        self.assertExit(harness.EXIT_SUCCESS, version)
        self.assertEqual("\r\nQuorVel Installer version 1.5.0.88\r\n", version.stdout.decode())
        self.assertExit(harness.EXIT_BAD_COMMAND_LINE, rejected)
        self.assertIn("Failed to parse command line arguments", rejected.stdout.decode())
        self.assertExit(harness.EXIT_ALREADY_RUNNING, silent)
        self.assertIn(ALREADY_RUNNING + "\r\n", silent.stdout.decode())
        self.assertExit(harness.EXIT_ALREADY_RUNNING, interactive)

        self.assertExit(harness.EXIT_SUCCESS, code)
        self.assertEqual(1, len(folders_while_running), "one run folder while one installation runs")
        self.assertEqual(1, len(requests), "only the first copy downloaded")
        final_log = harness.read_log()
        self.assertTrue(final_log.startswith(log_while_running), "the running copy's log lost what it held")
        self.assertNotIn(b"\0", final_log)
        notes = [m for level, m in log_entries() if level == "Note"]
        self.assertEqual(harness.LAST_LOG_LINE, notes[-1])
        self.assertNotIn("mallory", final_log.decode("utf-8"))
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])

    # --- arguments arrive exactly ---------------------------------------------------------------

    def test_each_value_arrives_as_one_argument(self):
        cases = [
            ("QuorVelSetup_ab12 (1).exe", ["-u", "alice smith", "-p", "C:\\Program Files\\App\\"],
             ["-s", "-i", "ab12 (1)", "-u", "alice smith", "-p", "C:\\Program Files\\App\\"]),
            ("QuorVelSetup.exe", ["-u", "alice -p C:\\evil", "-p", 'C:\\a "b"\\'],
             ["-s", "-u", "alice -p C:\\evil", "-p", 'C:\\a "b"\\']),
            ("QuorVelSetup_t.exe", ["-u", 'tab\there "q"', "--path="],
             ["-s", "-i", "t", "-u", 'tab\there "q"', "-p", ""]),
        ]
        self.publish(self.package().write)
        with PackageServer(self.site, PORT):
            for name, args, expected in cases:
                with self.subTest(name=name, args=args):
                    open(self.records, "w").close()
                    run, _ = self.run_silent(args, name=name)
                    self.assertExit(harness.EXIT_SUCCESS, run)
                    vectors = packages.argument_vectors(self.records)
                    self.assertEqual(["vcredist", "Installer"], [role for role, _ in vectors])
                    self.assertEqual(expected, vectors[1][1][1:], "what the product installer parsed")
                    redistributable = harness.run_folder_of([m for level, m in log_entries()]) + \
                        "\\Installer\\vcredist.exe"
                    self.assertEqual([redistributable, "/install", "/quiet", "/norestart"], vectors[0][1])


def load_tests(loader, tests, pattern):
    """Only this file's tests (the pipeline's own run in e2e_pipeline)."""
    return unittest.TestSuite(SafetyTest(name) for name in sorted(vars(SafetyTest)) if name.startswith("test_"))


if __name__ == "__main__":
    unittest.main()
