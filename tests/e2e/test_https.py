"""The download over HTTPS, as the shipped program makes it: a good certificate installs, a bad one
ends the run at once (never retried) with its reason in the log, and a redirect never leaves https.

The test program's addresses are http://127.0.0.1:PORT/...: the server there redirects (http to
https is allowed) to TLS servers on other ports, addressed as https://localhost:P because Wine 8
matches a certificate's DNS names only (one for IP:127.0.0.1 fails with 12038). The certificates
are made for this run (certificates.py); the throwaway root is trusted in the build's own Wine
prefix while the suite runs and removed afterwards (trusted_root.py).

ServerAndProxyTest checks, without Wine, the test server's ranges and the test proxy that the
download's later tests build on.
"""
import http.client
import os
import shutil
import socket
import ssl
import tempfile
import unittest
import urllib.error
import urllib.request

import harness
from certificates import TestCertificates
from proxy import ForwardProxy
from server import PackageServer
from test_pipeline import PORT, PipelineTest, log_entries
from trusted_root import TrustedRoot

PACKAGE_PATH = "/x86/Installer.zip"  # Wine's default Windows 7 gets the 32-bit build

# A certificate WinINet refuses, and the error it gives for it under Wine 8.
# The reason of each refusal as this system tells it. Windows' WinHTTP fails the send with
# ERROR_WINHTTP_SECURE_FAILURE (12175) and names the problems in its SECURE_FAILURE notification;
# Wine 8's fails every one of them with ERROR_WINHTTP_SECURE_CHANNEL_ERROR (12157) and no
# notification, so under Wine the log can only say that the secure connection failed.
WINE_CERTIFICATE_ERROR = 12157
WINE_CERTIFICATE_REASON = "certificate was refused: the secure connection could not be made"
BAD_CERTIFICATES = ["wrong_host", "expired", "unknown_authority", "self_signed"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Hop:
    """One server after the program's own http address: https with a certificate, or plain http."""

    def __init__(self, test, certificate=None):
        self.port = free_port()
        self.tls = test.certificates.server(certificate) if certificate else None
        scheme, host = ("https", "localhost") if certificate else ("http", "127.0.0.1")
        self.address = f"{scheme}://{host}:{self.port}"
        self.requests_file = os.path.join(test.folder, f"requests-{self.port}.txt")

    def server(self, site, next_hop):
        """The package server, or with a next hop a server that redirects every request there."""
        mode = "normal" if next_hop is None else "redirect"
        return PackageServer(site, self.port, mode=mode, location=next_hop and next_hop.address, tls=self.tls,
                             requests_file=self.requests_file)


class HttpsTest(PipelineTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certificate_folder = tempfile.mkdtemp(prefix="qv-certificates-")
        try:
            cls.certificates = TestCertificates(cls.certificate_folder)
            cls.trusted_root = TrustedRoot(cls.certificates.root_der).__enter__()
        except BaseException:
            shutil.rmtree(cls.certificate_folder, ignore_errors=True)
            super().tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            cls.trusted_root.__exit__(None, None, None)
        finally:
            shutil.rmtree(cls.certificate_folder, ignore_errors=True)
            super().tearDownClass()

    def run_through(self, hops):
        """Runs the program with its http address redirecting to the first of |hops|, each of which
        redirects to the next; the last serves the package. Returns (run, output, servers), with
        every server stopped."""
        self.publish(self.package().write)
        servers = [hop.server(self.site, hops[index + 1] if index + 1 < len(hops) else None)
                   for index, hop in enumerate(hops)]
        entry = PackageServer(self.site, PORT, mode="redirect", location=hops[0].address,
                              requests_file=os.path.join(self.folder, "entry.txt"))
        started = []
        try:
            for server in [*reversed(servers), entry]:
                server.start()
                started.append(server)
            run, out = self.run_silent()
        finally:
            for server in started:
                server.stop()
        self.assertEqual([PACKAGE_PATH], entry.requests(), "the program's own address is asked once")
        return run, out, servers

    def assertReached(self, server, requests):
        """|server| saw one connection per request; a TLS one completed its handshake."""
        self.assertEqual([PACKAGE_PATH] * requests, server.requests())
        self.assertEqual(requests, len(server.connections()), server.connections())
        self.assertTrue(all(c.startswith("tls handshake done") or c == "plain" for c in server.connections()),
                        server.connections())

    def assertRefusedOnce(self, run, out, reason):
        """The run failed at once, on its first attempt, with |reason| in its warning and errors."""
        self.assertExit(harness.EXIT_INSTALL_FAILURE, run)
        entries = log_entries()
        warnings = [m for level, m in entries if level == "Warning"]
        errors = [m for level, m in entries if level == "Eerror"]
        self.assertEqual(1, len(warnings), f"not retried: {entries}")
        self.assertTrue(warnings[0].startswith("Download attempt 1 of 4 failed: "), warnings)
        self.assertIn(reason, warnings[0])
        self.assertTrue(any(reason in m for m in errors), f"errors: {errors}")
        self.assertEqual(1, out.count("Fetching files..."), "one attempt only")
        self.assertNothingRun()

    def test_a_good_certificate_and_a_redirect_to_https_install(self):
        cases = [  # the certificates of the https hops
            ("one https server", ["valid"]),
            ("https redirected to https", ["valid", "valid"]),
        ]
        for name, certificates in cases:
            with self.subTest(name):
                run, _, servers = self.run_through([Hop(self, certificate) for certificate in certificates])
                self.assertExit(harness.EXIT_SUCCESS, run)
                for server in servers:
                    self.assertReached(server, 1)
                self.assertLogHas("Note", "Downloading finished")
                self.assertEqual(["vcredist", "Installer"], [s["role"] for s in self.starts()])
                os.remove(self.records)

    def test_a_bad_certificate_fails_at_once_with_its_reason(self):
        error = WINE_CERTIFICATE_ERROR
        for certificate in BAD_CERTIFICATES:
            with self.subTest(certificate):
                run, out, [server] = self.run_through([Hop(self, certificate)])
                self.assertRefusedOnce(run, out, WINE_CERTIFICATE_REASON)
                self.assertIn(f"(error {error})", [w for level, w in log_entries() if level == "Warning"][0])
                self.assertEqual(1, len(server.connections()), f"one connection, not retried: {server.connections()}")
                self.assertEqual([], server.requests(), "no request went over the refused connection")
                self.assertIn(f"Downloading install files failed with error {error} (0x{error:04X})",
                              [m.split(":")[0] for level, m in log_entries() if level == "Eerror"])

    def test_a_redirect_from_https_to_http_is_refused(self):
        hops = [Hop(self, "valid"), Hop(self)]
        run, out, (https_server, http_server) = self.run_through(hops)
        self.assertRefusedOnce(run, out, f"{hops[1].address}{PACKAGE_PATH}")
        self.assertIn(f"redirected from https to {hops[1].address}{PACKAGE_PATH}",
                      [w for level, w in log_entries() if level == "Warning"][0])
        self.assertIn("which is not https", "".join(m for level, m in log_entries() if level == "Eerror"))
        self.assertReached(https_server, 1)
        self.assertEqual([], http_server.requests(), "the http address was not asked")


class ServerAndProxyTest(unittest.TestCase):
    """The test server's ranges over TLS and the test proxy, with Python's own client."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="qv-ranges-")
        cls.addClassCleanup(shutil.rmtree, cls.folder, ignore_errors=True)
        cls.certificates = TestCertificates(cls.folder)
        cls.client_context = ssl.create_default_context(cafile=cls.certificates.root)
        cls.site = os.path.join(cls.folder, "site")
        os.makedirs(os.path.join(cls.site, "x64"))
        cls.body = os.urandom(10_000)
        with open(os.path.join(cls.site, "x64", "Installer.zip"), "wb") as package:
            package.write(cls.body)

    def serve(self, mode="normal", piece=4096):
        return PackageServer(self.site, free_port(), mode=mode, piece=piece, tls=self.certificates.server("valid"),
                             requests_file=os.path.join(self.folder, f"requests-{mode}.txt"))

    def fetch(self, server, headers=None):
        """(status, headers, body) of a GET of the package over https."""
        request = urllib.request.Request(f"https://localhost:{server.port}/x64/Installer.zip", headers=headers or {})
        try:
            with urllib.request.urlopen(request, context=self.client_context) as answer:
                return answer.status, answer.headers, answer.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def test_ranges_and_if_range(self):
        size = len(self.body)
        cases = [  # mode, request headers (from the first answer's headers), status, first byte
            ("normal", lambda first: {"Range": "bytes=1000-"}, 206, 1000),
            ("normal", lambda first: {"Range": "bytes=1000-", "If-Range": first["ETag"]}, 206, 1000),
            ("normal", lambda first: {"Range": "bytes=1000-", "If-Range": first["Last-Modified"]}, 206, 1000),
            ("normal", lambda first: {"Range": "bytes=1000-", "If-Range": "W/" + first["ETag"]}, 200, 0),
            ("normal", lambda first: {"Range": "bytes=1000-", "If-Range": '"another"'}, 200, 0),
            ("normal", lambda first: {"Range": f"bytes={size}-"}, 416, None),
            ("norange", lambda first: {"Range": "bytes=1000-"}, 200, 0),
            ("etagchange", lambda first: {"Range": "bytes=1000-", "If-Range": first["ETag"]}, 200, 0),
        ]
        for mode, headers, status, start in cases:
            with self.subTest(mode=mode, headers=headers(dict.fromkeys(["ETag", "Last-Modified"], "..."))):
                with self.serve(mode) as server:
                    first_status, first, whole = self.fetch(server)
                    self.assertEqual((200, self.body), (first_status, whole))
                    seen_status, seen, body = self.fetch(server, headers(first))
                self.assertEqual(status, seen_status)
                if start is None:
                    self.assertEqual(f"bytes */{size}", seen["Content-Range"])
                else:
                    self.assertEqual(self.body[start:], body)
                    expected_range = f"bytes {start}-{size - 1}/{size}" if status == 206 else None
                    self.assertEqual(expected_range, seen["Content-Range"])

    def test_cutevery_is_finished_by_resuming(self):
        piece = 3000
        received = b""
        with self.serve("cutevery", piece) as server:
            while len(received) < len(self.body):
                request = http.client.HTTPSConnection("localhost", server.port, context=self.client_context)
                request.request("GET", "/x64/Installer.zip", headers={"Range": f"bytes={len(received)}-"})
                answer = request.getresponse()
                self.assertEqual(206, answer.status)
                try:
                    received += answer.read()
                except http.client.IncompleteRead as cut:
                    self.assertEqual(piece, len(cut.partial), "cut after one piece")
                    received += cut.partial
                request.close()
            self.assertEqual(4, len(server.requests()), "10000 bytes in pieces of 3000")
        self.assertEqual(self.body, received)

    def test_proxy_forwards_tunnels_and_asks_for_credentials(self):
        requests_file = os.path.join(self.folder, "proxy.txt")
        with PackageServer(self.site, free_port(), requests_file=os.path.join(self.folder, "plain.txt")) as plain, \
                self.serve() as secure:
            with ForwardProxy(free_port(), requests_file) as proxy:
                plain_address = f"http://127.0.0.1:{plain.port}/x64/Installer.zip"
                self.assertEqual(self.body, self.through_proxy(proxy, plain_address))
                self.assertEqual(self.body, self.tunnelled(proxy, secure.port))
                self.assertEqual([f"GET {plain_address}", f"CONNECT localhost:{secure.port}"], proxy.requests())
            with ForwardProxy(free_port(), requests_file, mode="auth407") as proxy:
                with self.assertRaises(urllib.error.HTTPError) as refused:
                    self.through_proxy(proxy, plain_address, credentials="Basic dGVzdDp0ZXN0")
                self.assertEqual(407, refused.exception.code)
                self.assertEqual('Basic realm="test"', refused.exception.headers["Proxy-Authenticate"])
                with self.assertRaisesRegex(OSError, "407"):
                    self.tunnelled(proxy, secure.port)
                self.assertEqual([f"GET {plain_address}\tBasic dGVzdDp0ZXN0", f"CONNECT localhost:{secure.port}"],
                                 proxy.requests())
            self.assertEqual(1, len(plain.requests()), "the refused request never reached the server")

    def through_proxy(self, proxy, address, credentials=None):
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": f"http://127.0.0.1:{proxy.port}"}))
        headers = {"Proxy-Authorization": credentials} if credentials else {}
        with opener.open(urllib.request.Request(address, headers=headers)) as answer:
            return answer.read()

    def tunnelled(self, proxy, port):
        connection = http.client.HTTPSConnection("127.0.0.1", proxy.port, context=self.client_context)
        connection.set_tunnel("localhost", port)
        try:
            connection.request("GET", "/x64/Installer.zip")
            return connection.getresponse().read()
        finally:
            connection.close()


# Only this file's tests: the inherited ones run in the pipeline suite.
for _name in [n for n in vars(PipelineTest) if n.startswith("test_")]:
    setattr(HttpsTest, _name, None)

if __name__ == "__main__":
    unittest.main(defaultTest=["HttpsTest", "ServerAndProxyTest"])
