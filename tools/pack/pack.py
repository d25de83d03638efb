#!/usr/bin/env python3
"""Makes an installer: the PellarSetup stub, then a ZIP package, then the package's length
as 4 bytes little-endian. The package is a ZIP given as is, or one made from a folder
(each folder entry before its contents, folders stored, files deflated)."""
import argparse
import os
import struct
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


def make_installer(stub, package, out):
    with open(stub, "rb") as f:
        image = f.read()
    with open(package, "rb") as f:
        data = f.read()
    if len(data) > 0x7FFFFFFC:
        raise SystemExit("pack: package too large (%d bytes)" % len(data))
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(image)
        f.write(data)
        f.write(struct.pack("<I", len(data)))
    os.replace(tmp, out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--stub", required=True, help="PellarSetup.exe without a package")
    src = ap.add_mutually_exclusive_group(required=True)
    src.add_argument("--folder", help="folder whose content becomes the package")
    src.add_argument("--zip", help="ZIP archive appended unchanged")
    ap.add_argument("--keep-zip", help="with --folder: also keep the package made from it here")
    ap.add_argument("--out", required=True, help="installer to write")
    args = ap.parse_args(argv)

    if args.zip:
        make_installer(args.stub, args.zip, args.out)
        return 0
    package = args.keep_zip or args.out + ".zip.tmp"
    zip_entries(folder_entries(args.folder), package)
    try:
        make_installer(args.stub, package, args.out)
    finally:
        if not args.keep_zip:
            os.remove(package)
    return 0


if __name__ == "__main__":
    sys.exit(main())
