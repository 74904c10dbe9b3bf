"""Throwaway certificates for the HTTPS tests, made with openssl in a folder of the test's own.

A root authority that the tests trust (inside their Wine prefix only: trusted_root.py), a
second root that nobody trusts, and one server certificate for each way a server can present
itself:
    valid              for 127.0.0.1 and localhost, from the trusted root, valid now
    wrong_host         from the trusted root, valid now, but only for example.invalid
    expired            for 127.0.0.1 and localhost, from the trusted root, ended yesterday
    unknown_authority  for 127.0.0.1 and localhost, valid now, from the untrusted root
    self_signed        for 127.0.0.1 and localhost, valid now, signed by its own key
Their keys are made afresh for every test run and deleted with the folder.
"""
import datetime
import os
import subprocess

SERVER_HOSTS = "IP:127.0.0.1,DNS:localhost"
ROOT_EXTENSIONS = ("basicConstraints=critical,CA:TRUE\n"
                   "keyUsage=critical,keyCertSign,cRLSign\n"
                   "subjectKeyIdentifier=hash\n")
SERVER_EXTENSIONS = ("basicConstraints=critical,CA:FALSE\n"
                     "keyUsage=critical,digitalSignature,keyEncipherment\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectKeyIdentifier=hash\n"
                     "authorityKeyIdentifier=keyid\n"
                     "subjectAltName={hosts}\n")
# `openssl ca` takes the validity as given; its database and serial numbers stay in the folder.
CA_CONFIG = """[ca]
default_ca = throwaway
[throwaway]
database = {folder}/index.txt
new_certs_dir = {folder}/issued
rand_serial = yes
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
"""


def _openssl(*args):
    result = subprocess.run(["openssl", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)} failed: {result.stderr.strip()}")


def _time(moment):
    return moment.strftime("%Y%m%d%H%M%SZ")


class TestCertificates:
    """Makes everything in |folder| at once; server(name) gives (certificate, key) as PEM paths."""

    def __init__(self, folder):
        self.folder = folder
        open(os.path.join(folder, "index.txt"), "w").close()
        os.makedirs(os.path.join(folder, "issued"))
        with open(os.path.join(folder, "ca.cnf"), "w") as config:
            config.write(CA_CONFIG.format(folder=folder))
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        long_ago, later = now - datetime.timedelta(days=60), now + datetime.timedelta(days=3)
        self.root = self._issue("root", "QuorVel Test Root (throwaway)", None, ROOT_EXTENSIONS, long_ago, later)
        self.untrusted_root = self._issue("untrusted_root", "QuorVel Untrusted Root (throwaway)", None,
                                          ROOT_EXTENSIONS, long_ago, later)
        self.root_der = self._path("root", "der")
        _openssl("x509", "-in", self.root, "-outform", "DER", "-out", self.root_der)
        hour_ago = now - datetime.timedelta(hours=1)
        server_extensions = SERVER_EXTENSIONS.format(hosts=SERVER_HOSTS)
        self._issue("valid", "127.0.0.1", "root", server_extensions, hour_ago, later)
        self._issue("wrong_host", "example.invalid", "root", SERVER_EXTENSIONS.format(hosts="DNS:example.invalid"),
                    hour_ago, later)
        self._issue("expired", "127.0.0.1", "root", server_extensions, now - datetime.timedelta(days=30),
                    now - datetime.timedelta(days=1))
        self._issue("unknown_authority", "127.0.0.1", "untrusted_root", server_extensions, hour_ago, later)
        self._issue("self_signed", "127.0.0.1", None, server_extensions,
                    hour_ago, later)

    def server(self, name):
        return self._path(name, "pem"), self._path(name, "key")

    def _path(self, name, kind):
        return os.path.join(self.folder, f"{name}.{kind}")

    def _issue(self, name, common_name, issuer, extensions, start, end):
        """A new key and a certificate for it, signed by |issuer| (None: by the new key itself)."""
        key, request, certificate = self._path(name, "key"), self._path(name, "csr"), self._path(name, "pem")
        extension_file = self._path(name, "ext")
        with open(extension_file, "w") as file:
            file.write(extensions)
        _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
                 "-subj", f"/CN={common_name}")
        signer = ["-selfsign", "-keyfile", key] if issuer is None else [
            "-cert", self._path(issuer, "pem"), "-keyfile", self._path(issuer, "key")]
        _openssl("ca", "-batch", "-notext", "-config", os.path.join(self.folder, "ca.cnf"), *signer,
                 "-in", request, "-out", certificate, "-startdate", _time(start), "-enddate", _time(end),
                 "-extfile", extension_file)
        return certificate
