#!/usr/bin/env python3
"""Writes the sample package: a folder with the product layout and the ZIP made from it in
install order ("Config/", ..., "UpdateZip/", "Update.exe", "Orvane.exe")."""
import argparse
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pack  # noqa: E402


def bitmap(width, height, seed):
    pad = b"\0" * ((4 - (width * 3) % 4) % 4)
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row += bytes(((x * 7 + seed * 40) % 256, (y * 5 + seed * 13) % 256, (x + y + seed * 29) % 256))
        rows.append(bytes(row) + pad)
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(bits), 0, 0, 54) + info + bits


CONFIG_INI = (
    "[VERSION]\r\n"
    "FirstVersion=10008\r\n"
    "SecondVersion=20090324\r\n"
    "\r\n"
    "; Lobby settings, read only by the lobby.\r\n"
    "; The updater touches nothing but [VERSION].\r\n"
    "[Lobby]\r\n"
    "Skin=Default\r\n"
    "Sound=1\r\n"
)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--update", required=True, help="program shipped as Update.exe")
    ap.add_argument("--lobby", required=True, help="program shipped as Orvane.exe")
    ap.add_argument("--folder", required=True, help="package folder to (re)create")
    ap.add_argument("--zip", required=True, help="package ZIP to write")
    args = ap.parse_args()

    root = args.folder
    if os.path.isdir(root):
        shutil.rmtree(root)
    files = {
        "Config/ovCfn.ov": b"OVCFN\x01\x00" + bytes(range(256)) * 4,
        "Sys/Config.ini": b"\xff\xfe" + CONFIG_INI.encode("utf-16-le"),
        "Sys/Mark.bmp": bitmap(32, 32, 9),
    }
    for i, name in enumerate(["Back", "Frame", "Logo", "Panel", "Title", "List"]):
        files["Skin/%s.bmp" % name] = bitmap(24 + 4 * i, 16 + 2 * i, i)
    for i, name in enumerate(["Close", "Min", "Enter", "Refresh"]):
        files["Skin/Button/%s.bmp" % name] = bitmap(20, 12, 20 + i)
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "UpdateZip"), exist_ok=True)
    shutil.copyfile(args.update, os.path.join(root, "Update.exe"))
    shutil.copyfile(args.lobby, os.path.join(root, "Orvane.exe"))

    # Folder-first order for the folders, then the updater before the lobby.
    entries = [e for e in pack.folder_entries(root) if "/" in e[0].rstrip("/")
               or e[0].endswith("/")]
    entries.append(("Update.exe", os.path.join(root, "Update.exe")))
    entries.append(("Orvane.exe", os.path.join(root, "Orvane.exe")))
    pack.zip_entries(entries, args.zip)
    return 0


if __name__ == "__main__":
    sys.exit(main())
