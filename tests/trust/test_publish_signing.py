#!/usr/bin/env python3
"""The publisher's keys and signatures: the forms the updater reads (64-byte X||Y key,
64-byte r||s signature) and the conversion from OpenSSL's DER."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

spec = importlib.util.spec_from_file_location("publish", sys.argv.pop(1))
publish = importlib.util.module_from_spec(spec)
spec.loader.exec_module(publish)


def der_int(value, pad=False):
    b = value.to_bytes(max(1, (value.bit_length() + 7) // 8), "big")
    if pad or b[0] & 0x80:
        b = b"\0" + b
    return b"\x02" + bytes([len(b)]) + b


class DerToRawTest(unittest.TestCase):
    def test_table(self):
        r, s = 0x80 << 248, 0x1234  # r needs a sign byte; s is short
        cases = [
            ("sign byte and short s", b"\x30" + bytes([len(der_int(r) + der_int(s))])
             + der_int(r) + der_int(s), r.to_bytes(32, "big") + s.to_bytes(32, "big")),
            ("long-form sequence length", b"\x30\x81" + bytes([len(der_int(r) + der_int(s))])
             + der_int(r) + der_int(s), r.to_bytes(32, "big") + s.to_bytes(32, "big")),
        ]
        for what, der, raw in cases:
            with self.subTest(what):
                self.assertEqual(raw, publish.der_signature_to_raw(der))
                self.assertEqual(raw, publish.der_signature_to_raw(
                    publish.raw_to_der_signature(raw)))

    def test_malformed_is_refused(self):
        good = publish.raw_to_der_signature(bytes(range(1, 65)))
        for what, der in [("empty", b""), ("not a sequence", b"\x31" + good[1:]),
                          ("trailing byte", good + b"\0"), ("cut", good[:-1]),
                          ("r too long", b"\x30\x26" + der_int(1 << 260) + der_int(1))]:
            with self.subTest(what):
                with self.assertRaises(publish.PublishError):
                    publish.der_signature_to_raw(der)


class KeygenAndSignTest(unittest.TestCase):
    def test_signature_verifies_with_openssl_and_keygen_keeps_old_keys(self):
        with tempfile.TemporaryDirectory() as tmp:
            prefix = os.path.join(tmp, "release")
            private, public = publish.keygen(prefix)
            self.assertEqual(0o600, os.stat(private).st_mode & 0o777)
            with open(public, "rb") as f:
                raw_pub = f.read()
            self.assertEqual(64, len(raw_pub))
            with self.assertRaises(publish.PublishError):
                publish.keygen(prefix)  # never overwrites a key
            archive = os.path.join(tmp, "1000820090415.zip")
            with zipfile.ZipFile(archive, "w") as z:
                z.writestr("readme.txt", "archive bytes" * 1000)
            sig = publish.sign(private, archive)
            with open(sig, "rb") as f:
                raw = f.read()
            self.assertEqual(64, len(raw))
            # Independently: OpenSSL accepts it for the exported public key.
            pub_der = os.path.join(tmp, "pub.der")
            sig_der = os.path.join(tmp, "sig.der")
            with open(pub_der, "wb") as f:
                f.write(publish.P256_SPKI_PREFIX + b"\x04" + raw_pub)
            with open(sig_der, "wb") as f:
                f.write(publish.raw_to_der_signature(raw))
            ok = subprocess.run(["openssl", "dgst", "-sha256", "-verify", pub_der, "-keyform",
                                 "DER", "-signature", sig_der, archive], capture_output=True)
            self.assertEqual(0, ok.returncode, ok.stdout + ok.stderr)
            # Keys and the signature beside the archive are no archives for the index.
            self.assertEqual([("1000820090415", "1000820090415.zip")], publish.archives(tmp))

    def test_a_key_of_another_curve_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            key = os.path.join(tmp, "k.pem")
            subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                            "ec_paramgen_curve:P-384", "-out", key], check=True,
                           capture_output=True)
            with self.assertRaises(publish.PublishError):
                publish.public_key_raw(key)


if __name__ == "__main__":
    unittest.main(verbosity=2)
