#!/usr/bin/env python3
"""Converts 24-bit uncompressed BMP files (as the Windows-side tests write
them) to PNG, with only the standard library. Usage: bmp2png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def convert(src, dst):
    data = open(src, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit(f"{src}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0:
        raise SystemExit(f"{src}: only 24-bit uncompressed BMP is handled")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src_y = abs(height) - 1 - y if height > 0 else y
        row = data[offset + src_y * stride: offset + src_y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]  # BGR to RGB
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    open(dst, "wb").write(png)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    convert(sys.argv[1], sys.argv[2])
