"""Tests of the update publisher: what it refuses and what the updater will read from it."""

import importlib.util
import io
import os
import tempfile
import threading
import unittest
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    "publish", os.path.join(HERE, "..", "..", "tools", "publish", "tessaly-publish.py"))
publish = importlib.util.module_from_spec(spec)
spec.loader.exec_module(publish)


def make_zip(path, names):
    with zipfile.ZipFile(path, "w") as z:
        for n in names:
            z.writestr(n, b"" if n.endswith("/") else b"x")


class Names(unittest.TestCase):
    def test_entry_names(self):
        good = ["Orvane.exe", "Skin/", "Skin/Button/a.bmp", "Sys/Config.ini", "名字.txt"]
        bad = ["../x", "a/../b", "/abs", "\\abs", "C:x", "a\\..\\b", "a/./b", "x" * 260,
               "a\nb", ""]
        for n in good:
            self.assertEqual(n, publish.check_entry_name(n))
        for n in bad:
            with self.assertRaises(publish.PublishError, msg=n):
                publish.check_entry_name(n)

    def test_versions(self):
        self.assertEqual("1000820090415", publish.check_version("1000820090415"))
        for v in ["100082009041", "10008200904155", "1000820O90415", "0000820090415",
                  "1000800090415", " 000820090415"]:
            with self.assertRaises(publish.PublishError, msg=v):
                publish.check_version(v)

    def test_base_urls(self):
        self.assertEqual("http://h:81/u/", publish.check_base_url("http://h:81/u"))
        for u in ["https://h/", "http://h/?q=1", "http://h/#f", "http://h/a b", "ftp://h/",
                  "http://h/<x>"]:
            with self.assertRaises(publish.PublishError, msg=u):
                publish.check_base_url(u)


class Folders(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def test_pack_puts_folders_before_contents(self):
        src = os.path.join(self.dir, "src")
        os.makedirs(os.path.join(src, "Skin", "Button"))
        open(os.path.join(src, "Orvane.exe"), "wb").write(b"MZ")
        open(os.path.join(src, "Skin", "Button", "b.bmp"), "wb").write(b"BM")
        out = publish.pack("1000820090415", src, os.path.join(self.dir, "out"))
        self.assertTrue(out.endswith("1000820090415.zip"))
        with zipfile.ZipFile(out) as z:
            self.assertEqual(["Orvane.exe", "Skin/", "Skin/Button/", "Skin/Button/b.bmp"],
                             z.namelist())
        self.assertFalse(os.path.exists(out + ".part"))

    def test_index_lists_versions_in_order_in_the_updaters_columns(self):
        make_zip(os.path.join(self.dir, "1000820090415.zip"), ["a.txt"])
        make_zip(os.path.join(self.dir, "1000820090401.zip"), ["a.txt"])
        open(os.path.join(self.dir, "notes.txt"), "w").write("ignored")
        path = publish.index(self.dir, "http://127.0.0.1:8000/up")
        text = open(path, encoding="ascii").read()
        body = text[text.index("<ovVersionList>") + 15:text.index("</ovVersionList>")]
        entries = [e.split("</Version>")[0] for e in body.split("<Version>")[1:]]
        self.assertEqual(2, len(entries))
        for entry, version in zip(entries, ["1000820090401", "1000820090415"]):
            self.assertEqual(version, entry[:13])
            self.assertEqual("http://127.0.0.1:8000/up/%s.zip" % version, entry[13:])

    def test_index_refuses_archives_the_updater_would_misread(self):
        cases = {
            "patch.zip": ["a"],
            "1000820090415.zip": ["../evil.exe"],
        }
        for name, entries in cases.items():
            with self.subTest(name=name, entries=entries):
                d = tempfile.mkdtemp(dir=self.dir)
                make_zip(os.path.join(d, name), entries)
                with self.assertRaises(publish.PublishError):
                    publish.index(d, "http://h/")
                self.assertFalse(os.path.exists(os.path.join(d, "zip.html")))
        d = tempfile.mkdtemp(dir=self.dir)
        open(os.path.join(d, "1000820090415.zip"), "wb").write(b"not a zip")
        with self.assertRaises(publish.PublishError):
            publish.index(d, "http://h/")

    def test_serve_answers_with_its_own_address_and_stops_by_itself(self):
        make_zip(os.path.join(self.dir, "1000820090415.zip"), ["a.txt"])
        ready = threading.Event()
        holder = {}

        def on_ready(server):
            holder["port"] = server.server_port
            ready.set()

        t = threading.Thread(target=publish.serve,
                             args=(self.dir, "127.0.0.1", 0, 10, on_ready), daemon=True)
        t.start()
        self.assertTrue(ready.wait(5))
        base = "http://127.0.0.1:%d/" % holder["port"]
        text = urllib.request.urlopen(base + "zip.html", timeout=5).read().decode("ascii")
        self.assertIn("<Version>1000820090415%s1000820090415.zip</Version>" % base, text)
        data = urllib.request.urlopen(base + "1000820090415.zip", timeout=5).read()
        self.assertEqual(["a.txt"], zipfile.ZipFile(io.BytesIO(data)).namelist())


if __name__ == "__main__":
    unittest.main()
