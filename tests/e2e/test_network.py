"""The download as real networks and desktops treat it: dropped connections and busy servers are
retried, a silent server cannot hold a run for ever, a cached package is never installed, redirects
are followed, an HTML page is not taken for the package, the window keeps answering while a close
waits, and every text reaches the log and standard output as UTF-8 in every language.

The program is QuorVelSetupTest.exe, built with short download pauses (0.2, 0.4, 0.8 s) and a 3 s
stall limit; the real 2, 4, 8 s and 30 s are checked by the unit tests.
"""
import os
import re
import shutil
import socket
import subprocess
import time

import harness
import packages
from server import PackageServer
from test_pipeline import (DOWNLOAD_FAILURE, PORT, PipelineTest, WindowWatch, log_entries, work_folder)

E2E_BUILD = os.path.join(harness.BUILD_DIR, "tests", "e2e")
WINDOW_PING = os.path.join(E2E_BUILD, "window_ping.exe")
STALL_LIMIT_S = 3


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class NetworkTest(PipelineTest):
    def warnings(self):
        return [m for level, m in log_entries() if level == "Warning" and m.startswith("Download attempt ")]

    def assertAttempts(self, server, count):
        self.assertEqual(count, len(server.requests()), f"requests: {server.requests()}")

    # --- retries ------------------------------------------------------------------------------

    def test_transient_failures_are_retried_and_others_are_not(self):
        self.publish(self.package().with_payload("payload.bin", 300_000).write)
        cases = [  # mode, server options, exit code, attempts, a piece of each warning
            ("dropfirst", {"times": 2}, harness.EXIT_SUCCESS, 3, "the connection"),
            ("closefirst", {"times": 2}, harness.EXIT_SUCCESS, 3, "without an answer"),
            ("busy", {"times": 2}, harness.EXIT_SUCCESS, 3, "HTTP status 503"),
            ("busy", {"times": 1, "retry_after": 1}, harness.EXIT_SUCCESS, 2, "HTTP status 503"),
            ("busy", {"times": 9}, harness.EXIT_INSTALL_FAILURE, 4, "HTTP status 503"),
            ("404", {}, harness.EXIT_INSTALL_FAILURE, 1, "HTTP status 404"),
        ]
        for mode, options, code, attempts, reason in cases:
            with self.subTest(mode=mode, **options):
                with PackageServer(self.site, PORT, mode=mode, **options) as server:
                    started = time.monotonic()
                    run, out = self.run_silent()
                    took = time.monotonic() - started
                    self.assertAttempts(server, attempts)
                self.assertExit(code, run)
                warnings = self.warnings()
                self.assertEqual([f"Download attempt {n} of 4 failed" for n in range(1, len(warnings) + 1)],
                                 [w.split(":")[0] for w in warnings])
                self.assertTrue(all(reason in w for w in warnings), warnings)
                self.assertEqual(attempts - (code == harness.EXIT_SUCCESS), len(warnings), warnings)
                failures = DOWNLOAD_FAILURE.pattern.replace(r"\n", r"\r\n")
                if code == harness.EXIT_SUCCESS:
                    self.assertNotRegex(out, failures, "the user saw a failure that a retry mended")
                    self.assertLogHas("Note", "Downloading finished")
                    self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
                else:
                    self.assertEqual(1, len(re.findall(failures, out)), f"standard output: {out!r}")
                    self.assertNothingRun()
                if options.get("retry_after"):
                    self.assertLogHas("Note", "Trying the download again in 1 s")
                    self.assertGreaterEqual(took, 1.0)
                self.assertEqual(attempts, out.count("Fetching files..."), "each attempt shows the status line afresh")
                if os.path.exists(self.records):
                    os.remove(self.records)

    def test_a_refused_connection_is_tried_four_times(self):
        self.publish(self.package().write)
        run, out = self.run_silent()  # nobody listens on the port
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertEqual(4, len(self.warnings()), self.warnings())
        self.assertRegex(out, DOWNLOAD_FAILURE.pattern.replace(r"\n", r"\r\n") + r"\r\n$")

    # --- stalls -------------------------------------------------------------------------------

    def test_a_stalled_silent_run_ends_and_a_stall_is_retried(self):
        self.publish(self.package().with_payload("payload.bin", 400_000).write)
        with PackageServer(self.site, PORT, mode="stallfirst", times=9, stall_seconds=60) as server:
            started = time.monotonic()
            run, out = self.run_silent(timeout=90)
            took = time.monotonic() - started
            self.assertAttempts(server, 4)
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertLess(took, 4 * STALL_LIMIT_S + 1.4 + 30, "four stalls of 3 s and the pauses, with Wine's start")
        self.assertGreaterEqual(took, 4 * STALL_LIMIT_S)
        warnings = self.warnings()
        self.assertEqual(4, len(warnings), warnings)
        self.assertTrue(all(f"no data arrived for {STALL_LIMIT_S} s" in w for w in warnings), warnings)

        with PackageServer(self.site, PORT, mode="stallfirst", times=1, stall_seconds=60) as server:
            run, _ = self.run_silent(timeout=90)
            self.assertAttempts(server, 2)
        self.assertExit(harness.EXIT_SUCCESS, run)
        self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
        # Nothing of the stalled attempt reached the package; a transfer that did not stop when
        # asked (Wine's WinINet does not end a blocked read when its handle is closed) may leave
        # its own file, which the next run removes.
        linux_work, _ = work_folder()
        self.assertLessEqual(set(os.listdir(linux_work)), harness.LOG_NAMES | {"Installer.zip.part1"})

    # --- always the current package -----------------------------------------------------------

    def test_each_run_installs_the_package_current_at_its_start(self):
        for generation in ("first", "second"):
            with self.subTest(generation=generation):
                self.publish(self.package().with_payload(f"{generation}.bin", 1000).write)
                with PackageServer(self.site, PORT, mode="cached"):
                    run, _ = self.run_silent()
                self.assertExit(harness.EXIT_SUCCESS, run)
                extracted = [m for level, m in log_entries() if m.startswith("Extracting ") and m.endswith(".bin")]
                self.assertEqual([f"Extracting {generation}.bin"], extracted)

    # --- redirects ----------------------------------------------------------------------------

    def test_a_redirect_to_another_port_is_followed(self):
        self.publish(self.package().write)
        other = free_port()
        with PackageServer(self.site, other) as target:
            with PackageServer(self.site, PORT, mode="redirect", location=f"http://127.0.0.1:{other}",
                               requests_file=os.path.join(self.folder, "redirects.txt")) as redirecting:
                run, _ = self.run_silent()
                self.assertEqual(1, len(redirecting.requests()))
            self.assertEqual(redirecting.requests(), target.requests())
        self.assertExit(harness.EXIT_SUCCESS, run)

    def test_an_html_page_is_not_a_package(self):
        with PackageServer(self.site, PORT, mode="html") as server:
            run, out = self.run_silent()
            self.assertAttempts(server, 1)
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertIn("\r\nThe downloaded package is not authentic.\r\n", out)
        self.assertNothingRun()

    # --- the window during a long wait --------------------------------------------------------

    def test_the_window_answers_while_a_close_waits_for_the_runtime(self):
        self.publish(self.package().wait("vcredist", 8000).write)
        watch = WindowWatch()
        ping = None
        try:
            with PackageServer(self.site, PORT):
                with harness.StartedInstaller([], program=self.program("QuorVelSetupTest.exe")) as run:
                    # The pinger starts with the run (it finds the window itself), so that it is
                    # ready before the runtime is.
                    ping = subprocess.Popen([harness.WINE_ENV, "run", harness.BUILD_DIR, WINDOW_PING, "QuorVel", "60"],
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
                    self.wait_for_the_runtime()
                    self.click_cancel(watch)
                    time.sleep(0.5)
                    window = harness.wait_for_window("^QuorVel installer$")
                    harness.close_with_alt_f4(window)  # a second close while the first waits
                    code = run.wait(30)
                    report = ping.communicate(timeout=30)[0].decode()
        finally:
            watch.stop()
            if ping is not None:
                harness._stop(ping)
        self.assertExit(harness.EXIT_USER_CANCELLED, code)
        fields = report.strip().split("\t")
        self.assertEqual("ping", fields[0], report)
        answered, longest, unanswered = int(fields[1]), int(fields[2]), int(fields[3])
        self.assertGreater(answered, 20, f"the window was pinged all through the wait: {report}")
        self.assertEqual(0, unanswered, report)
        self.assertLess(longest, 1000, f"the window never waited more than a second to answer: {report}")
        notes = [m for level, m in log_entries() if level == "Note"]
        self.assertEqual(1, notes.count("Closing..."), notes)
        self.assertEqual(1, notes.count("Cleaning up temp install files"), notes)
        records = packages.read_records(self.records)
        self.assertEqual([("start", "vcredist"), ("end", "vcredist")], [(r["kind"], r["role"]) for r in records])

    # --- resuming and proxies ----------------------------------------------------------------

    def test_a_broken_download_goes_on_where_it_broke_when_the_server_can(self):
        size, piece = 300_000_000, 20_000_000  # more breaks than the four tries
        self.publish(self.package().with_payload("payload.bin", size).write)
        package_size = os.path.getsize(os.path.join(self.site, "x86", "Installer.zip"))
        pieces = -(-package_size // piece)
        cases = [  # mode, server options, attempts, resumes, fresh starts
            ("cutevery", {"piece": piece}, pieces, pieces - 1, 0),
            ("norange", {"piece": piece, "times": 1}, 2, 0, 1),
            ("etagchange", {"piece": piece, "times": 1}, 2, 0, 1),
        ]
        for mode, options, attempts, resumes, fresh in cases:
            with self.subTest(mode=mode):
                with PackageServer(self.site, PORT, mode=mode, **options) as server:
                    run, _ = self.run_silent(timeout=600)
                    self.assertAttempts(server, attempts)
                self.assertExit(harness.EXIT_SUCCESS, run)
                notes = [m for level, m in log_entries() if level == "Note"]
                self.assertEqual([f"Resuming the download at byte {piece * n}" for n in range(1, resumes + 1)],
                                 [m for m in notes if m.startswith("Resuming")])
                self.assertEqual(fresh, notes.count("The server sent the whole package again; the download starts over"))
                kept = [w for w in self.warnings() if w.endswith("so this one does not count)")]
                self.assertEqual(resumes + fresh, len(kept), self.warnings())
                self.assertIn(f"The package signature is valid (key {packages.key_id()}",
                              " ".join(notes), "the package arrived whole")
                self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
                os.remove(self.records)

    def test_the_proxy_option_is_used_and_a_sign_in_it_cannot_give_fails(self):
        from proxy import ForwardProxy
        self.publish(self.package().write)
        proxy_port = free_port()
        address = f"127.0.0.1:{proxy_port}"
        cases = [  # proxy mode, --proxy, exit code, the log's proxy line, requests the proxy saw
            ("forward", address, harness.EXIT_SUCCESS, f"the proxy {address} (from the --proxy option)",
             [f"GET http://127.0.0.1:{PORT}/x86/Installer.zip"]),
            ("forward", "direct", harness.EXIT_SUCCESS, "no proxy (from the --proxy option)", []),
            ("auth407", f"http://{address}/", harness.EXIT_INSTALL_FAILURE,
             f"the proxy {address} (from the --proxy option)", [f"GET http://127.0.0.1:{PORT}/x86/Installer.zip"]),
        ]
        for mode, option, code, line, seen in cases:
            with self.subTest(mode=mode, proxy=option):
                requests = os.path.join(self.folder, f"proxy-{mode}.txt")
                with PackageServer(self.site, PORT), ForwardProxy(proxy_port, requests, mode=mode):
                    run, out = self.run_silent(["--proxy", option])
                self.assertExit(code, run)
                self.assertLogHas("Note", "Connecting through " + line)
                with open(requests, encoding="utf-8") as file:
                    # Windows names the whole address, Wine's WinHTTP only the path (and the Host).
                    self.assertEqual(seen, [re.sub(r"^GET /", f"GET http://127.0.0.1:{PORT}/", r.split("\t")[0])
                                            for r in file.read().splitlines()])
                if code == harness.EXIT_INSTALL_FAILURE:
                    refusal = f"The proxy {address} requires a sign-in that this account does not have."
                    self.assertTrue(any(refusal in m for level, m in log_entries() if level == "Eerror"), log_entries())
                    self.assertEqual(1, len(self.warnings()), "a refused sign-in is not retried")
                    self.assertNothingRun()
                else:
                    self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
                    os.remove(self.records)

    # --- texts ---------------------------------------------------------------------------------

    def test_log_and_output_are_utf8_in_every_language(self):
        self.publish(self.package().hold_open("Installer", "standin.cfg", 3000).write)
        for lang in ("de_DE.UTF-8", "es_ES.UTF-8", "fr_FR.UTF-8"):
            with self.subTest(lang=lang):
                env = dict(os.environ, LANG=lang, LC_ALL=lang)
                # A failure with a system text (nobody listens), then a clean-up warning.
                failed = harness.run_program(self.program("QuorVelSetupTest.exe"), ["-s"], timeout=90, env=env)
                failed_log = harness.read_log()
                with PackageServer(self.site, PORT):
                    held = harness.run_program(self.program("QuorVelSetupTest.exe"), ["-s"], timeout=90, env=env)
                held_log = harness.read_log()
                for name, data in (("failure output", failed.stdout), ("failure log", failed_log),
                                   ("clean-up output", held.stdout), ("clean-up log", held_log)):
                    try:
                        data.decode("utf-8")
                    except UnicodeDecodeError as error:
                        self.fail(f"{lang} {name} is not UTF-8: {error}: {data!r}")
                self.assertIn(b"Unable to clean up install files. Reason: ", held.stdout)
                self.wait_for_release()

    def wait_for_release(self):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and not any(
                r["kind"] == "released" for r in packages.read_records(self.records)):
            time.sleep(0.1)
        linux_work, _ = work_folder()
        shutil.rmtree(os.path.join(linux_work, "Installer"), ignore_errors=True)
        if os.path.exists(self.records):
            os.remove(self.records)

    def test_a_work_folder_that_is_a_file_is_reported_as_such(self):
        linux_work, windows_work = work_folder()
        with open(linux_work, "w") as blocker:
            blocker.write("not a folder")
        try:
            run, out = self.run_silent()
        finally:
            os.remove(linux_work)
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        self.assertIn(windows_work.rstrip("\\") + " is a file, not a folder.", out)
        self.assertNotIn("Check your Internet connection.", out)


# Only this file's tests: the inherited ones run in the pipeline suite.
for _name in [n for n in vars(PipelineTest) if n.startswith("test_")]:
    setattr(NetworkTest, _name, None)

if __name__ == "__main__":
    import unittest
    unittest.main(defaultTest="NetworkTest")
