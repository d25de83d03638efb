#!/usr/bin/env python3
"""The installer builder: stub, ZIP, 4-byte little-endian length; folder packages list each
folder before its contents; the sample package has the product layout."""
import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

PACK_DIR = sys.argv.pop(1)
SAMPLE_ZIP = sys.argv.pop(1)
PACK = os.path.join(PACK_DIR, "pack.py")


def run_pack(*args):
    subprocess.run([sys.executable, PACK] + list(args), check=True)


def split_installer(data):
    (n,) = struct.unpack("<I", data[-4:])
    return data[: len(data) - 4 - n], data[len(data) - 4 - n : -4]


class PackTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.stub = os.path.join(self.dir, "stub.exe")
        with open(self.stub, "wb") as f:
            f.write(b"MZ" + bytes(range(256)) * 3)

    def tearDown(self):
        self.tmp.cleanup()

    def test_zip_is_appended_unchanged_with_its_length(self):
        z = os.path.join(self.dir, "p.zip")
        with zipfile.ZipFile(z, "w") as zf:
            zf.writestr("a.txt", "alpha")
        out = os.path.join(self.dir, "setup.exe")
        run_pack("--stub", self.stub, "--zip", z, "--out", out)
        data = open(out, "rb").read()
        image, package = split_installer(data)
        self.assertEqual(image, open(self.stub, "rb").read())
        self.assertEqual(package, open(z, "rb").read())
        # Offsets inside the package count from its own first byte.
        self.assertEqual(zipfile.ZipFile(io.BytesIO(package)).read("a.txt"), b"alpha")

    def test_folder_entries_come_before_their_contents(self):
        root = os.path.join(self.dir, "tree")
        for rel, data in [("b.txt", b"b"), ("A/x.bin", b"\0" * 5000), ("A/Sub/y", b"y"), ("Empty/", None)]:
            path = os.path.join(root, *rel.rstrip("/").split("/"))
            if data is None:
                os.makedirs(path)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").write(data)
        out = os.path.join(self.dir, "setup.exe")
        kept = os.path.join(self.dir, "kept.zip")
        run_pack("--stub", self.stub, "--folder", root, "--keep-zip", kept, "--out", out)
        _, package = split_installer(open(out, "rb").read())
        self.assertEqual(package, open(kept, "rb").read())
        infos = zipfile.ZipFile(io.BytesIO(package)).infolist()
        names = [i.filename for i in infos]
        self.assertEqual(names, ["A/", "A/Sub/", "A/Sub/y", "A/x.bin", "Empty/", "b.txt"])
        for i in infos:
            if i.filename.endswith("/"):
                self.assertEqual(i.compress_type, zipfile.ZIP_STORED, i.filename)
            else:
                self.assertEqual(i.compress_type, zipfile.ZIP_DEFLATED, i.filename)

    def test_sample_package_layout(self):
        zf = zipfile.ZipFile(SAMPLE_ZIP)
        names = zf.namelist()
        for folder in ["Config/", "Skin/", "Skin/Button/", "Sys/", "UpdateZip/"]:
            self.assertIn(folder, names)
            inside = [n for n in names if n.startswith(folder) and n != folder]
            for n in inside:
                self.assertLess(names.index(folder), names.index(n), n)
        self.assertEqual(names[:2], ["Config/", "Config/ovCfn.ov"])
        self.assertEqual(names[-3:], ["UpdateZip/", "Update.exe", "Orvane.exe"])
        self.assertEqual([n for n in names if n.startswith("UpdateZip/")], ["UpdateZip/"])
        self.assertIn("Sys/Mark.bmp", names)
        self.assertTrue(any(n.startswith("Skin/Button/") and n.endswith(".bmp") for n in names))
        ini = zf.read("Sys/Config.ini")
        self.assertEqual(ini[:2], b"\xff\xfe")
        text = ini[2:].decode("utf-16-le")
        self.assertIn("[VERSION]\r\nFirstVersion=10008\r\nSecondVersion=20090324\r\n", text)
        self.assertIn(";", text)
        self.assertGreaterEqual(text.count("["), 2)
        for exe in ["Update.exe", "Orvane.exe"]:
            self.assertEqual(zf.read(exe)[:2], b"MZ")


if __name__ == "__main__":
    unittest.main()
