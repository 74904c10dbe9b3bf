"""An interactive run as a user meets it under Xvfb: the dialog appears with the template's size,
keys with a dialog meaning elsewhere do nothing, and Alt+F4 ends the run with exit code 0."""
import os
import subprocess
import tempfile
import time
import unittest

import harness
from server import PackageServer

# The dialog template: 313 x 82 dialog units in 8 point "MS Shell Dlg", weight 400, charset 1.
TEMPLATE_SIZE = (313, 82)
TEMPLATE_FONT = ("MS Shell Dlg", "8", "400", "1")
TITLE = "^QuorVel"
BACKGROUND = (0, 0, 0)  # the empty Xvfb screen


def dialog_base_units():
    tool = os.path.join(harness.BUILD_DIR, "tests", "e2e", "dialog_base_units.exe")
    out = harness.run_program(tool, list(TEMPLATE_FONT))
    if out.returncode != 0:
        raise AssertionError(f"dialog_base_units failed: {out.returncode} {out.stderr!r}")
    horizontal, vertical = (int(v) for v in out.stdout.split())
    return horizontal, vertical


def painted_pixel(x, y, timeout=10):
    """The screen's pixel at (x, y) once it is no longer the empty background, or the background
    after |timeout| seconds. A window is visible before it has painted itself, and under emulation
    (the i686 build runs through qemu) its first paint can take seconds."""
    deadline = time.monotonic() + timeout
    with tempfile.TemporaryDirectory() as folder:
        while True:
            seen = harness.pixel(harness.screenshot(os.path.join(folder, "screen.png")), x, y)
            if seen != BACKGROUND or time.monotonic() > deadline:
                return seen
            time.sleep(0.2)


class InteractiveRunTest(harness.WineTestCase):

    def test_the_dialog_has_the_template_size_and_closes_with_alt_f4(self):
        horizontal, vertical = dialog_base_units()
        expected = (harness.mul_div(TEMPLATE_SIZE[0], horizontal, 4), harness.mul_div(TEMPLATE_SIZE[1], vertical, 8))
        harness.remove_log()
        # A package that arrives slowly keeps the run in its download while the keys are tried.
        site = tempfile.TemporaryDirectory()
        for build in ("x86", "x64"):
            os.makedirs(os.path.join(site.name, build))
            with open(os.path.join(site.name, build, "Installer.zip"), "wb") as package:
                package.write(bytes(2_000_000))
        with site, PackageServer(site.name, harness.test_server_port(), mode="slow"), \
                harness.StartedInstaller(program=harness.TEST_INSTALLER) as run:
            window = harness.wait_for_window(TITLE)
            geometry = harness.window_geometry(window)
            self.assertEqual(expected, (geometry["WIDTH"], geometry["HEIGHT"]),
                             f"client size for base units {horizontal}x{vertical}")

            centre = (geometry["X"] + geometry["WIDTH"] // 2, geometry["Y"] + geometry["HEIGHT"] // 2)
            self.assertNotEqual(BACKGROUND, painted_pixel(*centre), "the dialog is not on the screen")

            harness.focus(window)
            harness.key("Escape")
            harness.key("Return")
            self.assertIsNone(run.wait(1.5), "Esc or Enter ended the run, but they have no dialog meaning")

            harness.close_with_alt_f4(window)
            code = run.wait(15)
        self.assertEqual(harness.seen_exit_code(harness.EXIT_USER_CANCELLED), code, "exit code after Alt+F4")
        entries = harness.log_entries()
        self.assertEqual(("Note", harness.LAST_LOG_LINE), entries[-1], f"log: {entries}")


if __name__ == "__main__":
    unittest.main()
