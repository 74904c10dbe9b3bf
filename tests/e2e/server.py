"""A local HTTP server that hands out test packages, in the ways a real server can behave.

Run as a program (the tests start it as a child process and stop it by its pid):
    server.py --port P --root DIR --mode MODE --requests FILE

Modes:
    normal   files with Content-Length
    chunked  chunked transfer encoding, no length
    slowchunked  chunked, in pieces with pauses as in slow mode
    slow     with Content-Length, in pieces (--piece bytes, default 4096) with a pause of 50 ms
             after each (a cancel can land mid-transfer)
    404      every request answered "404 Not Found"
    drop     Content-Length of the whole file, then half the body, then the connection is cut
    stall    Content-Length of the whole file, then half the body, then silence (the connection
             stays open until the server is stopped)
    dropfirst  the first --times requests get half the body and a cut connection, later ones all of it
    busy     the first --times requests are answered "503 Service Unavailable" (with a Retry-After
             of --retry-after seconds when given), later ones get the file
    stallfirst  the first --times requests stall as in stall mode (for --stall-seconds, default 20),
             later ones get the file; a stalled request's remaining half is never sent
    cached   the file with headers that let any cache keep it for a day (an unchanging ETag and
             Last-Modified, max-age), and "304 Not Modified" to every conditional request
    redirect every request is answered "302 Found" to --location (the same path appended)
    html     an HTML page with "200 OK" for every request
Every request's path is appended to the requests file, one per line, before it is answered.
"Nothing listening" is simply the port without a server.
"""

import argparse
import http.server
import os
import socket
import subprocess
import sys
import threading
import time

SLOW_PAUSE = 0.05


class PackageHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QvTestServer/1"

    def log_message(self, format, *args):  # keep the test output clean
        pass

    def do_GET(self):
        with open(self.server.requests_file, "a", encoding="utf-8") as requests:
            requests.write(self.path + "\n")
        try:
            self._answer()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up (a cancelled download): nothing to answer any more

    def _answer(self):
        mode = self.server.mode
        if mode in APPENDED_MODES:
            APPENDED_MODES[mode](self)
            return
        body = self._file_body()
        if mode == "404" or body is None:
            self._send_status_only(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        if mode in ("chunked", "slowchunked"):
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self._send_chunked(body, self.server.piece if mode == "slowchunked" else 16384, mode == "slowchunked")
            return
        self.send_header("Content-Length", str(len(body)))
        if mode == "drop":
            self.send_header("Connection", "close")
        self.end_headers()
        if mode == "slow":
            piece = self.server.piece
            for at in range(0, len(body), piece):
                self.wfile.write(body[at:at + piece])
                self.wfile.flush()
                time.sleep(SLOW_PAUSE)
        elif mode == "stall":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            while not self.server.stopping:
                time.sleep(0.1)
        elif mode == "drop":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        else:
            self.wfile.write(body)

    def _file_body(self):
        relative = self.path.split("?", 1)[0].lstrip("/")
        path = os.path.realpath(os.path.join(self.server.root, relative))
        if not path.startswith(self.server.root + os.sep) or not os.path.isfile(path):
            return None
        with open(path, "rb") as file:
            return file.read()

    def _send_status_only(self, code):
        message = b"not here\n"
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(message)))
        self.end_headers()
        self.wfile.write(message)

    def _send_chunked(self, body, piece, pause):
        for at in range(0, len(body), piece):
            chunk = body[at:at + piece]
            self.wfile.write(b"%X\r\n%s\r\n" % (len(chunk), chunk))
            if pause:
                self.wfile.flush()
                time.sleep(SLOW_PAUSE)
        self.wfile.write(b"0\r\n\r\n")


# --- modes for retries, caching and redirects ---------------------------------------------------

def _request_number(handler):
    """1 for the first request this server answers, 2 for the next, ..."""
    with handler.server.count_lock:
        handler.server.count += 1
        return handler.server.count


def _send_file(handler, body, extra_headers=()):
    handler.send_response(200)
    handler.send_header("Content-Type", "application/zip")
    handler.send_header("Content-Length", str(len(body)))
    for name, value in extra_headers:
        handler.send_header(name, value)
    handler.end_headers()
    handler.wfile.write(body)


def _misbehave_first(handler, misbehave):
    """The first --times requests get |misbehave|(handler, body), later ones the whole file."""
    body = handler._file_body()
    if body is None:
        handler._send_status_only(404)
    elif _request_number(handler) <= handler.server.times:
        misbehave(handler, body)
    else:
        _send_file(handler, body)


def _send_half(handler, body, close_header=False):
    handler.send_response(200)
    handler.send_header("Content-Length", str(len(body)))
    if close_header:
        handler.send_header("Connection", "close")
    handler.end_headers()
    handler.wfile.write(body[: len(body) // 2])
    handler.wfile.flush()


def _drop(handler, body):
    _send_half(handler, body, close_header=True)
    handler.connection.shutdown(socket.SHUT_RDWR)
    handler.close_connection = True


def _close_unanswered(handler, body):
    """Reads the request and closes the connection without a byte of answer, as a restarting
    server or a load balancer does."""
    handler.connection.shutdown(socket.SHUT_RDWR)
    handler.close_connection = True


def _busy(handler, body):
    message = b"busy\n"
    handler.send_response(503)
    handler.send_header("Content-Type", "text/plain")
    handler.send_header("Content-Length", str(len(message)))
    if handler.server.retry_after is not None:
        handler.send_header("Retry-After", str(handler.server.retry_after))
    handler.end_headers()
    handler.wfile.write(message)


def _stall(handler, body):
    _send_half(handler, body)
    time.sleep(handler.server.stall_seconds)
    handler.close_connection = True  # the rest never comes


def _answer_cached(handler):
    body = handler._file_body()
    if body is None:
        handler._send_status_only(404)
    elif handler.headers.get("If-None-Match") or handler.headers.get("If-Modified-Since"):
        handler.send_response(304)
        handler.send_header("ETag", '"always-the-same"')
        handler.end_headers()
    else:
        _send_file(handler, body, [("Cache-Control", "public, max-age=86400"), ("ETag", '"always-the-same"'),
                                   ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"),
                                   ("Expires", "Fri, 01 Jan 2038 00:00:00 GMT")])


def _answer_redirect(handler):
    handler.send_response(302)
    handler.send_header("Location", handler.server.location.rstrip("/") + handler.path)
    handler.send_header("Content-Length", "0")
    handler.end_headers()


def _answer_html(handler):
    page = b"<!DOCTYPE html><html><head><title>Welcome</title></head><body>Sign in first</body></html>\n"
    handler.send_response(200)
    handler.send_header("Content-Type", "text/html; charset=utf-8")
    handler.send_header("Content-Length", str(len(page)))
    handler.end_headers()
    handler.wfile.write(page)


APPENDED_MODES = {"dropfirst": lambda handler: _misbehave_first(handler, _drop),
                  "closefirst": lambda handler: _misbehave_first(handler, _close_unanswered),
                  "busy": lambda handler: _misbehave_first(handler, _busy),
                  "stallfirst": lambda handler: _misbehave_first(handler, _stall),
                  "cached": _answer_cached, "redirect": _answer_redirect, "html": _answer_html}


class PackageServer:
    """The server as a child process of the test; stop() ends it by its pid."""

    def __init__(self, root, port, mode="normal", requests_file=None, piece=4096, times=0, retry_after=None,
                 stall_seconds=20, location=None):
        self.extra_args = ["--times", str(times), "--stall-seconds", str(stall_seconds)]
        if retry_after is not None:
            self.extra_args += ["--retry-after", str(retry_after)]
        if location is not None:
            self.extra_args += ["--location", location]
        self.root = root
        self.port = port
        self.mode = mode
        self.piece = piece
        self.requests_file = requests_file or os.path.join(root, "requests.txt")
        self.process = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        open(self.requests_file, "w").close()
        self.process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--port", str(self.port), "--root", self.root,
             "--mode", self.mode, "--requests", self.requests_file, "--piece", str(self.piece), *self.extra_args],
            stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"test server ended at start with code {self.process.returncode}"
                                   f" (port {self.port} taken?)")
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError(f"test server did not listen on port {self.port}")

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

    def requests(self):
        with open(self.requests_file, encoding="utf-8") as requests:
            return [line.strip() for line in requests if line.strip()]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--mode", default="normal",
                        choices=["normal", "chunked", "slowchunked", "slow", "404", "drop", "stall", *APPENDED_MODES])
    parser.add_argument("--requests", required=True)
    parser.add_argument("--piece", type=int, default=4096)
    parser.add_argument("--times", type=int, default=0)
    parser.add_argument("--retry-after", type=int, default=None)
    parser.add_argument("--stall-seconds", type=float, default=20)
    parser.add_argument("--location", default=None)
    options = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), PackageHandler)
    server.daemon_threads = True
    server.root = os.path.realpath(options.root)
    server.mode = options.mode
    server.requests_file = options.requests
    server.piece = max(1, options.piece)
    server.stopping = False
    server.times = options.times
    server.retry_after = options.retry_after
    server.stall_seconds = options.stall_seconds
    server.location = options.location
    server.count = 0
    server.count_lock = threading.Lock()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
