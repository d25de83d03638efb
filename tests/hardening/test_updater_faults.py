#!/usr/bin/env python3
"""Faults around the real Update.exe under Wine: killed at random points of a download and of
an application (seeded, a bounded count), a full drive while downloading and applying, and
read-only and busy target files. Whatever happens, no partial archive may ever be pending and
the next start must leave the install folder whole.

HARDENING_KILLS (default 6) kills of each kind, HARDENING_SEED the seed, HARDENING_DRIVES the
folder with the small tmpfs drives of tests/common/tmpfs_drives.sh (t = 4 MiB); FAULT_REPORT a file for counts.
"""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "updater"))
sys.path.insert(0, HERE)
import test_runvel_e2e as e2e  # noqa: E402
from test_hostile_updates import NAME, HostileCase  # noqa: E402
from test_runvel_e2e import version_list, zip_bytes  # noqa: E402

KILLS = int(os.environ.get("HARDENING_KILLS", "6"))
SEED = int(os.environ.get("HARDENING_SEED", "20261211"))
DRIVES = os.environ.get("HARDENING_DRIVES", "")
REPORT = os.environ.get("FAULT_REPORT", "")
COUNTS = {}


def count(key, n=1):
    COUNTS[key] = COUNTS.get(key, 0) + n


def small_drive(letter):
    path = os.path.join(DRIVES, letter)
    return path if DRIVES and os.path.ismount(path) else None


def tree(root):
    out = {}
    for dirpath, _, files in os.walk(root):
        for f in files:
            p = os.path.join(dirpath, f)
            with open(p, "rb") as fh:
                out[os.path.relpath(p, root).replace(os.sep, "/")] = fh.read()
    return out


class FaultCase(HostileCase):
    def start_updater(self):
        return subprocess.Popen([e2e.WINE_RUN, e2e.winpath(self.path("Update.exe"))],
                                cwd=self.cwd, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def pending_zips(self):
        return [n for n in self.pending() if n.lower().endswith(".zip")]

    def next_start(self):
        self.server.version_list = version_list()
        self.server.pace_seconds = 0.0
        if os.path.exists(self.path("Orvane.runs.txt")):
            os.remove(self.path("Orvane.runs.txt"))
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending(), "leftovers after the next start")

    def assert_applied(self, files):
        for name, data in files.items():
            with open(self.path(*name.split("/")), "rb") as f:
                self.assertEqual(data, f.read(), name)
        self.assertEqual((10008, 20090415), self.installed_version())

    def assert_untouched(self, files):
        for name in files:
            self.assertFalse(os.path.exists(self.path(*name.split("/"))), name)
        self.assertEqual((10008, 20090324), self.installed_version())


class KillTest(FaultCase):
    def test_killed_mid_download(self):
        rng = random.Random(SEED)
        files = {"Skin/big.bin": rng.randbytes(1 << 20), "readme.txt": b"downloaded\r\n"}
        body = zip_bytes(files)
        for i in range(KILLS):
            with self.subTest(kill=i):
                self.setUp()
                try:
                    self.server.archives[NAME] = body
                    self.server.pace_seconds = 0.01  # the body takes about 0.7 s
                    self.server.version_list = version_list(
                        ("1000820090415", self.server.url("/exact/" + NAME)))
                    # A point in the body, or just after it (while storing).
                    after = rng.random() < 0.25
                    at = len(body) if after else rng.randrange(0, len(body))
                    sent = self.server.sent_event(self.server.sent + at)
                    proc = self.start_updater()
                    fired = sent.wait(30)
                    if after:
                        time.sleep(rng.uniform(0, 0.2))
                    proc.kill()
                    proc.wait(30)
                    count("download kills")
                    count("download kills after the body" if after else
                          "download kills in the body" if fired else "download runs ended first")
                    left = self.pending_zips()
                    for name in left:
                        with open(self.path("UpdateZip", name), "rb") as f:
                            whole = f.read() == body
                        count("whole archives left" if whole else "PARTIAL ARCHIVES LEFT")
                        self.assertTrue(whole, "a partial archive is pending")
                    if not left:
                        count("no archive left")
                    self.next_start()
                    if left:
                        self.assert_applied(files)
                        count("applied whole at the next start")
                    else:
                        self.assert_untouched(files)
                finally:
                    self.tearDown()

    def test_killed_mid_application(self):
        rng = random.Random(SEED + 1)
        files = {"Skin/f%03d.bin" % k: rng.randbytes(16384) for k in range(600)}
        files["readme.txt"] = b"applied\r\n"
        body = zip_bytes(files)
        # How long a start takes here until the archive is applied; kills fall in that time.
        with open(self.path("UpdateZip", NAME), "wb") as f:
            f.write(body)
        t0 = time.monotonic()
        proc = self.start_updater()
        while self.pending_zips() and time.monotonic() - t0 < 60:
            time.sleep(0.01)
        applied_after = time.monotonic() - t0
        proc.wait(60)
        self.assert_applied(files)
        self.tearDown()
        for i in range(KILLS):
            with self.subTest(kill=i):
                self.setUp()
                try:
                    with open(self.path("UpdateZip", NAME), "wb") as f:
                        f.write(body)
                    proc = self.start_updater()
                    time.sleep(rng.uniform(0, applied_after * 1.1))
                    proc.kill()
                    proc.wait(30)
                    count("application kills")
                    done = not self.pending_zips()
                    skin = self.path("Skin")
                    some = os.path.isdir(skin) and len(os.listdir(skin)) > 0
                    count("application kills after it" if done else
                          "application kills mid-extraction" if some else
                          "application kills before it")
                    if done:
                        self.assert_applied(files)
                    self.next_start()
                    self.assert_applied(files)
                finally:
                    self.tearDown()


class FullDriveTest(FaultCase):
    """The install folder on a 4 MiB tmpfs."""

    def setUp(self):
        drive = small_drive("t")
        if not drive:
            self.skipTest("no small drive (mounting a tmpfs needs root)")
        super().setUp()
        # Move the install folder onto the small drive.
        moved = tempfile.mkdtemp(prefix="runvel_", dir=drive)
        shutil.rmtree(moved)
        shutil.copytree(self.dir, moved)
        shutil.rmtree(self.dir)
        self.dir = moved
        self.app = os.path.join(moved, "Tessaly")
        self.cwd = os.path.join(moved, "elsewhere")

    def free(self):
        st = os.statvfs(self.dir)
        return st.f_bavail * st.f_frsize

    def test_download_larger_than_the_drive_stores_nothing(self):
        rng = random.Random(SEED + 2)
        files = {"Skin/big.bin": rng.randbytes(5 << 20)}
        body = zip_bytes(files)
        self.server.archives[NAME] = body
        self.server.version_list = version_list(
            ("1000820090415", self.server.url("/exact/" + NAME)))
        before = self.free()
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending(), "a partial archive or its part file stayed")
        self.assertGreaterEqual(self.free() + 64 * 1024, before)
        count("full-drive downloads")
        self.next_start()
        self.assert_untouched(files)

    def test_application_that_fills_the_drive(self):
        # Items before the big one are replaced; the big one cannot be written whole. The
        # version stays, the archive goes, the version file stays readable; the next check
        # fetches the update again.
        with open(self.path("old.txt"), "wb") as f:
            f.write(b"old\r\n")
        files = {"old.txt": b"new\r\n", "Skin/big.bin": b"A" * (6 << 20)}
        with open(self.path("UpdateZip", NAME), "wb") as f:
            f.write(zip_bytes(files))
        self.run_updater()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending())
        self.assertEqual((10008, 20090324), self.installed_version())
        with open(self.path("old.txt"), "rb") as f:
            self.assertEqual(b"new\r\n", f.read())
        big = self.path("Skin", "big.bin")
        count("full-drive applications")
        if os.path.exists(big):
            count("partial items left by a full drive", 1)
            self.assertLess(os.path.getsize(big), 6 << 20)


class BusyFileTest(FaultCase):
    def test_read_only_and_busy_targets(self):
        files = {"readme.txt": b"new readme\r\n", "Helper.exe": b"MZ new helper",
                 "new.txt": b"brand new\r\n"}
        with open(self.path("readme.txt"), "wb") as f:
            f.write(b"old readme\r\n")
        os.chmod(self.path("readme.txt"), 0o444)  # the read-only attribute under Wine
        shutil.copy(os.environ["PELLAR_WAITER"], self.path("Helper.exe"))
        with open(self.path("Helper.exe"), "rb") as f:
            helper = f.read()
        busy = subprocess.Popen([e2e.WINE_RUN, e2e.winpath(self.path("Helper.exe"))],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1.5)  # running, its image mapped
            with open(self.path("UpdateZip", NAME), "wb") as f:
                f.write(zip_bytes(files))
            self.run_updater()
        finally:
            busy.kill()
            busy.wait(30)
        self.assert_lobby_started_once()
        with open(self.path("new.txt"), "rb") as f:
            self.assertEqual(b"brand new\r\n", f.read())
        with open(self.path("readme.txt"), "rb") as f:
            readme = f.read()
        with open(self.path("Helper.exe"), "rb") as f:
            now = f.read()
        # Never a mix: each target holds its old bytes or its new ones.
        self.assertIn(readme, (b"old readme\r\n", b"new readme\r\n"))
        self.assertIn(now, (helper, b"MZ new helper"))
        self.assertEqual([], self.pending())
        COUNTS["read-only target replaced"] = int(readme == b"new readme\r\n")
        COUNTS["busy program replaced"] = int(now != helper)
        COUNTS["version recorded with a target kept"] = int(
            self.installed_version() == (10008, 20090415))


def tearDownModule():
    print("fault counts: " + json.dumps(COUNTS, sort_keys=True), flush=True)
    if REPORT:
        with open(REPORT, "w") as f:
            json.dump(COUNTS, f, indent=1, sort_keys=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
