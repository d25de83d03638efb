#!/usr/bin/env python3
"""Writes PellarSetup's generated resources into OUTDIR: the window icon (48x48, 32 bpp),
the product picture (48x48, 24 bpp), the license page banner (508x76, 24 bpp) and the
license text as UTF-16LE with byte-order mark, CR LF line ends and one closing NUL."""
import os
import struct
import sys


def bmp_rows(width, height, pixel):
    """Bottom-up BGR rows, each padded to 4 bytes; pixel(x, y) gives (r, g, b), y from the top."""
    pad = b"\0" * ((4 - (width * 3) % 4) % 4)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    return b"".join(rows)


def write_bmp(path, width, height, pixel):
    bits = bmp_rows(width, height, pixel)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(bits), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + bits)


def product_pixel(x, y):
    # A teal disc with a light ring on white.
    dx, dy = x - 23.5, y - 23.5
    d = (dx * dx + dy * dy) ** 0.5
    if d < 14:
        return (20, 140, 150)
    if d < 18:
        return (220, 235, 240)
    if d < 22:
        return (30, 90, 160)
    return (255, 255, 255)


def banner_pixel(x, y):
    # Left-to-right gradient with a band of lighter diagonal stripes.
    t = x / 507.0
    r, g, b = int(20 + 40 * t), int(70 + 90 * t), int(140 + 80 * t)
    if 20 <= y < 56 and (x + y) % 24 < 6:
        r, g, b = min(r + 40, 255), min(g + 40, 255), min(b + 30, 255)
    return (r, g, b)


def write_icon(path):
    size = 48
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            dx, dy = x - 23.5, y - 23.5
            d = (dx * dx + dy * dy) ** 0.5
            if d < 16:
                bgra = (150, 140, 20, 255)
            elif d < 22:
                bgra = (160, 90, 30, 255)
            else:
                bgra = (0, 0, 0, 0)
            xor += bytes(bgra)
    and_mask = b"\0" * (((size + 31) // 32) * 4 * size)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = info + bytes(xor) + and_mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


def write_license(src, path):
    with open(src, encoding="utf-8") as f:
        text = f.read()
    lines = text.rstrip("\n").split("\n")
    body = "\r\n".join(lines) + "\r\n"
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + body.encode("utf-16-le") + b"\0\0")


def main():
    out = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "PellarSetup.ico"))
    write_bmp(os.path.join(out, "product.bmp"), 48, 48, product_pixel)
    write_bmp(os.path.join(out, "banner.bmp"), 508, 76, banner_pixel)
    write_license(os.path.join(here, "license_zh.txt"), os.path.join(out, "license.txtgb"))


if __name__ == "__main__":
    main()
