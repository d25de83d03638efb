#!/usr/bin/env python3
"""The real Update.exe under Wine against a hostile update server on 127.0.0.1: slow, silent,
lying and huge responses. The lobby must start once and the updater end, every run; nothing
but whole archives may ever wait in "UpdateZip"."""

import os
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "updater"))
import test_runvel_e2e as e2e  # noqa: E402
from test_runvel_e2e import ARCHIVE, RunvelCase, version_list, zip_bytes  # noqa: E402

# The check waits this long for the version list in these runs (30 s when not set).
CHECK_SECONDS = 3
NAME = "1000820090415.zip"


def listen_never_accept():
    """A socket the kernel completes connections for, but nobody ever reads."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(64)
    return s


class HostileCase(RunvelCase):
    def write_config(self, server):
        super().write_config(server)
        with open(self.path("Sys", "Config.ini"), "ab") as f:
            f.write(("CheckSeconds=%d\r\n" % CHECK_SECONDS).encode("utf-16-le"))

    def setUp(self):
        super().setUp()
        self.server.list_mode = "exact"
        self.server.trickle_seconds = 0.05
        self.server.pace_seconds = 0.0

    def assert_only_whole_archives(self, *allowed):
        for name in self.pending():
            if name.lower().endswith(".zip"):
                with open(self.path("UpdateZip", name), "rb") as f:
                    self.assertIn(f.read(), allowed, "a partial archive is pending: " + name)

    def timed_run(self):
        t0 = time.monotonic()
        seen = self.run_updater()  # the probe fails a run that lasts over 60 s
        return seen, time.monotonic() - t0


class VersionListTest(HostileCase):
    """The version list server misbehaves: the lobby starts within the check's time-out."""

    def test_list_server_that_never_answers(self):
        for how in ("silent", "never-accepts"):
            with self.subTest(how=how):
                self.setUp()
                sock = None
                try:
                    if how == "silent":
                        self.server.list_mode = "silent"
                    else:
                        sock = listen_never_accept()
                        self.write_config("http://127.0.0.1:%d" % sock.getsockname()[1])
                    seen, took = self.timed_run()
                    self.assert_lobby_started_once()
                    self.assertEqual([], self.pending())
                    # Not the platform's time-outs (unlimited here): the check's own.
                    self.assertLess(took, CHECK_SECONDS + 15, seen)
                finally:
                    if sock:
                        sock.close()
                    self.server.list_mode = "exact"
                    self.tearDown()

    def test_list_that_trickles_past_the_time_out_is_not_used(self):
        self.server.archives[NAME] = ARCHIVE
        self.server.version_list = version_list(("1000820090415", self.server.url("/exact/" + NAME)))
        self.server.list_mode = "trickle"  # about 8 s for the list at 20 bytes a second
        self.timed_run()
        self.assert_lobby_started_once()
        self.assertEqual([], self.pending())
        self.assertNotIn(("/exact/" + NAME, "Update"), self.server.requests)

    def test_list_lying_about_its_length(self):
        # (mode, whether the list then counts): headers only, and 2^31-1 announced with the
        # real list sent before the connection closes.
        for mode in ("headonly", "len31"):
            with self.subTest(mode=mode):
                self.setUp()
                try:
                    self.server.archives[NAME] = ARCHIVE
                    self.server.version_list = version_list(
                        ("1000820090415", self.server.url("/exact/" + NAME)))
                    self.server.list_mode = mode
                    self.timed_run()
                    self.assert_lobby_started_once()
                    self.assert_only_whole_archives(ARCHIVE)
                    if mode == "headonly":
                        self.assertEqual([], self.pending())
                finally:
                    self.server.list_mode = "exact"
                    self.tearDown()

    def test_lists_of_megabytes(self):
        # Under the 4 MiB limit the list is read whole, its last entry counts; over it the
        # list is dropped.
        for size, counts in ((3_900_000, True), (6_000_000, False)):
            with self.subTest(size=size):
                self.setUp()
                try:
                    self.server.archives[NAME] = ARCHIVE
                    filler = "".join("<Version>1000720090415http://h/%06d.zip</Version>\r\n" % i
                                     for i in range(size // 53))
                    tail = "<Version>1000820090415%s</Version>" % self.server.url("/exact/" + NAME)
                    self.server.version_list = ("<ovVersionList>%s%s</ovVersionList>" % (
                        filler, tail)).encode("ascii")
                    self.timed_run()
                    self.assert_lobby_started_once()
                    self.assertEqual([NAME] if counts else [], self.pending())
                    self.assert_only_whole_archives(ARCHIVE)
                finally:
                    self.tearDown()

    def test_thousands_of_matching_entries(self):
        n = 3000
        entries = []
        for i in range(n):
            name = "10008%08d.zip" % (20090402 + i)
            self.server.archives[name] = ARCHIVE
            entries.append(("10008%08d" % (20090402 + i), self.server.url("/exact/" + name)))
        self.server.version_list = version_list(*entries)
        self.timed_run()
        self.assert_lobby_started_once()
        asked = [p for p, _ in self.server.requests if p.startswith("/exact/")]
        # One start runs at most 16 workers, for the first entries in list order.
        self.assertGreaterEqual(len(asked), 1)
        self.assertLessEqual(len(asked), 16)
        self.assertTrue(set(asked) <= {"/exact/10008%08d.zip" % (20090402 + i) for i in range(16)})
        self.assert_only_whole_archives(ARCHIVE)
        stored = [x for x in self.pending() if x.endswith(".zip")]
        self.assertGreaterEqual(len(stored), 1)
        # The next start applies them and asks for the entries after the newest one applied.
        self.server.requests.clear()
        os.remove(self.path("Orvane.runs.txt"))
        self.timed_run()
        first, second = self.installed_version()
        self.assertEqual(10008, first)
        self.assertIn("10008%08d.zip" % second, stored)
        asked = [p for p, _ in self.server.requests if p.startswith("/exact/")]
        self.assertTrue(asked)
        self.assertTrue(all(int(p[-12:-4]) > second for p in asked), asked)


class ArchiveServerTest(HostileCase):
    """The archive server misbehaves: nothing but the whole announced body is ever kept."""

    def test_lying_lengths_and_bodies(self):
        # (route, stored)
        cases = [("headonly", False), ("len31", False), ("len32", False), ("len64", False),
                 ("trickle", True)]
        body = zip_bytes({"readme.txt": "trickled\r\n"})
        for route, stored in cases:
            with self.subTest(route=route):
                self.setUp()
                try:
                    self.server.archives[NAME] = body
                    self.server.trickle_seconds = 0.004  # a few hundred bytes over about a second
                    self.server.version_list = version_list(
                        ("1000820090415", self.server.url("/%s/%s" % (route, NAME))))
                    self.timed_run()
                    self.assert_lobby_started_once()
                    self.assertEqual([NAME] if stored else [],
                                     [x for x in self.pending() if x.endswith(".zip")])
                    self.assert_only_whole_archives(body)
                    # The next start clears every leftover and applies only what was whole.
                    self.server.version_list = version_list()
                    os.remove(self.path("Orvane.runs.txt"))
                    self.timed_run()
                    self.assertEqual([], self.pending())
                    self.assertEqual(stored, os.path.exists(self.path("readme.txt")))
                finally:
                    self.tearDown()

    def test_archive_server_that_never_answers(self):
        # The lobby starts at once; the invisible updater waits for its worker (the
        # platform sets no limit here), and ending it then leaves nothing behind.
        self.server.archives[NAME] = ARCHIVE
        self.server.version_list = version_list(
            ("1000820090415", self.server.url("/silent/" + NAME)))
        proc = subprocess.Popen([e2e.WINE_RUN, e2e.winpath(self.path("Update.exe"))],
                                cwd=self.cwd, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(1, len(self.lobby_runs()))
            time.sleep(1.0)
            self.assertIsNone(proc.poll(), "the updater stopped waiting for its worker")
        finally:
            proc.kill()
            proc.wait(30)
        self.assertEqual([], [x for x in self.pending() if x.endswith(".zip")])
        self.server.version_list = version_list()
        os.remove(self.path("Orvane.runs.txt"))
        self.run_updater()
        self.assertEqual([], self.pending())


if __name__ == "__main__":
    unittest.main(verbosity=2)
