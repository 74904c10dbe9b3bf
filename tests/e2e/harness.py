"""Helpers for driving the real QuorVelSetup.exe under Wine, as a user or a script would.

Everything runs in the build's own Wine prefix and Xvfb display (scripts/wine-env). Under ctest
the "wine" fixture has started them; run by hand, `WineSession` starts what is missing and stops
exactly what it started. Every program started here is ended by its process id.

Environment: QV_BUILD_DIR (default: <source>/build/win64), QV_SOURCE_DIR (default: two folders up).
"""
import glob
import os
import re
import select
import signal
import subprocess
import time
import unittest
from dataclasses import dataclass

SOURCE_DIR = os.environ.get("QV_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.environ.get("QV_BUILD_DIR") or os.path.join(SOURCE_DIR, "build", "win64")
WINE_ENV = os.path.join(SOURCE_DIR, "scripts", "wine-env")
WINE_STATE = os.path.join(BUILD_DIR, "wine")
PREFIX = os.path.join(WINE_STATE, "prefix")
INSTALLER = os.path.join(BUILD_DIR, "src", "app", "QuorVelSetup.exe")
# The same program with its download addresses on the local test server (tests/e2e/server.py).
TEST_INSTALLER = os.path.join(BUILD_DIR, "tests", "e2e", "QuorVelSetupTest.exe")


def test_server_port():
    """The port QuorVelSetupTest.exe downloads from."""
    with open(os.path.join(BUILD_DIR, "tests", "e2e", "test_server_port.txt")) as f:
        return int(f.read())

# Exit codes of the installer (common/exit_codes.h).
EXIT_SUCCESS = 0
EXIT_BAD_COMMAND_LINE = 1
EXIT_USER_CANCELLED = 1602
EXIT_INSTALL_FAILURE = 1603

LOG_NAME = "installation_log.txt"
PREVIOUS_LOG_NAME = "installation_log.previous.txt"  # the run before's log, kept beside it
LOG_NAMES = {LOG_NAME, PREVIOUS_LOG_NAME}
LAST_LOG_LINE = "Main window destroyed, exiting..."
LOG_LINE = re.compile(
    r"(?P<day>\d\d)\.(?P<month>\d\d) (?P<hour>\d\d):(?P<minute>\d\d):(?P<second>\d\d) "
    r"(?P<tag>\(id: *\d+\)) (?P<level>Note|Warning|Eerror|Failure|Uknown): (?P<message>.*)")


def seen_exit_code(windows_code):
    """The exit status a Linux caller sees: Wine passes on the low 8 bits of the Windows code."""
    return windows_code & 0xFF


@dataclass
class Run:
    args: list
    returncode: int
    stdout: bytes
    stderr: bytes


def _display():
    path = os.path.join(WINE_STATE, "display")
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read().strip()


def _xvfb_alive():
    path = os.path.join(WINE_STATE, "xvfb.pid")
    if not os.path.exists(path):
        return False
    try:
        with open(path) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (OSError, ValueError):
        return False


class WineSession:
    """Makes sure the prefix and display exist; stops them afterwards only if it started them."""

    def __init__(self):
        self.started = False

    def __enter__(self):
        if not os.path.exists(INSTALLER):
            raise RuntimeError(f"installer not built: {INSTALLER}")
        if not _xvfb_alive():
            subprocess.run([WINE_ENV, "start", BUILD_DIR], check=True, stdout=subprocess.DEVNULL)
            self.started = True
        return self

    def __exit__(self, *exc):
        if self.started:
            subprocess.run([WINE_ENV, "stop", BUILD_DIR], check=False, stdout=subprocess.DEVNULL)
        return False



class WineTestCase(unittest.TestCase):
    """A test class whose tests share one Wine session (prefix and display) for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls.session = WineSession().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.__exit__(None, None, None)

def _stop(process):
    """Ends a program this harness started (its own process group) and reaps it."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.wait()


def _collect(process, streams, timeout):
    """Reads |streams| until |process| has ended, then drains what it left in them. Waiting for
    the pipes to close would also wait for Wine's server, which inherits them and lingers."""
    chunks = {stream: [] for stream in streams}
    deadline = time.monotonic() + timeout
    ended = False
    while True:
        ready, _, _ = select.select(streams, [], [], 0 if ended else 0.05)
        for stream in ready:
            data = os.read(stream.fileno(), 65536)
            if data:
                chunks[stream].append(data)
            else:
                streams = [s for s in streams if s is not stream]
        if ended and not ready:
            break
        if not ended and process.poll() is not None:
            ended = True
        if not ended and time.monotonic() > deadline:
            raise subprocess.TimeoutExpired(process.args, timeout)
        if not streams:
            if ended:
                break
            time.sleep(0.05)
    return [b"".join(chunks[stream]) for stream in chunks]


def run_installer(args, timeout=60, stdout=subprocess.PIPE, env=None):
    """Runs the installer to its end and returns what a script would see."""
    return run_program(INSTALLER, args, timeout, stdout, env)


def run_program(program, args, timeout=60, stdout=subprocess.PIPE, env=None):
    """Runs any Windows program of the build under Wine to its end."""
    process = subprocess.Popen([WINE_ENV, "run", BUILD_DIR, program, *args], stdout=stdout,
                               stderr=subprocess.PIPE, start_new_session=True, env=env)
    try:
        streams = [s for s in (process.stdout, process.stderr) if s is not None]
        collected = dict(zip(streams, _collect(process, streams, timeout)))
    except subprocess.TimeoutExpired:
        raise AssertionError(f"{os.path.basename(program)} {args} did not end within {timeout} s")
    finally:
        _stop(process)
        for stream in (process.stdout, process.stderr):
            if stream is not None:
                stream.close()
    return Run(list(args), process.returncode, collected.get(process.stdout, b""), collected.get(process.stderr, b""))


class StartedInstaller:
    """The installer running in the background; always ended (by its pid) when the block is left."""

    def __init__(self, args=(), stdout=subprocess.DEVNULL, program=INSTALLER):
        self.args = list(args)
        self.stdout = stdout
        self.program = program
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen([WINE_ENV, "run", BUILD_DIR, self.program, *self.args], stdout=self.stdout,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        return self

    def wait(self, timeout):
        """The exit code, or None when the program is still running after |timeout| seconds."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def __exit__(self, *exc):
        _stop(self.process)
        return False


# --- the installation log -------------------------------------------------------------------

def log_paths():
    return glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "Temp", "QuorVel", LOG_NAME))


def remove_log():
    for path in log_paths():
        os.remove(path)


def read_log():
    """The log's raw bytes, or None when no run has written one."""
    paths = log_paths()
    if not paths:
        return None
    with open(paths[0], "rb") as f:
        return f.read()


def log_lines():
    """The log's lines as text, after checking that every line ends with CR LF."""
    data = read_log()
    if data is None:
        raise AssertionError("no installation log under " + PREFIX)
    if data and not data.endswith(b"\r\n"):
        raise AssertionError(f"log does not end with CR LF: {data[-40:]!r}")
    text = data.decode("utf-8")
    lines = text.split("\r\n")[:-1] if text else []
    for line in lines:
        if "\n" in line or "\r" in line:
            raise AssertionError(f"log line with a bare line break: {line!r}")
    return lines


def parse_log_line(line):
    """(level, message) of a well-formed line; raises AssertionError naming the faulty line."""
    match = LOG_LINE.fullmatch(line)
    if not match:
        raise AssertionError(f"log line does not have the log's format: {line!r}")
    if len(match["tag"]) < 10 or (len(match["tag"]) > 10 and " " in match["tag"]):
        raise AssertionError(f"thread tag not padded to 10 characters: {match['tag']!r} in {line!r}")
    fields = (int(match["day"]), int(match["month"]), int(match["hour"]), int(match["minute"]), int(match["second"]))
    if not (1 <= fields[0] <= 31 and 1 <= fields[1] <= 12 and fields[2] < 24 and fields[3] < 60 and fields[4] < 61):
        raise AssertionError(f"timestamp out of range in {line!r}")
    return match["level"], match["message"]


def log_entries():
    """[(level, message)] of the whole log, every line checked."""
    return [parse_log_line(line) for line in log_lines()]


# --- the X display --------------------------------------------------------------------------

def _x_env():
    env = dict(os.environ)
    env["DISPLAY"] = _display()
    return env


def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *args], env=_x_env(), capture_output=True, text=True, timeout=20)
    if check and result.returncode != 0:
        raise AssertionError(f"xdotool {' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout


def wait_for_window(title_regex, timeout=20):
    """The X window id of the first visible top-level window whose title matches."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = xdotool("search", "--onlyvisible", "--name", title_regex, check=False).split()
        if found:
            return found[0]
        time.sleep(0.2)
    raise AssertionError(f"no window titled {title_regex!r} within {timeout} s")


def window_title(window):
    return xdotool("getwindowname", window).strip()


def window_geometry(window):
    """{'X', 'Y', 'WIDTH', 'HEIGHT'} of the window's client area on the screen."""
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window).splitlines():
        key, _, value = line.partition("=")
        if key in ("X", "Y", "WIDTH", "HEIGHT"):
            values[key] = int(value)
    return values


def focus(window):
    xdotool("windowfocus", "--sync", window)


def key(*keys):
    xdotool("key", *keys)


def close_with_alt_f4(window):
    focus(window)
    key("alt+F4")


def click(x, y):
    xdotool("mousemove", "--sync", str(x), str(y), "click", "1")


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], env=_x_env(), check=True, timeout=30)
    return path


def pixel(path, x, y):
    """(r, g, b) of one pixel of a screenshot."""
    channels = ",".join(f"%[fx:int(255*p{{{x},{y}}}.{c}+0.5)]" for c in "rgb")
    out = subprocess.run(["convert", path, "-format", channels, "info:"],
                         capture_output=True, text=True, check=True, timeout=30).stdout
    return tuple(int(v) for v in out.strip().split(","))


def mul_div(number, numerator, denominator):
    """Windows' MulDiv for non-negative values: rounded to nearest."""
    return (number * numerator + denominator // 2) // denominator


# What a program built without package keys adds to its --version output.
UNSIGNED_TEST_PROGRAM = "This is a test program: it installs packages without checking their signature."


def installer_is_unsigned():
    """True when QuorVelSetup.exe of this build carries no package keys (configured with
    QUORVEL_ALLOW_UNSIGNED_PACKAGES, as scripts/test does)."""
    with open(os.path.join(BUILD_DIR, "CMakeCache.txt")) as f:
        return re.search(r"^QUORVEL_PACKAGE_KEYS:\w+=$", f.read(), re.MULTILINE) is not None


def file_version():
    """The program's file version as the build wrote it into common/version.h ("1.5.0.88")."""
    with open(os.path.join(BUILD_DIR, "generated", "common", "version.h")) as f:
        return re.search(r'#define QV_FILE_VERSION_TEXT "([^"]+)"', f.read()).group(1)


# --- the private run folders ------------------------------------------------------------------
# Wine has no %SystemRoot%\SystemTemp, so each run makes its folder under our own folder in
# %ProgramData%.
RUN_FOLDER_PARENT = os.path.join(PREFIX, "drive_c", "ProgramData", "QuorVel Setup")
RUN_FOLDER_PARENT_WINDOWS = "C:\\ProgramData\\QuorVel Setup"
RUN_FOLDER = re.compile(re.escape(RUN_FOLDER_PARENT_WINDOWS) + r"\\QuorVel-[0-9A-F]{16}")
EXIT_ALREADY_RUNNING = 1618


def run_folders():
    """The run folders present now (Linux paths)."""
    return sorted(glob.glob(os.path.join(RUN_FOLDER_PARENT, "QuorVel-*")))


def remove_run_folders():
    import shutil
    for path in run_folders():
        if os.path.islink(path):
            os.remove(path)
        else:
            shutil.rmtree(path, ignore_errors=True)


def run_folder_of(notes):
    """The Windows path of the run folder a run's log names in its download line."""
    for message in notes:
        match = re.fullmatch(r"Downloading install files to: (.*)\\Installer\.zip", message)
        if match:
            if not RUN_FOLDER.fullmatch(match[1]):
                raise AssertionError(f"the package is not in a private run folder: {message!r}")
            return match[1]
    raise AssertionError(f"no download line in the log: {notes}")
