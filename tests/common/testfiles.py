"""File helpers shared by the Python tests that drive the programs under Wine."""

import os


def winpath(path):
    """A host path as Wine's Z: drive sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def utf16(text):
    """Text as the programs' INI files hold it: UTF-16LE with a byte-order mark."""
    return b"\xff\xfe" + text.encode("utf-16-le")


def read_ini(path):
    with open(path, "rb") as f:
        raw = f.read()
    assert raw[:2] == b"\xff\xfe", "%s lost its byte-order mark" % os.path.basename(path)
    return raw[2:].decode("utf-16-le")
