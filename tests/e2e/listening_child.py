"""A local server that a test runs as its child process: started, waited for until it listens, and
stopped by its pid.

The child says that it listens with one line on its standard output (announce_listening), so no
probe connection ever reaches it: a test can count every connection the server saw.
"""
import os
import select
import subprocess
import sys
import time

READY_LINE = b"listening\n"
START_SECONDS = 10


def announce_listening():
    """Called by the child once its socket listens."""
    sys.stdout.buffer.write(READY_LINE)
    sys.stdout.flush()


class ChildServer:
    """A server run as a child process of the test: start() launches command() (after emptying
    fresh_files()) and waits until it listens; stop() ends it by its pid. A context manager."""
    child = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        for path in self.fresh_files():
            open(path, "w").close()
        self.child = ListeningChild(self.command(), self.description())
        self.child.start()

    def stop(self):
        if self.child is not None:
            self.child.stop()
        self.child = None


class ListeningChild:
    def __init__(self, command, what):
        self.command = command
        self.what = what  # "test server on port 20123", for the errors
        self.process = None

    def start(self):
        self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        try:
            line = self._first_line()
        finally:
            self.process.stdout.close()
        if line != READY_LINE:
            code = self.process.poll()
            self.stop()
            raise RuntimeError(f"{self.what} did not start (exit code {code}; port taken?)")

    def _first_line(self):
        deadline = time.monotonic() + START_SECONDS
        line = b""
        while not line.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready:
                data = os.read(self.process.stdout.fileno(), 64)
                if not data:
                    break
                line += data
        return line

    def stop(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
