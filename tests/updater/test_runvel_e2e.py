#!/usr/bin/env python3
"""Runs the real Update.exe under Wine in a temporary install folder against a local update
server: what the user sees (the lobby started once, no window) and what lands on disk."""

import io
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "common"))
from testfiles import read_ini, utf16, winpath  # noqa: E402
from update_server import UpdateServer  # noqa: E402

UPDATE_EXE = os.environ["RUNVEL_EXE"]
LOBBY_EXE = os.environ["RUNVEL_LOBBY"]
PROBE_EXE = os.environ["RUNVEL_PROBE"]
WINE_RUN = os.environ["RUNVEL_WINE_RUN"]
WORK = os.environ.get("RUNVEL_WORK", tempfile.gettempdir())


def zip_bytes(entries):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries.items():
            z.writestr(name, data)
    return buf.getvalue()


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def version_list(*entries):
    items = "".join("<Version>%s%s</Version>\r\n" % e for e in entries)
    return ("<html><body>\r\n<ovVersionList>\r\n%s</ovVersionList>\r\n</body></html>\r\n"
            % items).encode("ascii")


CONFIG = ("[LOBBY]\r\nSkin=默认\r\n[VERSION]\r\n;one number per person\r\nFirstVersion=10008\r\n"
          ";one number per day\r\nSecondVersion=20090324\r\n[UPDATE]\r\nServer=%s\r\n")

ARCHIVE = zip_bytes({"readme.txt": "new readme\r\n", "Skin/new/skin.txt": "blue\r\n"})


class RunvelCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = UpdateServer(seconds=240).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="runvel_", dir=WORK)
        self.app = os.path.join(self.dir, "Tessaly")
        self.cwd = os.path.join(self.dir, "elsewhere")
        for d in (self.app, self.cwd, os.path.join(self.app, "Sys"),
                  os.path.join(self.app, "UpdateZip")):
            os.makedirs(d, exist_ok=True)
        shutil.copy(UPDATE_EXE, os.path.join(self.app, "Update.exe"))
        shutil.copy(LOBBY_EXE, os.path.join(self.app, "Orvane.exe"))
        self.write_config(self.server.url(""))
        self.server.version_list = version_list()
        self.server.archives = {}
        self.server.requests.clear()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write_config(self, server):
        with open(self.path("Sys", "Config.ini"), "wb") as f:
            f.write(utf16(CONFIG % server))

    def path(self, *parts):
        return os.path.join(self.app, *parts)

    def pending(self):
        return sorted(os.listdir(self.path("UpdateZip")))

    def run_updater(self):
        """Runs Update.exe once; returns the probe's observations."""
        out = subprocess.run([WINE_RUN, PROBE_EXE, winpath(self.path("Update.exe")),
                              winpath(self.cwd)],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120,
                             check=True).stdout.decode()
        seen = dict(line.strip().split("=", 1) for line in out.splitlines() if "=" in line)
        self.assertNotIn("timeout", seen)
        self.assertEqual("0", seen["exit"])
        self.assertEqual("0", seen["visible_area"], "a window of the updater was visible")
        self.assertEqual("0", seen["app_window"], "the updater had a taskbar button")
        return seen

    def lobby_runs(self, expected=1):
        """The lobby's records once it has written them (it is started asynchronously)."""
        log = self.path("Orvane.runs.txt")
        deadline = time.monotonic() + 20
        lines = []
        while time.monotonic() < deadline:
            if os.path.exists(log):
                with open(log, encoding="utf-8") as f:
                    lines = [l for l in f.read().splitlines() if l]
                if len(lines) >= expected:
                    break
            time.sleep(0.05)
        time.sleep(0.2)  # a second start would show up by now
        with open(log, encoding="utf-8") if os.path.exists(log) else io.StringIO() as f:
            return [l for l in f.read().splitlines() if l]

    def assert_lobby_started_once(self):
        runs = self.lobby_runs()
        self.assertEqual(1, len(runs), runs)
        args, cwd = runs[0].split("\t")
        self.assertEqual("args=/Show", args)
        # The updater's own current directory, restored after applying archives.
        self.assertEqual(("cwd=" + winpath(self.cwd)).lower(), cwd.rstrip("\\").lower())

    def installed_version(self):
        text = read_ini(self.path("Sys", "Config.ini"))
        values = dict(l.split("=", 1) for l in text.splitlines() if "=" in l)
        return int(values["FirstVersion"]), int(values["SecondVersion"])


class LaunchTest(RunvelCase):
    def test_nothing_new_starts_lobby_once_and_ends(self):
        seen = self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending())
        self.assertIn(("/zip.html", "Update"), self.server.requests)
        self.assertLessEqual(int(seen["windows"]), 1)

    def test_unreachable_server_still_starts_lobby(self):
        self.write_config("http://127.0.0.1:%d" % closed_port())
        self.run_updater()
        self.assert_lobby_started_once()

    def test_missing_lobby_is_quiet(self):
        os.remove(self.path("Orvane.exe"))
        self.run_updater()
        self.assertFalse(os.path.exists(self.path("Orvane.runs.txt")))

    def test_waits_for_download_without_window_or_taskbar_button(self):
        self.server.archives["1000820090415.zip"] = ARCHIVE
        self.server.slow_seconds = 2.0
        self.server.version_list = version_list(
            ("1000820090415", self.server.url("/slow/1000820090415.zip")))
        seen = self.run_updater()
        self.assertEqual("1", seen["windows"])  # the dialog existed while it waited
        self.assertEqual("1", seen["tool_window"])
        self.assert_lobby_started_once()
        self.assertEqual(["1000820090415.zip"], self.pending())


class DownloadTest(RunvelCase):
    # (route, stored): what the worker keeps of each kind of response
    CASES = [
        ("exact", ARCHIVE),
        ("longer", ARCHIVE),  # only the announced bytes
        ("shorter", None),
        ("chunked", None),
        ("negative", None),
        ("drop", None),
        ("404", None),
        ("407", None),
        ("unreachable", None),
    ]

    def test_stored_only_when_the_whole_announced_body_arrived(self):
        for route, stored in self.CASES:
            with self.subTest(route=route):
                self.setUp()
                try:
                    body = ARCHIVE + os.urandom(200000)  # several reads, not one
                    self.server.archives["1000820090415.zip"] = body
                    url = self.server.url("/%s/1000820090415.zip" % route)
                    if route == "unreachable":
                        url = "http://127.0.0.1:%d/x/1000820090415.zip" % closed_port()
                    self.server.version_list = version_list(("1000820090415", url))
                    self.run_updater()
                    self.assert_lobby_started_once()
                    if stored is None:
                        self.assertEqual([], self.pending())
                    else:
                        self.assertEqual(["1000820090415.zip"], self.pending())
                        with open(self.path("UpdateZip", "1000820090415.zip"), "rb") as f:
                            self.assertEqual(body, f.read())
                    self.assertEqual((10008, 20090324), self.installed_version())
                finally:
                    self.tearDown()

    def test_run_ends_at_first_done_and_a_cut_off_download_is_never_pending(self):
        self.server.archives["1000820090416.zip"] = ARCHIVE * 40
        self.server.slow_seconds = 5.0
        self.server.version_list = version_list(
            ("1000820090415", self.server.url("/404/1000820090415.zip")),
            ("1000820090416", self.server.url("/slow/1000820090416.zip")))
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertFalse([n for n in self.pending() if n.lower().endswith(".zip")],
                         self.pending())
        # The next start applies nothing and clears the leftover.
        self.server.version_list = version_list()
        os.remove(self.path("Orvane.runs.txt"))
        self.run_updater()
        self.assertEqual([], self.pending())
        self.assertEqual((10008, 20090324), self.installed_version())

    def test_same_archive_listed_twice_is_whole_if_stored(self):
        self.server.archives["1000820090415.zip"] = ARCHIVE
        url = self.server.url("/exact/1000820090415.zip")
        self.server.version_list = version_list(("1000820090415", url), ("1000820090415", url))
        self.run_updater()
        for name in self.pending():
            self.assertEqual("1000820090415.zip", name)
            with open(self.path("UpdateZip", name), "rb") as f:
                self.assertEqual(ARCHIVE, f.read())


class ApplyTest(RunvelCase):
    def test_next_start_applies_records_and_deletes(self):
        self.server.archives["1000820090415.zip"] = ARCHIVE
        self.server.version_list = version_list(
            ("1000820090415", self.server.url("/exact/1000820090415.zip")))
        self.run_updater()
        self.assertEqual(["1000820090415.zip"], self.pending())
        self.assertFalse(os.path.exists(self.path("readme.txt")))  # not before the next start

        self.server.version_list = version_list()
        os.remove(self.path("Orvane.runs.txt"))
        self.run_updater()
        self.assert_lobby_started_once()
        with open(self.path("readme.txt"), "rb") as f:
            self.assertEqual(b"new readme\r\n", f.read())
        with open(self.path("Skin", "new", "skin.txt"), "rb") as f:
            self.assertEqual(b"blue\r\n", f.read())
        self.assertEqual([], self.pending())
        self.assertEqual((10008, 20090415), self.installed_version())
        text = read_ini(self.path("Sys", "Config.ini"))
        self.assertIn("[LOBBY]\r\nSkin=默认\r\n", text)
        self.assertIn("Server=" + self.server.url(""), text)

    def test_version_comes_from_the_file_name(self):
        for name, version in [("patch.zip", (0, 0)), ("10008.zip", (10008, 0)),
                              ("10008200904151.zip", (10008, 20090415))]:
            with self.subTest(name=name):
                self.setUp()
                try:
                    with open(self.path("UpdateZip", name), "wb") as f:
                        f.write(ARCHIVE)
                    self.run_updater()
                    self.assertEqual(version, self.installed_version())
                    self.assertEqual([], self.pending())
                    self.assertTrue(os.path.exists(self.path("readme.txt")))
                finally:
                    self.tearDown()

    def test_broken_archive_records_no_version_and_is_deleted(self):
        good = zip_bytes({"big.bin": os.urandom(50000), "readme.txt": "x"})
        for name, data in [("1000820090501.zip", b"no zip at all"),
                           ("1000820090502.zip", good[: len(good) // 2] + good[-22:])]:
            with open(self.path("UpdateZip", name), "wb") as f:
                f.write(data)
        with open(self.path("UpdateZip", "notes.txt"), "wb") as f:
            f.write(b"kept")
        os.makedirs(self.path("UpdateZip", "folder.zip"))
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual((10008, 20090324), self.installed_version())
        self.assertEqual(["folder.zip", "notes.txt"], self.pending())


if __name__ == "__main__":
    unittest.main(verbosity=2)
