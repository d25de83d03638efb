#!/usr/bin/env python3
"""Trust, end to end under Wine: an Update.exe with an embedded key takes only signed
archives (when downloading and again when applying), a signed installer still installs, and
neither program loads a DLL dropped beside it."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.environ["TRUST_UPDATER_TESTS"])
from test_runvel_e2e import ARCHIVE, RunvelCase, version_list, winpath, zip_bytes  # noqa: E402

WORK = os.environ["RUNVEL_WORK"]
KEY = os.environ["TRUST_KEY"]
PUBLISH = os.environ["TRUST_PUBLISH"]
PACK = os.environ["TRUST_PACK"]
STUB = os.environ["TRUST_STUB"]
SAMPLE_ZIP = os.environ["TRUST_SAMPLE_ZIP"]
DRIVE = os.environ["TRUST_DRIVE"]
MARKER = os.environ["TRUST_MARKER"]
PLAIN_LOADER = os.environ["TRUST_PLAIN_LOADER"]
WINE_RUN = os.environ["RUNVEL_WINE_RUN"]

NAME = "1000820090415.zip"
OTHER = zip_bytes({"readme.txt": "another archive\r\n"})
# Wine would take these from the program's folder if asked by name (the control test shows it).
# Not version.dll: Wine's own user32 imports it, so Wine resolves it from the program's folder
# while the process starts, before any program code (Windows' user32 is a KnownDLL without
# that import); no program can prevent that.
PLANTED = ["wininet", "bcrypt", "uxtheme", "dwmapi", "comctl32"]
NATIVE_FIRST = "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED)


def scratch():
    return tempfile.mkdtemp(prefix="trust_", dir=WORK)


def run_tool(*args):
    return subprocess.run([sys.executable] + list(args), check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).stdout.decode()


def sign(data, key=KEY):
    """The publisher's signature of data, as served beside an archive."""
    tmp = scratch()
    try:
        path = os.path.join(tmp, NAME)
        with open(path, "wb") as f:
            f.write(data)
        run_tool(PUBLISH, "sign", key, path)
        with open(path + ".sig", "rb") as f:
            return f.read()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def other_key():
    if not hasattr(other_key, "path"):
        folder = scratch()
        run_tool(PUBLISH, "keygen", os.path.join(folder, "other"))
        other_key.path = os.path.join(folder, "other.pem")
    return other_key.path


class SignedUpdateCase(RunvelCase):
    """RunvelCase with the Update.exe that embeds the tests' key."""

    def serve(self, archive, signature):
        self.server.archives[NAME] = archive
        if signature is not None:
            self.server.archives[NAME + ".sig"] = signature
        self.server.version_list = version_list(("1000820090415", self.server.url("/exact/" + NAME)))

    def assert_nothing_applied(self):
        self.assertEqual((10008, 20090324), self.installed_version())
        self.assertFalse(os.path.exists(self.path("readme.txt")))


class SignedDownloadTest(SignedUpdateCase):
    def test_signed_archive_is_stored_with_its_signature_then_applied(self):
        sig = sign(ARCHIVE)
        self.serve(ARCHIVE, sig)
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([NAME, NAME + ".sig"], self.pending())
        with open(self.path("UpdateZip", NAME + ".sig"), "rb") as f:
            self.assertEqual(sig, f.read())
        self.assertIn(("/exact/%s.sig" % NAME, "Update"), self.server.requests)

        self.server.version_list = version_list()
        os.remove(self.path("Orvane.runs.txt"))
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending())
        self.assertEqual((10008, 20090415), self.installed_version())
        with open(self.path("readme.txt"), "rb") as f:
            self.assertEqual(b"new readme\r\n", f.read())

    def test_archive_without_a_valid_signature_is_not_stored(self):
        sig = sign(ARCHIVE)
        tampered = bytearray(ARCHIVE)
        tampered[len(tampered) // 2] ^= 0x01
        cases = [
            ("tampered byte", bytes(tampered), sig),
            ("wrong key", ARCHIVE, sign(ARCHIVE, other_key())),
            ("missing signature", ARCHIVE, None),
            ("truncated signature", ARCHIVE, sig[:63]),
            ("empty signature", ARCHIVE, b""),
            ("signature with a byte more", ARCHIVE, sig + b"\0"),
            ("signature of another archive", ARCHIVE, sign(OTHER)),
        ]
        for what, archive, signature in cases:
            with self.subTest(what):
                self.setUp()
                try:
                    self.serve(archive, signature)
                    self.run_updater()
                    self.assert_lobby_started_once()
                    self.assertEqual([], self.pending())
                    self.assert_nothing_applied()
                finally:
                    self.tearDown()


class SignedApplyTest(SignedUpdateCase):
    """What lies in UpdateZip is checked again when it is applied."""

    def place(self, archive, signature):
        with open(self.path("UpdateZip", NAME), "wb") as f:
            f.write(archive)
        if signature is not None:
            with open(self.path("UpdateZip", NAME + ".sig"), "wb") as f:
                f.write(signature)

    def test_only_a_pending_archive_whose_signature_verifies_is_applied(self):
        sig = sign(ARCHIVE)
        changed = bytearray(ARCHIVE)
        changed[-30] ^= 0x40  # in the central directory: still a readable archive
        cases = [
            ("signed", ARCHIVE, sig, True),
            ("changed after the download", bytes(changed), sig, False),
            ("no signature file", ARCHIVE, None, False),
            ("truncated signature file", ARCHIVE, sig[:32], False),
            ("signature of another archive", ARCHIVE, sign(OTHER), False),
            ("wrong key", ARCHIVE, sign(ARCHIVE, other_key()), False),
        ]
        for what, archive, signature, applied in cases:
            with self.subTest(what):
                self.setUp()
                try:
                    self.place(archive, signature)
                    self.run_updater()
                    self.assert_lobby_started_once()
                    self.assertEqual([], self.pending())
                    if applied:
                        self.assertEqual((10008, 20090415), self.installed_version())
                        self.assertTrue(os.path.exists(self.path("Skin", "new", "skin.txt")))
                    else:
                        self.assert_nothing_applied()
                finally:
                    self.tearDown()


def certificate_table(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    offset, size = struct.unpack_from("<II", data, pe + 24 + 96 + 4 * 8)
    return data, offset, size


def throwaway_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=Tessaly test signing"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def drive_install(installer, folder, env=None):
    out = subprocess.run([WINE_RUN, DRIVE, winpath(installer), folder], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=180).stdout
    return out.decode("utf-8", "replace")


class KeptShortcuts:
    """Puts the prefix's product shortcuts back as they were before an installation here."""

    def __init__(self):
        self.saved = {}

    def __enter__(self):
        for path in self.paths():
            self.saved[path] = None
            if os.path.exists(path):
                with open(path, "rb") as f:
                    self.saved[path] = f.read()
        return self

    def __exit__(self, *exc):
        for path, data in self.saved.items():
            if data is None:
                if os.path.exists(path):
                    os.remove(path)
            else:
                with open(path, "wb") as f:
                    f.write(data)

    @staticmethod
    def paths():
        users = os.path.join(prefix_path("C:\\users"))
        found = []
        for user in os.listdir(users) if os.path.isdir(users) else []:
            home = os.path.join(users, user)
            found.append(os.path.join(home, "Desktop", "Tessaly1.0.lnk"))
            found.append(os.path.join(home, "AppData", "Roaming", "Microsoft", "Windows",
                                      "Start Menu", "Programs", "Tessaly", "Tessaly1.0.lnk"))
        return found


def prefix_path(win):
    """A C:\\ path of the Wine prefix as a host path."""
    prefix = os.environ.get("WINEPREFIX") or os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "..", "build", "wineprefix")
    return os.path.join(prefix, "drive_c", win[3:].replace("\\", "/"))


class SignedInstallerTest(unittest.TestCase):
    def setUp(self):
        self.dir = scratch()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_signed_installer_keeps_its_package_and_installs(self):
        cert, key = throwaway_certificate(self.dir)
        signed = os.path.join(self.dir, "PellarSetup.exe")
        run_tool(PACK, "--stub", STUB, "--zip", SAMPLE_ZIP, "--out", signed,
                 "--sign", cert, key, "--sign-name", "PellarSetup")
        data, offset, size = certificate_table(signed)
        self.assertGreater(size, 0)
        self.assertEqual(len(data), offset + size, "the certificate table ends the file")
        with open(SAMPLE_ZIP, "rb") as f:
            package = f.read()
        self.assertEqual(struct.pack("<I", len(package)), data[offset - 4:offset])
        self.assertEqual(package, data[offset - 4 - len(package):offset - 4])
        verify = subprocess.run(["osslsigncode", "verify", "-in", signed],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode()
        # The signature covers exactly this file (the certificate itself is not trusted).
        current = re.search(r"Current message digest\s*:\s*([0-9A-F]+)", verify)
        calculated = re.search(r"Calculated message digest\s*:\s*([0-9A-F]+)", verify)
        self.assertTrue(current and calculated, verify)
        self.assertEqual(current.group(1), calculated.group(1), verify)

        folder = "C:\\Program Files\\Tessaly Signed"
        shutil.rmtree(prefix_path(folder), ignore_errors=True)
        with KeptShortcuts():
            out = drive_install(signed, folder)
        self.assertIn("result=ok", out, out)
        installed = prefix_path(folder)
        for name in ("Update.exe", "Orvane.exe", os.path.join("Sys", "Config.ini")):
            self.assertTrue(os.path.exists(os.path.join(installed, name)), name)
        shutil.rmtree(installed, ignore_errors=True)


def plant(folder):
    for name in PLANTED:
        shutil.copy(MARKER, os.path.join(folder, name + ".dll"))


def markers(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".loaded"))


class DllSearchTest(SignedUpdateCase):
    """DLLs named like system ones beside the installer and the updater; Wine is told to
    prefer native DLLs, so it would load them if either program searched its own folder."""

    def wine_env(self):
        env = dict(os.environ)
        env["WINEDLLOVERRIDES"] = NATIVE_FIRST
        return env

    def test_control_a_plain_load_takes_the_planted_dll(self):
        folder = scratch()
        try:
            plant(folder)
            loader = os.path.join(folder, "loader.exe")
            shutil.copy(PLAIN_LOADER, loader)
            out = subprocess.run([WINE_RUN, loader, "wininet.dll", "uxtheme.dll"],
                                 env=self.wine_env(), stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=60).stdout.decode()
            self.assertIn("wininet.dll=loaded", out)
            self.assertEqual(["uxtheme.dll.loaded", "wininet.dll.loaded"], markers(folder))
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_updater_loads_nothing_from_its_folder(self):
        plant(self.app)
        self.serve(ARCHIVE, sign(ARCHIVE))
        out = subprocess.run([WINE_RUN, os.environ["RUNVEL_PROBE"], winpath(self.path("Update.exe")),
                              winpath(self.cwd)], env=self.wine_env(), stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=120, check=True).stdout.decode()
        self.assertEqual([], markers(self.app))
        self.assertIn("exit=0", out)
        self.assert_lobby_started_once()
        # It did download and check: wininet and bcrypt were in use.
        self.assertEqual([NAME, NAME + ".sig"], self.pending())

    def test_installer_loads_nothing_from_its_folder(self):
        folder = scratch()
        try:
            plant(folder)
            installer = os.path.join(folder, "PellarSetup.exe")
            run_tool(PACK, "--stub", STUB, "--zip", SAMPLE_ZIP, "--out", installer)
            target = "C:\\Program Files\\Tessaly Planted"
            shutil.rmtree(prefix_path(target), ignore_errors=True)
            with KeptShortcuts():
                out = drive_install(installer, target, env=self.wine_env())
            self.assertEqual([], markers(folder))
            self.assertIn("result=ok", out, out)
            shutil.rmtree(prefix_path(target), ignore_errors=True)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
