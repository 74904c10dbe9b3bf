#!/usr/bin/env python3
"""Keys that live in a token: scripts/make-signing-key makes the package key inside a SoftHSM2
token made at test time, scripts/sign-package signs with it through its pkcs11: address, and
scripts/sign-program signs a Windows program with a code-signing key of the same token; qv-unzip
--verify and osslsigncode verify check the results.

    test_token_signing.py QV_UNZIP
"""
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts")
MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN, PIN = "qv-release-test", "4711"
QV_UNZIP = None


def run(*args, env=None):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=120, env=env)


class TokenSigningTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        folder = cls.folder.name
        os.makedirs(os.path.join(folder, "tokens"))
        config = os.path.join(folder, "softhsm2.conf")
        with open(config, "w") as file:
            file.write(f"directories.tokendir = {folder}/tokens\nobjectstore.backend = file\nlog.level = ERROR\n")
        cls.env = dict(os.environ, SOFTHSM2_CONF=config)
        made = run("softhsm2-util", "--init-token", "--free", "--label", TOKEN, "--so-pin", "1234", "--pin", PIN,
                   env=cls.env)
        assert made.returncode == 0, made.stdout + made.stderr
        cls.pin_file = cls.write("pin.txt", PIN + "\n")
        cls.keys = os.path.join(folder, "keys")
        made = run(os.path.join(SCRIPTS, "make-signing-key"), "--pkcs11-module", MODULE, "--token", TOKEN,
                   "--pin-file", cls.pin_file, cls.keys, env=cls.env)
        assert made.returncode == 0, made.stdout + made.stderr
        with open(os.path.join(cls.keys, "package-key.uri")) as file:
            cls.key_address = file.read().strip()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def write(cls, name, text):
        path = os.path.join(cls.folder.name, name)
        with open(path, "w") as file:
            file.write(text)
        return path

    def package(self):
        path = os.path.join(self.folder.name, "Installer.zip")
        with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("Installer.exe", b"MZ" + bytes(3000))
        return path

    def sign_package(self, path, pin_file):
        return run(os.path.join(SCRIPTS, "sign-package"), "--build", "x86", "--version", "10.22.0.0",
                   "--pkcs11-module", MODULE, "--pin-file", pin_file, self.key_address, path, env=self.env)

    def test_the_package_key_is_made_inside_the_token_once(self):
        self.assertTrue(self.key_address.startswith(f"pkcs11:token={TOKEN};object=quorvel-package-key;id=%"))
        self.assertFalse(os.path.exists(os.path.join(self.keys, "package-key.pem")), "a private key file was written")
        again = run(os.path.join(SCRIPTS, "make-signing-key"), "--pkcs11-module", MODULE, "--token", TOKEN,
                    "--pin-file", self.pin_file, os.path.join(self.folder.name, "again"), env=self.env)
        self.assertEqual(1, again.returncode)
        self.assertIn("holds a key named quorvel-package-key; not overwriting a key", again.stderr)

    def test_a_package_signed_in_the_token_verifies_and_a_wrong_pin_signs_nothing(self):
        path = self.package()
        signed = self.sign_package(path, self.pin_file)
        self.assertEqual(0, signed.returncode, signed.stderr)
        verified = run(QV_UNZIP, "--verify", os.path.join(self.keys, "package-key.pub.pem"), path)
        self.assertEqual(0, verified.returncode, verified.stdout)
        self.assertIn("authentic, signed with key", verified.stdout)
        self.assertIn("version 10.22.0.0 for the 32-bit build", verified.stdout)

        before = open(path, "rb").read()
        refused = self.sign_package(path, self.write("wrong-pin.txt", "0000\n"))
        self.assertEqual(1, refused.returncode, refused.stdout)
        self.assertIn("openssl could not use the key pkcs11:", refused.stderr)
        self.assertEqual(before, open(path, "rb").read(), "a failed signing changed the package")

    def test_a_program_signed_in_the_token_verifies(self):
        folder = self.folder.name
        made = run("pkcs11-tool", "--module", MODULE, "--token-label", TOKEN, "--login", "--pin", PIN,
                   "--keypairgen", "--key-type", "rsa:2048", "--label", "codesign", "--id", "c0de", env=self.env)
        self.assertEqual(0, made.returncode, made.stderr)
        key = f"pkcs11:token={TOKEN};object=codesign;type=private"
        certificate = os.path.join(folder, "codesign.pem")
        engine_config = self.write("openssl.cnf", (
            "openssl_conf = init\n[init]\nengines = engines\n[engines]\npkcs11 = pkcs11\n[pkcs11]\n"
            f"engine_id = pkcs11\nMODULE_PATH = {MODULE}\ninit = 0\n"))
        made = run("openssl", "req", "-new", "-x509", "-engine", "pkcs11", "-keyform", "engine",
                   "-key", f"{key};pin-value={PIN}", "-subj", "/CN=QuorVel Token Test Signer",
                   "-addext", "extendedKeyUsage=codeSigning", "-days", "30", "-out", certificate,
                   env=dict(self.env, OPENSSL_CONF=engine_config))
        self.assertEqual(0, made.returncode, made.stderr)
        source = self.write("hello.c", "int main(void) { return 0; }\n")
        program = os.path.join(folder, "hello.exe")
        subprocess.run(["x86_64-w64-mingw32-gcc", "-o", program, source], check=True)

        signed = run(os.path.join(SCRIPTS, "sign-program"), "--pkcs11-module", MODULE, "--key", key,
                     "--pin-file", self.pin_file, "--certificate", certificate, "--name", "QuorVel", program,
                     env=self.env)
        self.assertEqual(0, signed.returncode, signed.stderr)
        verified = run("osslsigncode", "verify", "-CAfile", certificate, "-in", program)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("QuorVel Token Test Signer", verified.stdout)


if __name__ == "__main__":
    QV_UNZIP = sys.argv.pop(1)
    unittest.main()
