"""A local forward proxy for the tests, as the networks of companies put between a program and the
Internet.

Run as a program (the tests start it as a child process and stop it by its pid):
    proxy.py --port P --mode MODE --requests FILE

Modes:
    forward  a request for an absolute http address ("GET http://host:port/path HTTP/1.1", or the
             origin form with the server in Host, as Wine's WinHTTP sends it) is sent on to that server with "Connection: close", and its answer is passed back byte for byte
             as it comes; "CONNECT host:port" is answered "200 Connection established" and becomes a
             tunnel to host:port (an HTTPS client speaks TLS with the server through it)
    auth407  every request, CONNECT too, is answered "407 Proxy Authentication Required" with
             Proxy-Authenticate: Basic realm="test"
Every request is appended to the requests file before it is answered, one line each: the method
and the target as they came, and a tab and the Proxy-Authorization header's value when one came.
Each connection carries one request: the proxy closes it after the answer.
"""
import argparse
import http.server
import os
import socket
import sys
import threading
import urllib.parse

from listening_child import ChildServer, announce_listening

# Headers that belong to one connection, not to the request that is passed on.
HOP_BY_HOP = {"connection", "keep-alive", "proxy-authorization", "proxy-connection", "te", "trailer", "upgrade"}
UPSTREAM_TIMEOUT_S = 60


def _copy(read, destination):
    """Passes on what |read| gives until it gives nothing, then tells |destination| no more comes."""
    try:
        while True:
            data = read(65536)
            if not data:
                break
            destination.sendall(data)
    except OSError:
        pass  # either side hung up: the other is told below
    try:
        destination.shutdown(socket.SHUT_WR)
    except OSError:
        pass


class ProxyHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QvTestProxy/1"

    def log_message(self, format, *args):  # keep the test output clean
        pass

    def do_CONNECT(self):
        self._answer(self._tunnel)

    def do_GET(self):
        self._answer(self._forward)

    do_HEAD = do_POST = do_GET

    def _answer(self, serve):
        self._record()
        self.close_connection = True
        try:
            if self.server.mode == "auth407":
                self._send_status_only(407, [("Proxy-Authenticate", 'Basic realm="test"')])
            else:
                serve()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up

    def _record(self):
        line = f"{self.command} {self.path}"
        if self.headers.get("Proxy-Authorization") is not None:
            line += "\t" + self.headers["Proxy-Authorization"]
        with open(self.server.requests_file, "a", encoding="utf-8") as requests:
            requests.write(line + "\n")

    def _send_status_only(self, code, headers=()):
        message = f"{code} from the test proxy\n".encode()
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(message)))
        self.end_headers()
        self.wfile.write(message)

    def _upstream(self, host, port):
        try:
            return socket.create_connection((host, port), timeout=UPSTREAM_TIMEOUT_S)
        except OSError:
            self._send_status_only(502)
            return None

    def _forward(self):
        target = urllib.parse.urlsplit(self.path)
        if not target.scheme and self.path.startswith("/") and self.headers.get("Host"):
            # Wine 8's WinHTTP sends a proxy the origin form ("GET /path", the server in Host)
            # where Windows sends the absolute address; the proxy takes both.
            target = urllib.parse.urlsplit("http://" + self.headers["Host"] + self.path)
        if target.scheme != "http" or not target.hostname:
            self._send_status_only(400)
            return
        upstream = self._upstream(target.hostname, target.port or 80)
        if upstream is None:
            return
        with upstream:
            path = (target.path or "/") + (f"?{target.query}" if target.query else "")
            lines = [f"{self.command} {path} HTTP/1.1"]
            lines += [f"{name}: {value}" for name, value in self.headers.items() if name.lower() not in HOP_BY_HOP]
            upstream.sendall(("\r\n".join([*lines, "Connection: close", "", ""])).encode("latin-1"))
            length = int(self.headers.get("Content-Length") or 0)
            if length:
                upstream.sendall(self.rfile.read(length))
            _copy(upstream.recv, self.connection)

    def _tunnel(self):
        host, _, port = self.path.rpartition(":")
        upstream = self._upstream(host.strip("[]"), int(port)) if port.isdigit() else None
        if upstream is None:
            return
        with upstream:
            self.send_response(200, "Connection established")
            self.end_headers()
            self.wfile.flush()
            # What the client sends goes from the request's buffered reader on, which may already
            # hold its first bytes; the tunnel ends when the server's side does.
            towards_server = threading.Thread(target=_copy, args=(self.rfile.read1, upstream), daemon=True)
            towards_server.start()
            _copy(upstream.recv, self.connection)
            upstream.shutdown(socket.SHUT_RDWR)


class QuietProxy(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


class ForwardProxy(ChildServer):
    """The proxy as a child process of the test; stop() ends it by its pid."""

    def __init__(self, port, requests_file, mode="forward"):
        self.port = port
        self.mode = mode
        self.requests_file = requests_file

    def fresh_files(self):
        return [self.requests_file]

    def command(self):
        return [sys.executable, os.path.abspath(__file__), "--port", str(self.port), "--mode", self.mode,
                "--requests", self.requests_file]

    def description(self):
        return f"test proxy on port {self.port}"

    def requests(self):
        with open(self.requests_file, encoding="utf-8") as requests:
            return [line.rstrip("\n") for line in requests if line.strip()]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--mode", default="forward", choices=["forward", "auth407"])
    parser.add_argument("--requests", required=True)
    options = parser.parse_args()
    proxy = QuietProxy(("127.0.0.1", options.port), ProxyHandler)
    proxy.mode = options.mode
    proxy.requests_file = options.requests
    announce_listening()
    try:
        proxy.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
