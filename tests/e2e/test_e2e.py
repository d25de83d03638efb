#!/usr/bin/env python3
"""The whole product under Wine: the built installer clicked through its wizard, then the
installed Update.exe started from the shortcut's target against update servers on 127.0.0.1
(the publishing tool's own server for the normal road), with the stand-in lobby recording
each start. Every install goes into a fresh folder; the shortcuts it makes are removed (and
any that were there before are put back) when the run ends."""

import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile
import zlib

ENV = os.environ
INSTALLER = ENV["E2E_INSTALLER"]
PACKAGE_ZIP = ENV["E2E_PACKAGE_ZIP"]
DRIVE = ENV["E2E_DRIVE"]
PROBE = ENV["E2E_PROBE"]
WINE_RUN = ENV["E2E_WINE_RUN"]
PUBLISH = ENV["E2E_PUBLISH"]
TOP = ENV["E2E_TOP"]
WORK = ENV.get("E2E_WORK", tempfile.gettempdir())
PREFIX = ENV.get("WINEPREFIX", os.path.join(TOP, "build", "wineprefix"))

sys.path.insert(0, os.path.join(TOP, "tests", "updater"))
sys.path.insert(0, os.path.join(TOP, "tests", "common"))
from update_server import UpdateServer  # noqa: E402
from testfiles import read_ini, utf16, winpath  # noqa: E402

LNK = "Tessaly1.0.lnk"
VERSION = "1000820090415"

# Shell links would otherwise also become menu entries on the host.
WINE_ENV = dict(ENV, WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


def unixpath(path):
    """A Windows path of this prefix as a host path (C: is drive_c, Z: is /)."""
    drive, rest = path[:2].upper(), path[2:].replace("\\", "/")
    base = os.path.join(PREFIX, "drive_c") if drive == "C:" else "/"
    assert drive in ("C:", "Z:"), path
    return os.path.normpath(base + "/" + rest)


def shell_folder(name):
    """The user's shell folder as the installer reads it, from the prefix's registry."""
    with open(os.path.join(PREFIX, "user.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    key = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders]"
    section = text[text.index(key):].split("\n\n", 1)[0]
    m = re.search(r'^"%s"="(.*)"$' % re.escape(name), section, re.M)
    return unixpath(m.group(1).replace("\\\\", "\\"))


DESKTOP_LNK = os.path.join(shell_folder("Desktop"), LNK)
GROUP = os.path.join(shell_folder("Programs"), "Tessaly")


def wine(args, timeout):
    out = subprocess.run([WINE_RUN] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=WINE_ENV, timeout=timeout, check=False).stdout
    return out.decode("utf-8", "replace").replace("\r", "")


def version_of(text):
    values = dict(l.split("=", 1) for l in text.splitlines() if "=" in l and l[0] != ";")
    return int(values["FirstVersion"]), int(values["SecondVersion"])


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def stored_zip(entries):
    """A ZIP of stored items written byte by byte, names taken as given (no checks)."""
    local, central = b"", b""
    for name, data in entries:
        raw = name.encode("utf-8")
        crc = zlib.crc32(data)
        head = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x3A21, crc, len(data),
                           len(data), len(raw), 0)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x3A21, crc,
                               len(data), len(data), len(raw), 0, 0, 0, 0, 0x20,
                               len(local)) + raw
        local += head + raw + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(local), 0)
    return local + central + end


class Publisher:
    """tools/publish serving a folder of update archives on 127.0.0.1:port."""

    def __init__(self, outdir, port=0):
        self.proc = subprocess.Popen(
            [sys.executable, PUBLISH, "serve", outdir, "--host", "127.0.0.1", "--port",
             str(port), "--seconds", "300"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"http://127\.0\.0\.1:(\d+)/zip\.html", line)
        if not m:
            self.proc.kill()
            raise AssertionError("publisher did not start: %r %s" % (line, self.proc.stderr.read()))
        self.port = int(m.group(1))
        self.log = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stderr:
            self.log.append(line.strip())

    def requests(self):
        return [re.search(r'"GET (\S+)', l).group(1) for l in self.log if '"GET ' in l]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        self._reader.join(5)
        self.proc.stdout.close()
        self.proc.stderr.close()


class Installation:
    """One install folder made by driving the real wizard."""

    def __init__(self, root):
        self.root = root
        self.folder = os.path.join(root, "Tessaly")
        self.cwd = os.path.join(root, "elsewhere")
        os.makedirs(self.cwd, exist_ok=True)

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def install(self):
        """Runs the wizard (Accept, Install, Finish); returns the shortcuts it reports."""
        out = wine([DRIVE, winpath(INSTALLER), winpath(self.folder)], timeout=180)
        assert "result=ok" in out, out
        shortcuts = {}
        for line in out.splitlines():
            if line.startswith("shortcut="):
                lnk, target = line[len("shortcut="):].split(" -> ", 1)
                shortcuts[unixpath(lnk)] = target
        return shortcuts

    def set_server(self, url):
        """Points the installed updater at url in [UPDATE] Server, keeping everything else."""
        ini = self.path("Sys", "Config.ini")
        text = read_ini(ini)
        if "[UPDATE]" in text:
            text = re.sub(r"(?m)^Server=.*$", "Server=" + url, text)
        else:
            text = text.rstrip("\r\n") + "\r\n[UPDATE]\r\nServer=" + url + "\r\n"
        with open(ini, "wb") as f:
            f.write(utf16(text))
        return text

    def start(self, target):
        """Starts the shortcut's target and watches it to its end."""
        out = wine([PROBE, target, winpath(self.cwd)], timeout=120)
        seen = dict(l.split("=", 1) for l in out.splitlines() if "=" in l)
        assert "timeout" not in seen and seen.get("exit") == "0", out
        assert seen["visible_area"] == "0", "a window of the updater was visible"
        return seen

    def lobby_runs(self, expected):
        """The lobby's records once `expected` are there (it is started asynchronously)."""
        log = self.path("Orvane.runs.txt")
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if os.path.exists(log) and len(self._runs(log)) >= expected:
                break
            time.sleep(0.05)
        time.sleep(0.3)  # a second start would show up by now
        return self._runs(log) if os.path.exists(log) else []

    @staticmethod
    def _runs(log):
        with open(log, encoding="utf-8") as f:
            return [l.split("\t")[0] for l in f.read().splitlines() if l]

    def pending(self):
        return sorted(os.listdir(self.path("UpdateZip")))

    def tree(self):
        out = {}
        for root, dirs, files in os.walk(self.folder):
            rel = os.path.relpath(root, self.folder).replace(os.sep, "/")
            prefix = "" if rel == "." else rel + "/"
            for d in dirs:
                out[prefix + d + "/"] = None
            for f in files:
                with open(os.path.join(root, f), "rb") as fh:
                    out[prefix + f] = fh.read()
        return out


def package_tree():
    with zipfile.ZipFile(PACKAGE_ZIP) as z:
        return {i.filename: None if i.is_dir() else z.read(i) for i in z.infolist()}


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Shortcuts of an earlier installation in this prefix are put back afterwards.
        cls.saved = tempfile.mkdtemp(prefix="e2e_saved_", dir=WORK)
        cls.had_lnk = os.path.exists(DESKTOP_LNK)
        cls.had_group = os.path.isdir(GROUP)
        if cls.had_lnk:
            shutil.copy2(DESKTOP_LNK, os.path.join(cls.saved, LNK))
        if cls.had_group:
            shutil.copytree(GROUP, os.path.join(cls.saved, "group"))

    @classmethod
    def tearDownClass(cls):
        if os.path.exists(DESKTOP_LNK):
            os.remove(DESKTOP_LNK)
        shutil.rmtree(GROUP, ignore_errors=True)
        if cls.had_lnk:
            shutil.copy2(os.path.join(cls.saved, LNK), DESKTOP_LNK)
        if cls.had_group:
            shutil.copytree(os.path.join(cls.saved, "group"), GROUP)
        shutil.rmtree(cls.saved, ignore_errors=True)

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="e2e_", dir=WORK)
        self.inst = Installation(self.root)
        self.servers = []

    def tearDown(self):
        for s in self.servers:
            s.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def publisher(self, outdir, port=0):
        p = Publisher(outdir, port)
        self.servers.append(p)
        return p

    def install_checked(self):
        """Installs and checks the tree and both shortcuts; returns the shortcut target."""
        shortcuts = self.inst.install()
        self.assertEqual({DESKTOP_LNK, os.path.join(GROUP, LNK)}, set(shortcuts))
        for lnk, target in shortcuts.items():
            self.assertTrue(os.path.isfile(lnk), lnk)
            self.assertEqual(self.inst.path("Update.exe"), unixpath(target), lnk)
        return shortcuts[DESKTOP_LNK]

    def test_installation_and_the_whole_update_road(self):
        # 1. The wizard lays down exactly the package.
        target = self.install_checked()
        tree = self.inst.tree()
        self.assertEqual(package_tree(), tree)
        self.assertEqual([], self.inst.pending())

        # 2. Nothing published: the lobby starts once with /Show, no download.
        outdir = os.path.join(self.root, "published")
        os.makedirs(outdir)
        server = self.publisher(outdir)
        port = server.port
        base = "http://127.0.0.1:%d" % port
        ini_before = self.inst.set_server(base)
        self.inst.start(target)
        self.assertEqual(["args=/Show"], self.inst.lobby_runs(1))
        self.assertEqual(["/zip.html"], server.requests())
        self.assertEqual([], self.inst.pending())

        # 3. Publish 1000820090415: this start downloads it, the next one applies it.
        update = os.path.join(self.root, "update")
        new_back = b"BM new back " * 50
        new_files = {"Skin/Back.bmp": new_back, "Skin/Season/Spring.bmp": b"BM spring" * 30,
                     "Config/ovCfn.ov": b"OVCFN\x02" + os.urandom(3000)}
        for name, data in new_files.items():
            os.makedirs(os.path.dirname(os.path.join(update, name)), exist_ok=True)
            with open(os.path.join(update, name), "wb") as f:
                f.write(data)
        out = subprocess.run([sys.executable, PUBLISH, "pack", VERSION, update, outdir],
                             stdout=subprocess.PIPE, check=True, text=True).stdout.strip()
        archive = os.path.join(outdir, VERSION + ".zip")
        self.assertEqual(archive, out)
        server.stop()
        self.servers.remove(server)
        server = self.publisher(outdir, port)

        self.inst.start(target)
        self.assertEqual(["args=/Show"] * 2, self.inst.lobby_runs(2))
        self.assertEqual(["/zip.html", "/%s.zip" % VERSION], server.requests())
        self.assertEqual([VERSION + ".zip"], self.inst.pending())
        with open(archive, "rb") as a, open(self.inst.path("UpdateZip", VERSION + ".zip"),
                                             "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertEqual(tree["Skin/Back.bmp"], self.inst.tree()["Skin/Back.bmp"])
        self.assertEqual((10008, 20090324), version_of(read_ini(self.inst.path("Sys",
                                                                              "Config.ini"))))

        # 4. Applied before the lobby starts; nothing newer is fetched.
        self.inst.start(target)
        self.assertEqual(["args=/Show"] * 3, self.inst.lobby_runs(3))
        after = self.inst.tree()
        for name, data in new_files.items():
            self.assertEqual(data, after[name], name)
        self.assertEqual(tree["Sys/Mark.bmp"], after["Sys/Mark.bmp"])
        self.assertEqual([], self.inst.pending())
        text = read_ini(self.inst.path("Sys", "Config.ini"))
        self.assertEqual((10008, 20090415), version_of(text))
        # Every other line stays as it was (Wine's profile writer drops blank lines; Windows
        # keeps them).
        expected = ini_before.replace("SecondVersion=20090324", "SecondVersion=20090415")
        self.assertEqual([l for l in expected.split("\r\n") if l],
                         [l for l in text.split("\r\n") if l])
        self.assertEqual(["/zip.html", "/%s.zip" % VERSION, "/zip.html"], server.requests())

    def test_server_down_still_starts_the_lobby(self):
        target = self.install_checked()
        self.inst.set_server("http://127.0.0.1:%d" % free_port())
        self.inst.start(target)
        self.assertEqual(["args=/Show"], self.inst.lobby_runs(1))
        self.assertEqual([], self.inst.pending())

    def test_truncated_download_applies_nothing(self):
        target = self.install_checked()
        before = self.inst.tree()
        archive = stored_zip([("Skin/Back.bmp", b"BM cut" * 5000)])
        for mode in ("shorter", "drop"):
            with self.subTest(mode=mode):
                server = UpdateServer(seconds=120).start()
                try:
                    server.archives[VERSION + ".zip"] = archive
                    server.version_list = (
                        "<ovVersionList><Version>%s%s</Version></ovVersionList>"
                        % (VERSION, server.url("/%s/%s.zip" % (mode, VERSION)))).encode()
                    self.inst.set_server(server.url(""))
                    self.inst.start(target)  # the download is cut short
                    self.assertEqual([], self.inst.pending())
                    server.version_list = b""
                    self.inst.start(target)  # and nothing is applied at the next start
                finally:
                    server.stop()
                after = self.inst.tree()
                self.assertEqual(before["Skin/Back.bmp"], after["Skin/Back.bmp"])
                self.assertEqual((10008, 20090324), version_of(read_ini(
                    self.inst.path("Sys", "Config.ini"))))
        self.assertEqual(["args=/Show"] * 4, self.inst.lobby_runs(4))

    def test_update_with_traversal_names_stays_in_the_install_folder(self):
        target = self.install_checked()
        tag = "e2e-outside-%d" % os.getpid()
        # The publisher refuses such names; a hostile or broken server need not.
        archive = stored_zip([
            ("../%s-1.txt" % tag, b"escaped"),
            ("Skin/../../%s-2.txt" % tag, b"escaped"),
            ("..\\%s-3.txt" % tag, b"escaped"),
            ("/%s-4.txt" % tag, b"escaped"),
            ("Skin/Patched.bmp", b"BM patched"),
        ])
        outside = [os.path.join(self.root, "%s-%d.txt" % (tag, i)) for i in (1, 2, 3)]
        outside.append(os.path.join("/", "%s-4.txt" % tag))
        server = UpdateServer(seconds=120).start()
        try:
            server.archives[VERSION + ".zip"] = archive
            server.version_list = ("<ovVersionList><Version>%s%s</Version></ovVersionList>"
                                   % (VERSION, server.url("/exact/%s.zip" % VERSION))).encode()
            self.inst.set_server(server.url(""))
            self.inst.start(target)
            self.assertEqual([VERSION + ".zip"], self.inst.pending())
            server.version_list = b""
            self.inst.start(target)
        finally:
            server.stop()
            escaped = [p for p in outside if os.path.exists(p)]
            for p in escaped:
                os.remove(p)
        self.assertEqual([], escaped)
        self.assertEqual(sorted(["Tessaly", "elsewhere"]), sorted(os.listdir(self.root)))
        self.assertEqual([], self.inst.pending())
        self.assertEqual(b"BM patched", self.inst.tree()["Skin/Patched.bmp"])
        self.assertEqual(["args=/Show"] * 2, self.inst.lobby_runs(2))

    def test_installer_rerun_replaces_files_and_rewrites_shortcuts(self):
        self.install_checked()
        package = package_tree()
        with open(self.inst.path("Skin", "Back.bmp"), "wb") as f:
            f.write(b"changed")
        os.remove(self.inst.path("Sys", "Mark.bmp"))
        with open(self.inst.path("Skin", "Mine.bmp"), "wb") as f:
            f.write(b"the user's own")
        with open(DESKTOP_LNK, "wb") as f:
            f.write(b"not a shortcut")
        with open(os.path.join(GROUP, "Readme.txt"), "wb") as f:
            f.write(b"stray")

        self.install_checked()
        tree = self.inst.tree()
        self.assertEqual(b"the user's own", tree.pop("Skin/Mine.bmp"))
        self.assertEqual(package, tree)
        self.assertEqual([LNK], os.listdir(GROUP))


if __name__ == "__main__":
    unittest.main(verbosity=2)
