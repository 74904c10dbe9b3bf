"""A root certificate trusted in the build's own Wine prefix, and there only, while a block runs.

root_store.exe (built beside the tests) adds it to the local machine's "Root" system store. Wine 8
keeps that store under HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates in the
prefix's registry: in each session, the first program that opens it brings in the host's CA file
(those entries are not saved with the prefix), while a certificate a program adds is saved in the
prefix's system.reg until it is removed. The host's own files and stores are never touched.
Leaving the block removes the certificate and checks that it is gone. Should a run be killed
before that, what stays behind is trust in a throwaway root whose key was deleted with the test's
folder.
"""
import os

import harness

ROOT_STORE = os.path.join(harness.BUILD_DIR, "tests", "e2e", "root_store.exe")
IN_STORE, NOT_IN_STORE = 0, 1


def _windows_path(linux_path):
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")  # Wine's Z: is the host's /


def root_store(action, certificate):
    """root_store.exe's exit code; its output is reported when it failed."""
    run = harness.run_program(ROOT_STORE, [action, _windows_path(certificate)])
    if run.returncode not in (IN_STORE, NOT_IN_STORE):
        raise AssertionError(f"root_store.exe {action} failed ({run.returncode}): {run.stderr.decode(errors='replace')}")
    return run.returncode


class TrustedRoot:
    """|certificate| (a DER file) trusted while the block runs; needs a running Wine session."""

    def __init__(self, certificate):
        self.certificate = certificate

    def __enter__(self):
        if root_store("add", self.certificate) != IN_STORE or root_store("has", self.certificate) != IN_STORE:
            raise AssertionError(f"{self.certificate} did not reach the prefix's root store")
        return self

    def __exit__(self, *exc):
        root_store("remove", self.certificate)
        if root_store("has", self.certificate) != NOT_IN_STORE:
            raise AssertionError(f"{self.certificate} is still in the prefix's root store")
        return False
