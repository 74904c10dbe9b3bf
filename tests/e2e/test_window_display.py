"""What the installer window shows, checked on the real program under Wine and Xvfb.

The program is QuorVelSetupTest.exe (the installer with its download addresses on the local test
port). Its download is served by a package server that sends 300000 of 1000000 bytes and then
stalls, so the window stays in its downloading state: status line, Cancel button and a progress
bar at 30 %. tests/ui/window_driver.exe (a separate test program that finds the window by its
title) reads the window's state, posts it progress messages and closes it. Screenshots of the
display are read back pixel by pixel; the English and German window, with and without the pointer
on the cancel button, are kept in <build>/screenshots.
"""
import os
import re
import select
import socket
import subprocess
import threading
import time
import unittest

import harness

DRIVER = os.path.join(harness.BUILD_DIR, "tests", "ui", "window_driver.exe")
SCREENSHOTS = os.path.join(harness.BUILD_DIR, "screenshots")
SCREEN = (1280, 1024)  # the Xvfb screen; without a window manager it is all work area

# A run closed by the user during its download ends as cancelled.
CANCELLED = harness.seen_exit_code(harness.EXIT_USER_CANCELLED)

WHITE = (255, 255, 255)
CRIMSON = (220, 20, 60)  # the cancel button's face
BAR_RED = (236, 14, 36)  # the progress bar's filled part

# Locale of the Linux session -> the title the window must show (and log first).
TITLES = [
    ("de_AT.UTF-8", "QuorVel Installateur"),
    ("es_MX.UTF-8", "QuorVel instalador"),
    ("fr_CA.UTF-8", "QuorVel installateur"),
    ("en_US.UTF-8", "QuorVel installer"),
    ("it_IT.UTF-8", "QuorVel installer"),
]

# The lines the installation's start shows, per table.
START_TEXTS = {
    "en": ("en_US.UTF-8", "QuorVel installer", "Cancel", "Fetching files..."),
    "de": ("de_AT.UTF-8", "QuorVel Installateur", "Stornieren", "Wird heruntergeladen..."),
}


PACKAGE_SIZE = 1000000
SENT_BEFORE_STALL = 300000
TRICKLE_PAUSE = 0.1


class StallingPackageServer:
    """An HTTP server on the test port that answers every request with the headers of a package
    of PACKAGE_SIZE bytes and its first SENT_BEFORE_STALL bytes, then trickles one byte every
    TRICKLE_PAUSE seconds until the client goes away or the server is stopped. The trickle keeps
    the progress all but still (the bar does not move by a pixel within a test) while the
    download stays alive, so that a cancel is noticed at the next byte."""

    def __init__(self, port):
        self.port = port
        self.stopping = threading.Event()
        self.threads = []

    def __enter__(self):
        self.listener = socket.create_server(("127.0.0.1", self.port), reuse_port=False)
        self.listener.settimeout(0.2)
        accepting = threading.Thread(target=self._accept, daemon=True)
        accepting.start()
        self.threads.append(accepting)
        return self

    def _accept(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            serving = threading.Thread(target=self._serve, args=(connection,), daemon=True)
            serving.start()
            self.threads.append(serving)

    def _serve(self, connection):
        with connection:
            try:
                request = b""
                while b"\r\n\r\n" not in request:
                    data = connection.recv(4096)
                    if not data:
                        return
                    request += data
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
                                   + f"Content-Length: {PACKAGE_SIZE}\r\n\r\n".encode()
                                   + bytes(SENT_BEFORE_STALL))
                while not self.stopping.is_set():
                    readable, _, _ = select.select([connection], [], [], TRICKLE_PAUSE)
                    if readable and not connection.recv(4096):
                        return  # the client closed the connection
                    connection.sendall(b"\0")
            except OSError:
                return

    def __exit__(self, *exc):
        self.stopping.set()
        self.listener.close()
        for thread in self.threads:
            thread.join(timeout=5)
        return False


def locale_env(locale):
    env = dict(os.environ)
    env["LANG"] = locale
    env["LC_ALL"] = locale
    return env


class Installer:
    """QuorVelSetup.exe started in the background under a locale; ended by its pid when left."""

    def __init__(self, locale="en_US.UTF-8", args=()):
        self.env = locale_env(locale)
        self.args = list(args)
        self.process = None
        self.stdout_path = None

    def __enter__(self):
        harness.remove_log()
        os.makedirs(SCREENSHOTS, exist_ok=True)
        self.stdout_path = os.path.join(SCREENSHOTS, "installer_stdout.txt")
        with open(self.stdout_path, "wb") as out:
            self.process = subprocess.Popen(
                [harness.WINE_ENV, "run", harness.BUILD_DIR, harness.TEST_INSTALLER, *self.args],
                stdout=out, stderr=subprocess.DEVNULL, env=self.env, start_new_session=True)
        return self

    def wait(self, timeout):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stdout_lines(self):
        with open(self.stdout_path, "rb") as f:
            return f.read().decode("utf-8").split("\r\n")

    def __exit__(self, *exc):
        harness._stop(self.process)
        return False


def driver(*args):
    """Runs the window driver; its key=value output as a dict (query) or {}."""
    run = harness.run_program(DRIVER, list(args), timeout=30)
    if run.returncode != 0:
        raise AssertionError(f"window_driver {args} failed with {run.returncode}: {run.stderr!r}")
    state = {}
    for line in run.stdout.decode("utf-8").splitlines():
        key, _, value = line.partition("=")
        state[key] = value
    return state


def rect(text):
    """x, y, width, height from the driver's "x,y,w,h"."""
    return tuple(int(v) for v in text.split(","))


class Shot:
    """One screenshot of the display, its pixels read once."""

    def __init__(self, path):
        harness.screenshot(path)
        self.path = path
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                             check=True, timeout=30).stdout
        self.width, self.height = SCREEN
        if len(raw) != self.width * self.height * 3:
            raise AssertionError(f"screenshot {path} is not {SCREEN}: {len(raw)} bytes")
        self.raw = raw

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def count(self, colour, x, y, w, h):
        return sum(1 for yy in range(y, y + h) for xx in range(x, x + w) if self.at(xx, yy) == colour)

    def bounds(self, colour, x, y, w, h):
        """(left, top, right, bottom) of the pixels of |colour| in the box, or None."""
        points = [(xx, yy) for yy in range(y, y + h) for xx in range(x, x + w) if self.at(xx, yy) == colour]
        if not points:
            return None
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        return min(xs), min(ys), max(xs), max(ys)

    def crop(self, box, path):
        x, y, w, h = box
        subprocess.run(["convert", self.path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path],
                       check=True, timeout=30)


def wait_for_shot(path, condition, timeout=10):
    """Screenshots until |condition(shot)| holds (the window repaints asynchronously)."""
    deadline = time.monotonic() + timeout
    while True:
        shot = Shot(path)
        if condition(shot) or time.monotonic() > deadline:
            return shot
        time.sleep(0.2)


def log_without_stamps():
    """The log's level and message of every line (timestamps and thread tags vary)."""
    return harness.log_entries()


class WindowDisplayTest(harness.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(DRIVER):
            raise RuntimeError(f"window driver not built: {DRIVER}")
        cls.server = StallingPackageServer(harness.test_server_port()).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        super().tearDownClass()

    def wait_for_download_state(self, title, status, timeout=20):
        """The window's state once the start has shown its texts and the stalled download its
        progress."""
        deadline = time.monotonic() + timeout
        while True:
            state = driver("query", title)
            if (state["status"] == status and state["button_visible"] == "1"
                    and int(state["progress_pos"]) >= SENT_BEFORE_STALL) or time.monotonic() > deadline:
                return state
            time.sleep(0.2)

    def test_title_and_first_log_line_follow_the_interface_language(self):
        for locale, title in TITLES:
            with self.subTest(locale=locale):
                with Installer(locale) as run:
                    window = harness.wait_for_window("^" + re.escape(title) + "$")
                    self.assertEqual(title, harness.window_title(window))
                    self.assertEqual(title, driver("query", title)["title"])
                    first = log_without_stamps()[0]
                    self.assertEqual(("Note", title), first, f"first log line under {locale}")
                    harness.close_with_alt_f4(window)
                    self.assertEqual(CANCELLED, run.wait(15), f"exit code under {locale}")

    def test_english_and_german_window_look_hover_and_progress(self):
        for language, (locale, title, label, status) in START_TEXTS.items():
            with self.subTest(language=language), Installer(locale) as run:
                window = harness.wait_for_window("^" + re.escape(title) + "$")
                self.check_centred(window, title)
                state = self.wait_for_download_state(title, status)
                self.assertEqual(str(PACKAGE_SIZE), state["progress_max"], "download size")
                self.assertLess(int(state["progress_pos"]) - SENT_BEFORE_STALL, 1000, "bytes so far")
                self.assertEqual((label, status, "1", "11"),
                                 (state["button_text"], state["status"], state["button_visible"],
                                  state["button_type"]), "button text, status, visible, owner-drawn")
                self.check_look(language, state)
                harness.close_with_alt_f4(window)
                self.assertEqual(CANCELLED, run.wait(15))

    def check_centred(self, window, title):
        state = driver("query", title)
        x, y, w, h = rect(state["window"])
        self.assertEqual((SCREEN[0] // 2 - w // 2, SCREEN[1] // 2 - h // 2), (x, y),
                         f"window {w}x{h} not centred on the {SCREEN} work area")
        # The X server's view of the same window: its client area where Windows puts it.
        info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True,
                              env=harness._x_env(), check=True).stdout
        seen = tuple(int(re.search(pattern + r":\s*(-?\d+)", info).group(1))
                     for pattern in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
        self.assertEqual(rect(state["client"]), seen, "client area seen by X (xwininfo)")
        border = (w - seen[2]) // 2
        self.assertEqual(x + border, seen[0], "frame not symmetric around the client area")

    def check_look(self, language, state):
        cx, cy, cw, ch = rect(state["client"])
        bx, by, bw, bh = rect(state["button_rect"])
        px, py, pw, ph = rect(state["progress_rect"])
        face = (bx + 3, by + bh // 2)  # left of the label, inside the outline
        outline = (bx, by + bh // 2)
        path = os.path.join(SCREENSHOTS, f"screen_{language}.png")
        harness.xdotool("mousemove", "5", "5")  # off the button, wherever it was

        # Normal state: white client area, crimson face with white label, bar 30 % filled.
        shot = wait_for_shot(path, lambda s: s.at(*face) == CRIMSON)
        for point in [(cx + 2, cy + 2), (cx + cw - 3, cy + ch - 3), (cx + cw // 2, cy + 4),
                      (cx + 4, by + bh // 2), (cx + cw // 2, py - 6), (cx + cw // 2, by - 4)]:
            self.assertEqual(WHITE, shot.at(*point), f"client area at {point}")
        self.assertEqual(CRIMSON, shot.at(*face), "button face")
        self.assertEqual(CRIMSON, shot.at(*outline), "button outline")
        label = shot.count(WHITE, bx + 6, by + 4, bw - 12, bh - 8)
        self.assertGreater(label, 20, "white label pixels on the button")
        inside = (bx + 3, by + 3, bw - 6, bh - 6)  # clear of the outline and its rounded corners
        label_box = shot.bounds(WHITE, *inside)
        self.check_progress(shot, (px, py, pw, ph), 0.3)
        shot.crop((cx, cy, cw, ch), os.path.join(SCREENSHOTS, f"window_{language}.png"))

        # Hovered: white face, crimson outline and label. The pointer glides on as a hand moves
        # it: Wine may hand the window the entering move before it has updated its own cursor
        # position, and the leave notification requested on that move then arrives at once.
        for step in (4, 2, 0):
            harness.xdotool("mousemove", str(bx + bw // 2 - step), str(by + bh // 2))
        shot = wait_for_shot(path, lambda s: s.at(*face) == WHITE)
        self.assertEqual(WHITE, shot.at(*face), "hovered face")
        self.assertEqual(CRIMSON, shot.at(*outline), "hovered outline")
        self.assertGreater(shot.count(CRIMSON, bx + 6, by + 4, bw - 12, bh - 8), 20,
                           "crimson label pixels on the hovered button")
        shot.crop((cx, cy, cw, ch), os.path.join(SCREENSHOTS, f"window_{language}_hover.png"))

        # Held down: crimson face, white outline, the white label one pixel right and down.
        harness.xdotool("mousedown", "1")
        shot = wait_for_shot(path, lambda s: s.at(*outline) == WHITE)
        self.assertEqual((CRIMSON, WHITE), (shot.at(*face), shot.at(*outline)), "pressed face, outline")
        pressed_box = shot.bounds(WHITE, *inside)
        self.assertIsNotNone(pressed_box, "no white label on the pressed button")
        self.assertEqual(tuple(v + 1 for v in label_box), pressed_box,
                         "pressed label box against the normal one")

        # Released off the button: no click, and the normal colours once the pointer has left.
        harness.xdotool("mousemove", "5", "5")
        harness.xdotool("mouseup", "1")
        shot = wait_for_shot(path, lambda s: s.at(*face) == CRIMSON and s.at(*outline) == CRIMSON)
        self.assertEqual((CRIMSON, CRIMSON), (shot.at(*face), shot.at(*outline)),
                         "face and outline after the pointer left")
        self.assertEqual(label, shot.count(WHITE, bx + 6, by + 4, bw - 12, bh - 8),
                         "label after the pointer left")
        self.assertEqual("1", driver("query", state["title"])["visible"],
                         "a press released off the button closed the window")

    def check_progress(self, shot, box, fraction):
        x, y, w, h = box
        row = y + h // 2
        filled = [xx for xx in range(x, x + w) if shot.at(xx, row) == BAR_RED]
        self.assertTrue(filled, f"no bar pixels {BAR_RED} in row {row} of {box}")
        # The bar starts at the left inside the border and is one solid run.
        self.assertEqual(list(range(filled[0], filled[-1] + 1)), filled, "bar with gaps")
        self.assertLessEqual(filled[0] - x, 2, "bar does not start at the left edge")
        inner = w - 2 * (filled[0] - x)
        self.assertAlmostEqual(fraction, len(filled) / inner, delta=2 / inner,
                               msg=f"{len(filled)} of {inner} pixels filled")
        rest = [shot.at(xx, row) for xx in range(filled[-1] + 1, x + w - (filled[0] - x))]
        self.assertTrue(rest and all(p == WHITE for p in rest),
                        f"unfilled part not white: {sorted(set(rest))}")

    def test_silent_run_stays_hidden_prints_its_status_and_ignores_progress(self):
        with Installer("en_US.UTF-8", ["--silent"]) as run:
            state = driver("query", "QuorVel installer")
            self.assertEqual("0", state["visible"], "the window of a silent run is shown")
            self.assertEqual("", harness.xdotool("search", "--onlyvisible", "--name", "^QuorVel",
                                                 check=False).strip(), "a visible X window")
            driver("progress", "QuorVel installer", "300000", "1000000")
            state = driver("query", "QuorVel installer")
            self.assertEqual(("0", "100"), (state["progress_pos"], state["progress_max"]),
                             "progress of a silent run reached the bar")
            driver("close", "QuorVel installer")
            self.assertEqual(CANCELLED, run.wait(15))
            lines = run.stdout_lines()
        self.assertEqual(1, lines.count("Fetching files..."), f"status line once, alone: {lines}")

    def test_cancel_click_and_alt_f4_end_the_run_alike(self):
        logs = {}
        for way in ("click", "alt+F4"):
            with self.subTest(way=way), Installer("en_US.UTF-8") as run:
                window = harness.wait_for_window("^QuorVel installer$")
                self.wait_for_download_state("QuorVel installer", "Fetching files...")
                if way == "click":
                    bx, by, bw, bh = rect(driver("query", "QuorVel installer")["button_rect"])
                    harness.click(bx + bw // 2, by + bh // 2)
                else:
                    harness.close_with_alt_f4(window)
                self.assertEqual(CANCELLED, run.wait(15), f"exit code after {way}")
                # Each run has a private folder of its own name; that name is all that may differ.
                logs[way] = [(level, harness.RUN_FOLDER.sub("<run folder>", message))
                             for level, message in log_without_stamps()]
                self.assertEqual(("Note", harness.LAST_LOG_LINE), logs[way][-1])
        self.assertEqual(logs["click"], logs["alt+F4"], "the two ways of closing logged differently")


if __name__ == "__main__":
    unittest.main()
