#!/usr/bin/env python3
"""Publishes update archives for Runvel, the Tessaly updater.

  tessaly-publish.py pack VERSION FOLDER OUTDIR    pack FOLDER into OUTDIR/VERSION.zip
  tessaly-publish.py index OUTDIR --base-url URL   write OUTDIR/zip.html listing every archive
  tessaly-publish.py serve OUTDIR [--host H] [--port P] [--seconds S]
                                                    serve OUTDIR (zip.html rewritten for H:P)
  tessaly-publish.py keygen PREFIX                  make PREFIX.pem (private key, keep it
                                                    secret) and PREFIX.pub (the public key
                                                    for -DRUNVEL_UPDATE_PUBLIC_KEY=PREFIX.pub)
  tessaly-publish.py sign KEY.pem ARCHIVE...        write ARCHIVE.sig beside every archive

VERSION is 13 digits: the 5-digit main version and the 8-digit minor version (yyyymmdd), for
example 1000820090415. The updater reads the version back from the archive's file name, takes
the file name from the URL's last path segment, and extracts entries relative to the install
folder, so names and URLs that it would misread are refused here.

Signed updates: an updater built with a public key fetches ARCHIVE_URL + ".sig" and takes an
archive only if it holds the ECDSA P-256 / SHA-256 signature of the archive's exact bytes, as
64 raw bytes r||s. The public key file is the 64 raw bytes X||Y of the point. Keys and
signatures are made with the openssl command.
"""

import argparse
import http.server
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

VERSION_RE = re.compile(r"^[0-9]{13}$")
ARCHIVE_RE = re.compile(r"^([0-9]{13})\.zip$")
MAX_NAME_BYTES = 259  # longest item name the updater's archive reader takes


class PublishError(Exception):
    pass


def check_version(version):
    if not VERSION_RE.match(version):
        raise PublishError("version must be 13 digits (5 main + 8 minor): %r" % version)
    if version[0] == "0" or version[5] == "0":
        # The updater parses both columns as integers; a leading zero would be lost and the
        # recorded version would no longer match the listed one.
        raise PublishError("main and minor versions must not start with 0: %r" % version)
    return version


def check_entry_name(name):
    """Refuses item names the updater would write outside the install folder or cut short."""
    if not name or name.startswith(("/", "\\")) or (len(name) > 1 and name[1] == ":"):
        raise PublishError("absolute item name: %r" % name)
    parts = re.split(r"[/\\]", name.rstrip("/"))
    if any(p in ("..", ".") for p in parts):
        raise PublishError("item name with a . or .. component: %r" % name)
    if len(name.encode("utf-8")) > MAX_NAME_BYTES:
        raise PublishError("item name longer than %d bytes: %r" % (MAX_NAME_BYTES, name))
    if any(ord(c) < 32 for c in name):
        raise PublishError("item name with a control character: %r" % name)
    return name


def pack(version, folder, outdir):
    """Packs folder into outdir/VERSION.zip, folders before their contents."""
    check_version(version)
    if not os.path.isdir(folder):
        raise PublishError("no such folder: %s" % folder)
    os.makedirs(outdir, exist_ok=True)
    target = os.path.join(outdir, version + ".zip")
    tmp = target + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            rel = os.path.relpath(root, folder).replace(os.sep, "/")
            if rel != ".":
                z.write(root, check_entry_name(rel + "/"))
            for f in sorted(files):
                name = f if rel == "." else rel + "/" + f
                z.write(os.path.join(root, f), check_entry_name(name))
    os.replace(tmp, target)
    return target


def check_archive(path):
    name = os.path.basename(path)
    m = ARCHIVE_RE.match(name)
    if not m:
        raise PublishError("archive name is not 13 digits + .zip: %s" % name)
    check_version(m.group(1))
    try:
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
            if len(infos) > 65535:
                raise PublishError("%s: more than 65,535 items" % name)
            for info in infos:
                check_entry_name(info.filename)
                if info.file_size > 0xFFFFFFFF or info.compress_size > 0xFFFFFFFF:
                    raise PublishError("%s: item larger than 4 GiB: %s" % (name, info.filename))
                if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
                    raise PublishError("%s: item neither stored nor deflated: %s"
                                       % (name, info.filename))
                if info.flag_bits & 1:
                    raise PublishError("%s: encrypted item: %s" % (name, info.filename))
    except zipfile.BadZipFile as e:
        raise PublishError("%s: not a ZIP archive (%s)" % (name, e))
    if os.path.getsize(path) > 0x7FFFFFFF:
        raise PublishError("%s: larger than 2 GiB" % name)
    return m.group(1)


def archives(outdir):
    """The archives of outdir, checked, in version order. Other files are refused."""
    found = []
    errors = []
    for name in sorted(os.listdir(outdir)):
        path = os.path.join(outdir, name)
        if name == "zip.html" or os.path.isdir(path) or not name.lower().endswith(".zip"):
            continue
        try:
            found.append((check_archive(path), name))
        except PublishError as e:
            errors.append(str(e))
    if errors:
        raise PublishError("\n".join(errors))
    return sorted(found)


def check_base_url(base_url):
    if not re.match(r"^http://[^/\s<>]+(/[^\s<>?#]*)?$", base_url):
        raise PublishError("base URL must be plain http:// without query, fragment, "
                           "blanks or angle brackets: %r" % base_url)
    return base_url if base_url.endswith("/") else base_url + "/"


def version_list(entries, base_url):
    base = check_base_url(base_url)
    lines = ["<ovVersionList>"]
    for version, name in entries:
        lines.append("<Version>%s%s%s</Version>" % (version, base, name))
    lines.append("</ovVersionList>")
    return "\r\n".join(lines) + "\r\n"


def index(outdir, base_url):
    text = version_list(archives(outdir), base_url)
    path = os.path.join(outdir, "zip.html")
    with open(path + ".part", "w", encoding="ascii", newline="") as f:
        f.write(text)
    os.replace(path + ".part", path)
    return path


def serve(outdir, host, port, seconds, ready=None):
    """Serves outdir until seconds have passed (0: until interrupted)."""
    entries = archives(outdir)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=outdir, **kw)

        def do_GET(self):
            if self.path.split("?")[0] == "/zip.html":
                body = version_list(entries, "http://%s:%d/" % (host, server.server_port))
                data = body.encode("ascii")
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
                return
            super().do_GET()

        def log_message(self, fmt, *args):
            sys.stderr.write("publish: " + (fmt % args) + "\n")

    server = http.server.ThreadingHTTPServer((host, port), Handler)
    print("serving %s on http://%s:%d/zip.html (%d archives)"
          % (outdir, host, server.server_port, len(entries)), flush=True)
    if ready:
        ready(server)
    if seconds > 0:
        threading.Timer(seconds, server.shutdown).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


# SubjectPublicKeyInfo of a P-256 key, up to the uncompressed point 04||X||Y.
P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")


def openssl(*args, data=None):
    try:
        r = subprocess.run(["openssl"] + list(args), input=data, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, check=False)
    except FileNotFoundError:
        raise PublishError("the openssl command is needed for keys and signatures")
    if r.returncode != 0:
        raise PublishError("openssl %s: %s" % (args[0], r.stderr.decode(errors="replace").strip()))
    return r.stdout


def public_key_raw(key_pem):
    """The 64-byte X||Y form the updater embeds, from a private or public PEM key."""
    with open(key_pem, "rb") as f:
        pem = f.read()
    pub = b"-----BEGIN PUBLIC KEY-----" in pem
    der = openssl("pkey", *(["-pubin"] if pub else []), "-pubout", "-outform", "DER", data=pem)
    if len(der) != len(P256_SPKI_PREFIX) + 65 or not der.startswith(P256_SPKI_PREFIX + b"\x04"):
        raise PublishError("%s: not a P-256 key" % key_pem)
    return der[-64:]


def der_signature_to_raw(der):
    """ECDSA-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER } to 32-byte r || 32-byte s."""
    def length(i):
        n = der[i]
        if n < 0x80:
            return n, i + 1
        k = n & 0x7F
        if k == 0 or k > 2:
            raise PublishError("bad signature encoding")
        return int.from_bytes(der[i + 1:i + 1 + k], "big"), i + 1 + k

    try:
        if der[0] != 0x30:
            raise PublishError("bad signature encoding")
        n, i = length(1)
        if i + n != len(der):
            raise PublishError("bad signature encoding")
        out = b""
        for _ in range(2):
            if der[i] != 0x02:
                raise PublishError("bad signature encoding")
            n, i = length(i + 1)
            value = int.from_bytes(der[i:i + n], "big")
            if value.bit_length() > 256:
                raise PublishError("bad signature encoding")
            out += value.to_bytes(32, "big")
            i += n
    except IndexError:
        raise PublishError("bad signature encoding")
    if i != len(der):
        raise PublishError("bad signature encoding")
    return out


def keygen(prefix):
    private, public = prefix + ".pem", prefix + ".pub"
    for path in (private, public):
        if os.path.exists(path):
            raise PublishError("%s exists; not overwritten" % path)
    folder = os.path.dirname(os.path.abspath(private))
    os.makedirs(folder, exist_ok=True)
    old = os.umask(0o077)
    try:
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                "-out", private)
    finally:
        os.umask(old)
    with open(public, "wb") as f:
        f.write(public_key_raw(private))
    return private, public


def sign(key_pem, archive):
    """Writes archive + ".sig": the raw signature of the archive's bytes, checked once more
    against the public key before it is kept."""
    raw_pub = public_key_raw(key_pem)
    der = openssl("dgst", "-sha256", "-sign", key_pem, "-binary", archive)
    raw = der_signature_to_raw(der)
    with tempfile.TemporaryDirectory() as tmp:
        pub = os.path.join(tmp, "pub.der")
        sig = os.path.join(tmp, "sig.der")
        with open(pub, "wb") as f:
            f.write(P256_SPKI_PREFIX + b"\x04" + raw_pub)
        with open(sig, "wb") as f:
            f.write(raw_to_der_signature(raw))
        openssl("dgst", "-sha256", "-verify", pub, "-keyform", "DER", "-signature", sig, archive)
    target = archive + ".sig"
    with open(target + ".part", "wb") as f:
        f.write(raw)
    os.replace(target + ".part", target)
    return target


def raw_to_der_signature(raw):
    def integer(b):
        b = b.lstrip(b"\x00") or b"\x00"
        if b[0] & 0x80:
            b = b"\x00" + b
        return b"\x02" + bytes([len(b)]) + b

    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = p.add_subparsers(dest="cmd", required=True)
    a = sub.add_parser("pack", help="pack a folder into VERSION.zip")
    a.add_argument("version")
    a.add_argument("folder")
    a.add_argument("outdir")
    a = sub.add_parser("index", help="write zip.html for the archives of a folder")
    a.add_argument("outdir")
    a.add_argument("--base-url", required=True)
    a = sub.add_parser("serve", help="serve a folder's archives and its version list")
    a.add_argument("outdir")
    a.add_argument("--host", default="127.0.0.1")
    a.add_argument("--port", type=int, default=8080)
    a.add_argument("--seconds", type=float, default=0)
    a = sub.add_parser("keygen", help="make a key pair for signed updates")
    a.add_argument("prefix")
    a = sub.add_parser("sign", help="sign archives (ARCHIVE.sig beside each)")
    a.add_argument("key")
    a.add_argument("archive", nargs="+")
    args = p.parse_args(argv)
    try:
        if args.cmd == "pack":
            print(pack(args.version, args.folder, args.outdir))
        elif args.cmd == "index":
            print(index(args.outdir, args.base_url))
        elif args.cmd == "keygen":
            for path in keygen(args.prefix):
                print(path)
        elif args.cmd == "sign":
            for archive in args.archive:
                print(sign(args.key, archive))
        else:
            serve(args.outdir, args.host, args.port, args.seconds)
    except PublishError as e:
        print("publish: " + str(e).replace("\n", "\npublish: "), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
