"""The demo: a real installation by the real QuorVelSetup.exe under Wine, from a local server.

scripts/demo builds the program with download addresses on 127.0.0.1, its own package key and a
throwaway code-signing certificate, and calls this script, which
  1. writes the demo package (the demo Installer.exe and vcredist.exe, and the demo product), signs
     it with the demo's package key, and shows what osslsigncode says of the signed program,
  2. serves it from a local HTTP server that sends it slowly enough to watch,
  3. runs the installer interactively and saves a screenshot of each phase it goes through
     (fetching with a moving bar, extracting, preparing),
  4. runs it again silently, as a deployment script would, and shows what it printed,
  5. sums up: exit codes, the log, the installed files, the screenshots.
Every process it starts (server, Xvfb, Wine, the installer) is stopped when it ends or is
interrupted.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)

LANGUAGES = {
    "de": ("de_DE.UTF-8", "Wird heruntergeladen...", "Entpacke Dateien...", "Vorbereiten ..."),
    "en": ("en_US.UTF-8", "Fetching files...", "Extracting files...", "Preparing..."),
    "es": ("es_ES.UTF-8", "Descargando...", "Extrayendo archivos...", "Preparando..."),
    "fr": ("fr_FR.UTF-8", "T\u00e9l\u00e9chargement...", "Extraction des fichiers...", "En train de pr\u00e9parer..."),
}
DEFAULT_DESTINATION = "C:\\Program Files\\QuorVel Demo"  # the demo Installer.exe's own default
DEMO_DESTINATION = "C:\\Program Files\\QuorVel Demo (silent run)"
DEMO_USER = "demo@quorvel.example"
PROGRAM_COPY = "QuorVelSetup_demo.exe"  # the part after the underscore is handed on as the tag


def parse_arguments():
    parser = argparse.ArgumentParser(description="Runs the QuorVel Setup demo (called by scripts/demo).")
    parser.add_argument("--build", required=True, help="the demo build folder")
    parser.add_argument("--port", type=int, required=True, help="the port the program downloads from")
    parser.add_argument("--signing", required=True,
                        help="folder with the package key (package-key.pem) and the certificate (codesign.pem)")
    parser.add_argument("--out", required=True, help="folder for the screenshots and the package")
    parser.add_argument("--lang", choices=sorted(LANGUAGES), default="en")
    parser.add_argument("--silent-only", action="store_true", help="skip the interactive run")
    parser.add_argument("--keep-server", action="store_true",
                        help="after the runs, keep the server (and display) for manual runs until Ctrl+C")
    return parser.parse_args()


OPTIONS = parse_arguments()
os.environ["QV_BUILD_DIR"] = os.path.abspath(OPTIONS.build)
os.environ["QV_SOURCE_DIR"] = SOURCE_DIR
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import harness  # noqa: E402  (reads QV_BUILD_DIR when imported)
from server import PackageServer  # noqa: E402


# --- the package ------------------------------------------------------------------------------

def demo_product_files():
    """(name, bytes) of the demo product: a few documents, many small data files, some media."""
    files = [
        ("product/README.txt", b"QuorVel Demo\r\nInstalled by QuorVel Setup.\r\n"),
        ("product/LICENSE.txt", b"Demo licence: for trying QuorVel Setup only.\r\n" * 20),
    ]
    for i in range(1200):
        files.append((f"product/data/record{i:04d}.txt", (f"record {i}: " + "QuorVel " * 30 + "\r\n").encode() * 4))
    generator = random.Random(2026)
    for i in range(3):
        files.append((f"product/media/clip{i}.bin", generator.randbytes(2 * 1024 * 1024)))
    return files


def product_version():
    """The product version the build wrote into common/version.h: the package's version."""
    with open(os.path.join(OPTIONS.build, "generated", "common", "version.h")) as file:
        return re.search(r'#define QV_PRODUCT_VERSION_TEXT "([^"]+)"', file.read()).group(1)


def sign_package(path, build):
    signed = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "sign-package"), "--build", build,
                             "--version", product_version(), os.path.join(OPTIONS.signing, "package-key.pem"),
                             path], capture_output=True, text=True, check=True)
    print(f"Package signature ({build}): " + signed.stdout.strip())


def write_package(path, build):
    programs = os.path.join(build, "demo")
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        archive.write(os.path.join(programs, "Installer.exe"), "Installer.exe")
        archive.write(os.path.join(programs, "vcredist.exe"), "vcredist.exe")
        for name, data in demo_product_files():
            archive.writestr(name, data)
    return path


def authenticode_verification():
    """What osslsigncode says of the signed program, checked against the demo's certificate;
    (exit code, its lines)."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(OPTIONS.signing, "codesign.pem"),
                             "-in", harness.INSTALLER], capture_output=True, text=True)
    return result.returncode, (result.stdout + result.stderr).splitlines()


def serve_root(out):
    root = os.path.join(out, "server")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "x64"))
    package = write_package(os.path.join(root, "x64", "Installer.zip"), OPTIONS.build)
    os.makedirs(os.path.join(root, "x86"))
    shutil.copy(package, os.path.join(root, "x86", "Installer.zip"))
    # One package for both addresses, signed for each build (a signature names its build).
    for build in ("x64", "x86"):
        sign_package(os.path.join(root, build, "Installer.zip"), build)
    return root, os.path.getsize(package)


# --- the runs -------------------------------------------------------------------------------

def program_copy():
    path = os.path.join(OPTIONS.build, "src", "app", PROGRAM_COPY)
    shutil.copy(harness.INSTALLER, path)
    return path


def language_env():
    env = dict(os.environ)
    env["LANG"] = env["LC_ALL"] = LANGUAGES[OPTIONS.lang][0]
    return env


def start_program(args, stdout=subprocess.DEVNULL):
    return subprocess.Popen([harness.WINE_ENV, "run", OPTIONS.build, program_copy(), *args], stdout=stdout,
                            stderr=subprocess.DEVNULL, start_new_session=True, env=language_env())


def log_text():
    data = harness.read_log()
    return data.decode("utf-8", "replace") if data else ""


def wait_for_log(text, process, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        if text in log_text():
            return True
        time.sleep(0.05)
    return text in log_text()


def bar_fill(path, window):
    """How much of the progress bar is filled, 0..1, read from the screenshot's red pixels."""
    geometry = harness.window_geometry(window)
    left = geometry["X"] + harness.mul_div(14, geometry["WIDTH"], 313) + 2
    width = harness.mul_div(279, geometry["WIDTH"], 313) - 4
    y = geometry["Y"] + harness.mul_div(40, geometry["HEIGHT"], 82)
    crop = f"{width}x1+{left}+{y}"
    out = subprocess.run(["convert", path, "-crop", crop, "-depth", "8", "txt:-"],
                         capture_output=True, text=True, check=True).stdout
    red = sum(1 for line in out.splitlines() if "#EC0E24" in line.upper())
    return red / max(width, 1)


def photograph(out, name, window):
    """A screenshot of the display, and beside it one cropped to the window (for documents)."""
    path = harness.screenshot(os.path.join(out, f"{name}.png"))
    g = harness.window_geometry(window)
    margin = 12
    crop = f"{g['WIDTH'] + 2 * margin}x{g['HEIGHT'] + 2 * margin}+{max(g['X'] - margin, 0)}+{max(g['Y'] - margin, 0)}"
    subprocess.run(["convert", path, "-crop", crop, "+repage", os.path.join(out, f"{name}-window.png")], check=True)
    return path


def interactive_run(out):
    """Runs the installer as a user would and photographs each phase; returns (exit code, shots)."""
    _, fetching, extracting, preparing = LANGUAGES[OPTIONS.lang]
    shots = []
    harness.remove_log()
    process = start_program([])
    try:
        if not wait_for_log("Downloading install files to: ", process, 60):
            raise SystemExit("demo: the download did not start; see the log")
        window = harness.wait_for_window("^QuorVel ", timeout=30)
        time.sleep(1.5)
        first = photograph(out, f"1-fetching-{OPTIONS.lang}", window)
        time.sleep(1.0)
        second = photograph(out, f"1-fetching-{OPTIONS.lang}-later", window)
        shots.append((fetching, first, f"bar {bar_fill(first, window):.0%}"))
        shots.append((fetching, second, f"bar {bar_fill(second, window):.0%} (it moves)"))
        # A third of the way through the entries, so that the bar shows the extraction's own steps.
        if wait_for_log("Extracting product/data/record0400", process, 120):
            shots.append((extracting, photograph(out, f"2-extracting-{OPTIONS.lang}", window), ""))
        if wait_for_log("vcredist.exe Args: ", process, 120):
            time.sleep(0.3)
            shots.append((preparing, photograph(out, f"3-preparing-{OPTIONS.lang}", window), ""))
        code = process.wait(timeout=180)
    finally:
        harness._stop(process)
    return code, shots


def silent_run():
    """Runs the installer as a deployment script would; returns (exit code, its output lines)."""
    harness.remove_log()
    process = start_program(["-s", "-u", DEMO_USER, "-p", DEMO_DESTINATION], stdout=subprocess.PIPE)
    try:
        output, = harness._collect(process, [process.stdout], 300)
    finally:
        harness._stop(process)
        process.stdout.close()
    return process.returncode, output.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()


# --- the summary ----------------------------------------------------------------------------

def windows_to_prefix(path):
    return os.path.join(harness.PREFIX, "drive_c", *path[3:].split("\\"))


def remove_earlier_installations():
    for destination in (DEFAULT_DESTINATION, DEMO_DESTINATION):
        shutil.rmtree(windows_to_prefix(destination), ignore_errors=True)


def installed_files(destination):
    root = windows_to_prefix(destination)
    found = []
    for folder, _, files in os.walk(root):
        found += [os.path.relpath(os.path.join(folder, name), root) for name in files]
    return root, sorted(found)


def show_installation(label, destination):
    root, files = installed_files(destination)
    print(f"Installed by the demo product ({label}) into {destination}: {len(files)} files, among them:")
    for name in [f for f in files if os.sep not in f] + [f for f in files if f.startswith("data")][:2]:
        print(f"  {name}")
    receipt = os.path.join(root, "install-receipt.txt")
    if os.path.exists(receipt):
        print("  its receipt:")
        with open(receipt, encoding="utf-8", errors="replace") as f:
            for line in f.read().splitlines():
                print(f"  | {line}")


def summarise(interactive, silent, failures):
    print("\n=== Summary")
    if interactive:
        code, shots = interactive
        print(f"Interactive run: exit code {code}")
        for status, path, note in shots:
            print(f"  screenshot  {path}  (status \"{status}\"{', ' + note if note else ''})")
    code, lines = silent
    print(f"Silent run: exit code {code}; what a script sees on standard output:")
    for line in lines:
        print(f"  | {line}")
    log = harness.log_paths()
    print(f"Installation log (of the silent run): {log[0] if log else 'missing'}")
    for line in log_text().replace("\r\n", "\n").splitlines():
        if " Note: Extracting " not in line:
            print(f"  | {line}")
    print("  (one \"Extracting <name>\" line per file is left out above)")
    if interactive:
        show_installation("interactive run", DEFAULT_DESTINATION)
    show_installation("silent run", DEMO_DESTINATION)
    if failures:
        print("\nDEMO FAILED:\n  " + "\n  ".join(failures))
    else:
        print("\nDemo finished: every phase was seen, both runs ended with exit code 0.")


def check(interactive, silent, authenticode):
    failures = []
    if authenticode[0] != 0:
        failures.append("osslsigncode could not verify the program's signature")
    if "The package signature is valid (key " not in log_text():
        failures.append("the log does not show the package signature check")
    if interactive:
        code, shots = interactive
        if code != 0:
            failures.append(f"interactive run ended with exit code {code}")
        phases = {status for status, _, _ in shots}
        for status in LANGUAGES[OPTIONS.lang][1:]:
            if status not in phases:
                failures.append(f"no screenshot of the phase \"{status}\"")
    code, lines = silent
    if code != 0:
        failures.append(f"silent run ended with exit code {code}")
    destinations = ([DEFAULT_DESTINATION] if interactive else []) + [DEMO_DESTINATION]
    expected = len([name for name, _ in demo_product_files()]) + 1  # and the receipt
    for destination in destinations:
        count = len(installed_files(destination)[1])
        if count != expected:
            failures.append(f"{destination} holds {count} files instead of {expected}")
        elif "copy: ok" not in open(os.path.join(windows_to_prefix(destination), "install-receipt.txt")).read():
            failures.append(f"the demo product reported a failed copy into {destination}")
    return failures


def keep_serving(port):
    print(f"\nThe server stays up on http://127.0.0.1:{port}/ (x64/Installer.zip, x86/Installer.zip).")
    print("Run the program yourself in another shell, for example:")
    print(f"  scripts/wine-env run {OPTIONS.build} {OPTIONS.build}/src/app/QuorVelSetup.exe -s")
    print("  (the display for interactive runs is in " + os.path.join(OPTIONS.build, "wine", "display") + ")")
    print("Press Ctrl+C to stop the server and the display.")
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        print()


def main():
    out = os.path.abspath(OPTIONS.out)
    os.makedirs(out, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    root, size = serve_root(out)
    print(f"Demo package: {size / 1e6:.1f} MB, served from {root} on 127.0.0.1:{OPTIONS.port}")
    authenticode = authenticode_verification()
    print(f"\n=== osslsigncode verify {harness.INSTALLER} (exit code {authenticode[0]})")
    for line in authenticode[1]:
        print(f"  | {line}")
    piece = max(4096, size // 100)  # about a hundred pieces, 50 ms apart: five seconds of download
    with PackageServer(root, OPTIONS.port, mode="slow", piece=piece), harness.WineSession():
        remove_earlier_installations()
        interactive = None
        if not OPTIONS.silent_only:
            print(f"\n=== Interactive run ({OPTIONS.lang}): the window goes through its phases by itself")
            interactive = interactive_run(out)
        print("\n=== Silent run: " + " ".join([PROGRAM_COPY, "-s", "-u", DEMO_USER, "-p", f'"{DEMO_DESTINATION}"']))
        silent = silent_run()
        failures = check(interactive, silent, authenticode)
        summarise(interactive, silent, failures)
        if OPTIONS.keep_server:
            keep_serving(OPTIONS.port)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
