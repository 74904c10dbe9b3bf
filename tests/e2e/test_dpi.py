"""The window at 100 %, 150 % and 200 % display scaling, and a run that no key can cancel.

Wine takes the display's DPI from HKCU\\Control Panel\\Desktop LogPixels (96, 144, 192); the test
sets it in the build's prefix for each run and puts the previous value back afterwards. At each
scale the window must show the same layout, scaled: the dialog manager sizes the dialog and its
controls in dialog units (from the dialog font at that DPI), and the status font, the button's
outline, corners and pressed offset scale with the DPI. Screenshots of each scale are kept in
<build>/screenshots (dpi_96.png, dpi_144.png, dpi_192.png and their _pressed variants).
"""
import os
import re
import subprocess
import time
import unittest

import harness
import test_window_display as display

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
SCALES = (96, 144, 192)
TITLE = "QuorVel installer"
WHITE, CRIMSON = display.WHITE, display.CRIMSON


def wine_reg(*args, check=True):
    return subprocess.run([harness.WINE_ENV, "run", harness.BUILD_DIR, "reg", *args], capture_output=True,
                          text=True, check=check, timeout=60)


def read_log_pixels():
    """The prefix's LogPixels, or None when it is not set."""
    out = wine_reg("query", DESKTOP_KEY, "/v", "LogPixels", check=False).stdout
    match = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", out)
    return int(match.group(1), 16) if match else None


def write_log_pixels(value):
    if value is None:
        wine_reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f", check=False)
    else:
        wine_reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f")


def designed(value, dpi):
    """A size designed at 96 DPI, at |dpi| (rounded as the program rounds it)."""
    return harness.mul_div(value, dpi, 96)


def relative(box, client):
    """A control's box as fractions of the client area it lies in."""
    (x, y, w, h), (cx, cy, cw, ch) = box, client
    return ((x - cx) / cw, (y - cy) / ch, w / cw, h / ch)


def wait_for_download_state(timeout=20):
    """The window's state once the start has shown the button and the stalled download its bytes."""
    deadline = time.monotonic() + timeout
    while True:
        state = display.driver("query", TITLE)
        if (state["button_visible"] == "1" and int(state["progress_pos"]) >= display.SENT_BEFORE_STALL) \
                or time.monotonic() > deadline:
            return state
        time.sleep(0.2)


class Measured:
    """What one run of the window showed, in screen pixels: the boxes of the client area, the
    button and the bar, the status line's ink height, the label's box normal and pressed (within
    |inside|, clear of the outline) and the pressed outline's width."""

    def __init__(self, state, shot, pressed, inside):
        self.client = display.rect(state["client"])
        self.button = display.rect(state["button_rect"])
        self.bar = display.rect(state["progress_rect"])
        cx, cy, cw, _ = self.client
        bx, by, bw, bh = self.button
        ink = [y for y in range(cy + 2, self.bar[1] - 2) for x in range(cx + 2, cx + cw - 2)
               if shot.at(x, y) != WHITE]
        self.status_height = max(ink) - min(ink) + 1 if ink else 0
        self.label = shot.bounds(WHITE, *inside)
        self.pressed_label = pressed.bounds(WHITE, *inside)
        self.pressed_outline = 0
        while self.pressed_outline < bw and pressed.at(bx + self.pressed_outline, by + bh // 2) == WHITE:
            self.pressed_outline += 1


class DisplayScalingTest(harness.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.saved_log_pixels = read_log_pixels()
        cls.server = display.StallingPackageServer(harness.test_server_port()).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        write_log_pixels(cls.saved_log_pixels)
        super().tearDownClass()

    def show_at(self, dpi):
        """Runs the window at |dpi| in its downloading state; checks its colours and its pressed
        button there; returns what it measured."""
        write_log_pixels(dpi)
        with display.Installer() as run:
            window = harness.wait_for_window("^" + re.escape(TITLE) + "$")
            state = wait_for_download_state()
            client = display.rect(state["client"])
            bx, by, bw, bh = display.rect(state["button_rect"])
            inset = 3 * dpi // 96  # clear of the outline and its rounded corners
            face = (bx + inset, by + bh // 2)
            path = os.path.join(display.SCREENSHOTS, f"dpi_{dpi}_screen.png")
            harness.xdotool("mousemove", "5", "5")
            shot = display.wait_for_shot(path, lambda s: s.at(*face) == CRIMSON)
            self.assertEqual((CRIMSON, CRIMSON), (shot.at(*face), shot.at(bx, by + bh // 2)),
                             f"{dpi} DPI: button face and outline")
            cx, cy, cw, ch = client
            for point in [(cx + 2, cy + 2), (cx + cw - 3, cy + ch - 3), (cx + cw // 2, by - 4)]:
                self.assertEqual(WHITE, shot.at(*point), f"{dpi} DPI: client area at {point}")
            display.WindowDisplayTest.check_progress(self, shot, display.rect(state["progress_rect"]), 0.3)
            shot.crop(client, os.path.join(display.SCREENSHOTS, f"dpi_{dpi}.png"))
            inside = (bx + inset, by + inset, bw - 2 * inset, bh - 2 * inset)

            # Held down: the outline and the label's offset grow with the DPI.
            for step in (4, 2, 0):
                harness.xdotool("mousemove", str(bx + bw // 2 - step), str(by + bh // 2))
            harness.xdotool("mousedown", "1")
            pressed = display.wait_for_shot(path, lambda s: s.at(bx, by + bh // 2) == WHITE)
            pressed.crop(client, os.path.join(display.SCREENSHOTS, f"dpi_{dpi}_pressed.png"))
            harness.xdotool("mousemove", "5", "5")
            harness.xdotool("mouseup", "1")

            measured = Measured(state, shot, pressed, inside)
            harness.close_with_alt_f4(window)
            self.assertEqual(display.CANCELLED, run.wait(15), f"{dpi} DPI: exit code")
        return measured

    def test_the_window_keeps_its_layout_and_colours_at_each_scale(self):
        base = None
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                seen = self.show_at(dpi)
                scale = dpi / 96
                offset = designed(1, dpi)
                bx, by, bw, bh = seen.button
                self.assertIsNotNone(seen.label, f"{dpi} DPI: no label on the button")
                left, top, right, bottom = seen.label
                self.assertTrue(bx + offset < left and right < bx + bw - offset and by + offset < top
                                and bottom < by + bh - offset, f"{dpi} DPI: label {seen.label} "
                                f"not inside the button {seen.button}")
                self.assertLessEqual(abs((left - bx) - (bx + bw - 1 - right)), 2 + offset,
                                     f"{dpi} DPI: label not centred: {seen.label} in {seen.button}")
                self.assertEqual(offset, seen.pressed_outline, f"{dpi} DPI: pressed outline width")
                self.assertEqual(tuple(v + offset for v in seen.label), seen.pressed_label,
                                 f"{dpi} DPI: pressed label against the normal one")
                if base is None:
                    base = seen
                    continue
                # The same layout: every control at the same place relative to the client area,
                # to within the rounding of dialog units, and everything grown by the scale.
                for name in ("button", "bar"):
                    expected = relative(getattr(base, name), base.client)
                    now = relative(getattr(seen, name), seen.client)
                    for e, n, extent in zip(expected, now, seen.client[2:] * 2):
                        self.assertLessEqual(abs(e - n) * extent, 3,
                                             f"{dpi} DPI: {name} {getattr(seen, name)} in {seen.client}, "
                                             f"at 96 DPI {getattr(base, name)} in {base.client}")
                for name, now, then, tolerance in [
                        ("client width", seen.client[2], base.client[2], 0.1),
                        ("client height", seen.client[3], base.client[3], 0.1),
                        ("status line height", seen.status_height, base.status_height, 0.15),
                        ("label height", seen.label[3] - seen.label[1], base.label[3] - base.label[1], 0.2)]:
                    self.assertAlmostEqual(scale, now / then, delta=scale * tolerance,
                                           msg=f"{dpi} DPI: {name} {now} against {then} at 96 DPI")


class KeyboardCannotCancelTest(harness.WineTestCase):
    """A press on Cancel that slides off leaves the button focused; no key may then cancel."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = display.StallingPackageServer(harness.test_server_port()).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        super().tearDownClass()

    def test_space_and_enter_do_not_cancel_alt_f4_and_a_click_do(self):
        for way in ("alt+F4", "click"):
            with self.subTest(way=way), display.Installer() as run:
                window = harness.wait_for_window("^" + re.escape(TITLE) + "$")
                state = wait_for_download_state()
                bx, by, bw, bh = display.rect(state["button_rect"])
                harness.xdotool("mousemove", str(bx + bw // 2), str(by + bh // 2))
                harness.xdotool("mousedown", "1")
                harness.xdotool("mousemove", "5", "5")
                harness.xdotool("mouseup", "1")
                harness.focus(window)
                for key in ("space", "Return", "KP_Enter"):
                    harness.key(key)
                self.assertIsNone(run.wait(2), "a key cancelled the run")
                self.assertEqual("1", display.driver("query", TITLE)["visible"], "the window went away")
                if way == "click":
                    harness.click(bx + bw // 2, by + bh // 2)
                else:
                    harness.close_with_alt_f4(window)
                self.assertEqual(display.CANCELLED, run.wait(15), f"exit code after {way}")
                self.assertEqual(("Note", harness.LAST_LOG_LINE), harness.log_entries()[-1])


if __name__ == "__main__":
    unittest.main()
