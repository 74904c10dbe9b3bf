"""A local HTTP server that hands out test packages, in the ways a real server can behave.

Run as a program (the tests start it as a child process and stop it by its pid):
    server.py --port P --root DIR --mode MODE --requests FILE [--connections FILE] [--tls CERT.pem KEY.pem]

With --tls it speaks HTTPS, in every mode, with that certificate (and the chain after it in the
file) and key.

A whole file is sent with a strong ETag (from its content) and its Last-Modified, and
"Range: bytes=N-" is answered "206 Partial Content" with the rest of the file from byte N (416
when N is past the end), unless an If-Range came that names neither of the two exactly: then the
whole file comes with "200 OK". The modes that send a whole file with a length (normal, slow,
cached and the later answers of the *first modes) honour Range this way, unless said otherwise.

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
    cutevery as normal, but the connection is cut after --piece bytes of body in each answer: a
             client must resume with Range, --piece bytes a request, to get the whole file
    norange  as normal, but Range is ignored: always "200 OK" with the whole file; the first --times
             answers are cut after --piece bytes as in cutevery
    etagchange  as normal, but the ETag is new in every answer and no Last-Modified is sent, as if
             the file changed between any two requests: an If-Range never matches; the first
             --times answers are cut after --piece bytes as in cutevery
Every request's path is appended to the requests file, one per line, before it is answered, and
every connection to the connections file ("plain", or "tls" and how its handshake ended).
"Nothing listening" is simply the port without a server.
"""

import argparse
import email.utils
import hashlib
import http.server
import os
import re
import socket
import ssl
import sys
import threading
import time

from listening_child import ChildServer, announce_listening

SLOW_PAUSE = 0.05


class PackageHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QvTestServer/1"

    def log_message(self, format, *args):  # keep the test output clean
        pass

    def handle(self):
        if isinstance(self.connection, ssl.SSLSocket):
            if not self._handshake():
                return
        else:
            self.server.record_connection("plain")
        super().handle()

    def _handshake(self):
        """The TLS handshake, in the connection's own thread, recorded with its outcome."""
        try:
            self.connection.do_handshake()
        except (ssl.SSLError, OSError) as error:
            self.server.record_connection(f"tls handshake failed: {getattr(error, 'reason', None) or error}")
            return False
        self.server.record_connection(f"tls handshake done: {self.connection.version()}")
        return True

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
        if mode in ("normal", "slow"):
            _send_file(self, body, write=_write_slowly if mode == "slow" else _write_all)
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
        if mode == "stall":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            while not self.server.stopping:
                time.sleep(0.1)
        elif mode == "drop":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True

    def _file_path(self):
        """The served file the request names, or None."""
        relative = self.path.split("?", 1)[0].lstrip("/")
        path = os.path.realpath(os.path.join(self.server.root, relative))
        if not path.startswith(self.server.root + os.sep) or not os.path.isfile(path):
            return None
        return path

    def _file_body(self):
        path = self._file_path()
        return None if path is None else _content(path)[0]

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


# --- whole files and ranges ---------------------------------------------------------------------

_contents = {}  # path -> (version, content, tag) of a large file, as last read
_contents_lock = threading.Lock()
_LARGE = 16 << 20


def _content(path):
    """The content of |path| and a tag of it. A large file is read and hashed once for each version
    of it: a package of hundreds of megabytes would otherwise be read and hashed before every
    answer, and both clients of the download benchmark would mostly wait for that. A small one is
    read for every answer, so that a test's new package is seen even within one clock tick."""
    status = os.stat(path)
    version = (status.st_ino, status.st_size, status.st_mtime_ns)
    with _contents_lock:
        kept = _contents.get(path)
        if kept is None or kept[0] != version:
            with open(path, "rb") as file:
                body = file.read()
            kept = (version, body, hashlib.sha256(body).hexdigest()[:24])
            if len(body) >= _LARGE:
                _contents[path] = kept
        return kept[1], kept[2]


def _file_validators(handler):
    """What a client can resume against: a strong ETag from the content, the file's Last-Modified."""
    path = handler._file_path()
    modified = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
    return [("ETag", '"%s"' % _content(path)[1]), ("Last-Modified", modified)]


def _requested_start(handler, size, validators):
    """Where the answer starts: None for the whole file ("200 OK"), else the N of "Range: bytes=N-"
    (N >= size cannot be answered). An If-Range is compared with the validators by exact text: a
    weak ETag ("W/...") never matches, as a strong comparison demands."""
    wanted = re.fullmatch(r"bytes=(\d+)-", handler.headers.get("Range", "").strip())
    if_range = handler.headers.get("If-Range")
    if not wanted or (if_range is not None and if_range.strip() not in [value for _, value in validators]):
        return None
    return int(wanted[1])


def _write_all(handler, data):
    handler.wfile.write(data)


def _write_slowly(handler, data):
    """--piece bytes at a time, with a pause after each (a cancel can land mid-transfer)."""
    for at in range(0, len(data), handler.server.piece):
        handler.wfile.write(data[at:at + handler.server.piece])
        handler.wfile.flush()
        time.sleep(SLOW_PAUSE)


def _write_then_cut(handler, data):
    """At most --piece bytes, then the connection is cut: the rest must be asked for again."""
    handler.wfile.write(data[:handler.server.piece])
    handler.wfile.flush()
    if len(data) > handler.server.piece:
        handler.connection.shutdown(socket.SHUT_RDWR)
        handler.close_connection = True


def _send_file(handler, body, extra_headers=(), validators=None, ranges=True, write=_write_all):
    """The whole file, or with ranges the part a Range asks for, written by |write|."""
    validators = _file_validators(handler) if validators is None else validators
    start = _requested_start(handler, len(body), validators) if ranges else None
    if start is not None and start >= len(body):
        handler.send_response(416)
        handler.send_header("Content-Range", f"bytes */{len(body)}")
        handler.send_header("Content-Length", "0")
        handler.end_headers()
        return
    handler.send_response(200 if start is None else 206)
    handler.send_header("Content-Type", "application/zip")
    handler.send_header("Content-Length", str(len(body) - (start or 0)))
    if start is not None:
        handler.send_header("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")
    if ranges:
        handler.send_header("Accept-Ranges", "bytes")
    for name, value in [*validators, *extra_headers]:
        handler.send_header(name, value)
    handler.end_headers()
    write(handler, memoryview(body)[start or 0:])


def _answer_file(handler, **how):
    """A mode that differs from normal only in how it sends the file (|how|: see _send_file)."""
    body = handler._file_body()
    if body is None:
        handler._send_status_only(404)
    else:
        _send_file(handler, body, **how)


def _first_cut(handler, number):
    """How answer |number| is written: cut after --piece bytes for the first --times answers."""
    return _write_then_cut if number <= handler.server.times else _write_all


def _answer_changing_etag(handler):
    body = handler._file_body()
    if body is None:
        handler._send_status_only(404)
    else:
        number = _request_number(handler)
        etag = '"%s-%d"' % (hashlib.sha256(body).hexdigest()[:24], number)
        _send_file(handler, body, validators=[("ETag", etag)], write=_first_cut(handler, number))


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
        _send_file(handler, body, [("Cache-Control", "public, max-age=86400"),
                                   ("Expires", "Fri, 01 Jan 2038 00:00:00 GMT")],
                   validators=[("ETag", '"always-the-same"'), ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")])


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
                  "cached": _answer_cached, "redirect": _answer_redirect, "html": _answer_html,
                  "cutevery": lambda handler: _answer_file(handler, write=_write_then_cut),
                  "norange": lambda handler: _answer_file(handler, ranges=False,
                                                          write=_first_cut(handler, _request_number(handler))),
                  "etagchange": _answer_changing_etag}


class PackageServer(ChildServer):
    """The server as a child process of the test; stop() ends it by its pid. |tls| is (certificate,
    key) for HTTPS."""

    def __init__(self, root, port, mode="normal", requests_file=None, piece=4096, times=0, retry_after=None,
                 stall_seconds=20, location=None, tls=None, connections_file=None):
        self.extra_args = ["--times", str(times), "--stall-seconds", str(stall_seconds)]
        if retry_after is not None:
            self.extra_args += ["--retry-after", str(retry_after)]
        if location is not None:
            self.extra_args += ["--location", location]
        if tls is not None:
            self.extra_args += ["--tls", *tls]
        self.root = root
        self.port = port
        self.mode = mode
        self.piece = piece
        self.requests_file = requests_file or os.path.join(root, "requests.txt")
        self.connections_file = connections_file or self.requests_file + ".connections"

    def fresh_files(self):
        return [self.requests_file, self.connections_file]

    def command(self):
        return [sys.executable, os.path.abspath(__file__), "--port", str(self.port), "--root", self.root,
                "--mode", self.mode, "--requests", self.requests_file, "--connections", self.connections_file,
                "--piece", str(self.piece), *self.extra_args]

    def description(self):
        return f"test server on port {self.port}"

    def requests(self):
        return _lines(self.requests_file)

    def connections(self):
        return _lines(self.connections_file)


def _lines(path):
    with open(path, encoding="utf-8") as file:
        return [line.strip() for line in file if line.strip()]


class QuietServer(http.server.ThreadingHTTPServer):
    """A client that hangs up or refuses the certificate is part of the tests, not an error."""
    daemon_threads = True

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError)):
            super().handle_error(request, client_address)

    def record_connection(self, outcome):
        with open(self.connections_file, "a", encoding="utf-8") as connections:
            connections.write(outcome + "\n")


def tls_context(certificate, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    return context


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--mode", default="normal",
                        choices=["normal", "chunked", "slowchunked", "slow", "404", "drop", "stall", *APPENDED_MODES])
    parser.add_argument("--requests", required=True)
    parser.add_argument("--connections", default=os.devnull)
    parser.add_argument("--piece", type=int, default=4096)
    parser.add_argument("--times", type=int, default=0)
    parser.add_argument("--retry-after", type=int, default=None)
    parser.add_argument("--stall-seconds", type=float, default=20)
    parser.add_argument("--location", default=None)
    parser.add_argument("--tls", nargs=2, metavar=("CERT.pem", "KEY.pem"), default=None)
    options = parser.parse_args()
    server = QuietServer(("127.0.0.1", options.port), PackageHandler)
    if options.tls:
        # The handshake happens in each connection's thread (PackageHandler.handle), so a client
        # that never completes one holds up nobody else.
        server.socket = tls_context(*options.tls).wrap_socket(server.socket, server_side=True,
                                                               do_handshake_on_connect=False)
    server.root = os.path.realpath(options.root)
    server.mode = options.mode
    server.requests_file = options.requests
    server.connections_file = options.connections
    server.piece = max(1, options.piece)
    server.stopping = False
    server.times = options.times
    server.retry_after = options.retry_after
    server.stall_seconds = options.stall_seconds
    server.location = options.location
    server.count = 0
    server.count_lock = threading.Lock()
    announce_listening()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
