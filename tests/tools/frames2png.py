#!/usr/bin/env python3
"""Writes the frames of a frame file (tests/data/frames96.bin, the run-length
form of tests/wine/frames.h) as PNG pictures, to look at them.
Usage: frames2png.py FRAMES.bin OUT_DIR"""
import os
import struct
import sys
import zlib


def number(data, at):
    value = shift = 0
    while True:
        b = data[at]
        at += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return value, at


def png(width, height, rgb):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(src, out_dir):
    data = open(src, "rb").read()
    if data[:4] != b"KFR1":
        raise SystemExit(f"{src}: not a frame file")
    count, at = data[4], 5
    os.makedirs(out_dir, exist_ok=True)
    for _ in range(count):
        n = data[at]
        name = data[at + 1:at + 1 + n].decode()
        at += 1 + n
        width, height = struct.unpack_from("<HH", data, at)
        at += 4
        colours, at = number(data, at)
        palette = [bytes((data[at + 3 * i + 2], data[at + 3 * i + 1], data[at + 3 * i]))
                   for i in range(colours)]
        at += 3 * colours
        rgb = bytearray()
        while len(rgb) < width * height * 3:
            run, at = number(data, at)
            k, at = number(data, at)
            rgb += palette[k] * run
        open(os.path.join(out_dir, name + ".png"), "wb").write(png(width, height, bytes(rgb)))
        print(f"{name}: {width} x {height}, {colours} colours")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
