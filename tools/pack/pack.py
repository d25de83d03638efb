#!/usr/bin/env python3
"""Makes an installer: the PellarSetup stub, then a ZIP package, then the package's length
as 4 bytes little-endian. The package is a ZIP given as is, or one made from a folder
(each folder entry before its contents, folders stored, files deflated).

With --sign CERT KEY the finished installer is Authenticode-signed with osslsigncode. Signing
appends the certificate table after the trailer; the installer then finds the trailer right
before that table. The image and package are separated by zeros so that the table starts on
the 8-byte boundary signing needs, directly after the trailer."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zipfile

# Fixed entry times keep the output reproducible.
ENTRY_TIME = (2009, 3, 24, 0, 0, 0)


def folder_entries(root):
    """(archive name, full path or None for a folder) in install order: at each level the
    subfolders first, each followed by its contents, then the files; names sorted."""
    out = []

    def walk(rel):
        full = os.path.join(root, rel) if rel else root
        names = sorted(os.listdir(full), key=lambda n: (n.lower(), n))
        dirs = [n for n in names if os.path.isdir(os.path.join(full, n))]
        files = [n for n in names if not os.path.isdir(os.path.join(full, n))]
        for d in dirs:
            name = (rel + "/" if rel else "") + d
            out.append((name + "/", None))
            walk(name)
        for f in files:
            name = (rel + "/" if rel else "") + f
            out.append((name, os.path.join(full, f)))

    walk("")
    return out


def zip_entries(entries, zip_path):
    """Writes (name, path or None) entries, in the order given, to zip_path."""
    with zipfile.ZipFile(zip_path, "w") as z:
        for name, path in entries:
            info = zipfile.ZipInfo(name, ENTRY_TIME)
            # MS-DOS attributes, as Windows tools write them; made on Unix, zipfile would
            # mark the entries with Unix modes instead.
            info.create_system = 0
            if path is None:
                info.compress_type = zipfile.ZIP_STORED
                info.external_attr = 0x10  # MS-DOS directory attribute
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0x20  # MS-DOS archive attribute
                with open(path, "rb") as f:
                    z.writestr(info, f.read())


def certificate_table(data):
    """(file offset, size) of a PE image's certificate table; (0, 0) when it has none."""
    if data[:2] != b"MZ":
        raise SystemExit("pack: the stub is no executable image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("pack: the stub is no PE image")
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    dirs = pe + 24 + (96 if magic == 0x10B else 112)
    return struct.unpack_from("<II", data, dirs + 4 * 8)


def sign_installer(path, cert, key, name):
    tool = shutil.which("osslsigncode")
    if not tool:
        raise SystemExit("pack: --sign needs osslsigncode")
    signed = path + ".signed"
    cmd = [tool, "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", path, "-out", signed]
    if name:
        cmd[2:2] = ["-n", name]
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        if os.path.exists(signed):
            os.remove(signed)
        raise SystemExit("pack: signing failed:\n" + r.stdout.decode(errors="replace"))
    with open(path, "rb") as f:
        unsigned_size = len(f.read())
    with open(signed, "rb") as f:
        data = f.read()
    offset, size = certificate_table(data)
    # The layout the installer reads: the trailer directly before a table that ends the file.
    if size == 0 or offset + size != len(data) or offset != unsigned_size:
        os.remove(signed)
        raise SystemExit("pack: the signed installer has an unexpected layout")
    os.replace(signed, path)


def make_installer(stub, package, out, sign=None, sign_name=None):
    with open(stub, "rb") as f:
        image = f.read()
    with open(package, "rb") as f:
        data = f.read()
    if len(data) > 0x7FFFFFFC:
        raise SystemExit("pack: package too large (%d bytes)" % len(data))
    if certificate_table(image)[1]:
        raise SystemExit("pack: the stub is signed; sign the finished installer instead")
    gap = (-(len(image) + len(data) + 4) % 8) if sign else 0
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(image)
        f.write(b"\0" * gap)
        f.write(data)
        f.write(struct.pack("<I", len(data)))
    try:
        if sign:
            sign_installer(tmp, sign[0], sign[1], sign_name)
    except BaseException:
        os.remove(tmp)
        raise
    os.replace(tmp, out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--stub", required=True, help="PellarSetup.exe without a package")
    src = ap.add_mutually_exclusive_group(required=True)
    src.add_argument("--folder", help="folder whose content becomes the package")
    src.add_argument("--zip", help="ZIP archive appended unchanged")
    ap.add_argument("--keep-zip", help="with --folder: also keep the package made from it here")
    ap.add_argument("--out", required=True, help="installer to write")
    ap.add_argument("--sign", nargs=2, metavar=("CERT", "KEY"),
                    help="sign the installer with this certificate (PEM or DER) and its key")
    ap.add_argument("--sign-name", help="with --sign: the program name shown for the signature")
    args = ap.parse_args(argv)

    if args.zip:
        make_installer(args.stub, args.zip, args.out, args.sign, args.sign_name)
        return 0
    package = args.keep_zip or args.out + ".zip.tmp"
    zip_entries(folder_entries(args.folder), package)
    try:
        make_installer(args.stub, package, args.out, args.sign, args.sign_name)
    finally:
        if not args.keep_zip:
            os.remove(package)
    return 0


if __name__ == "__main__":
    sys.exit(main())
