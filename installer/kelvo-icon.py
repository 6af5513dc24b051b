#!/usr/bin/env python3
"""Draws the program's icon, installer/kelvo.ico: the Kelvo mark, a white
letter К on a rounded tile in the brand colour (red 164, green 80, blue 103),
at 16, 20, 24, 32, 40, 48, 64 and 256 pixels. Standard library only; the
build uses the committed .ico and never runs this.

    python3 installer/kelvo-icon.py installer/kelvo.ico

Every size is drawn from the same outlines (in a 256-unit square) by
supersampling, so the small ones are not scaled-down pictures of the large one.
Each entry is a PNG with alpha (8-bit indexed with a transparency table where
that is smaller, as for 256 pixels): far smaller than the uncompressed bitmaps
of the classic format, and read by every Windows version the program runs on."""
import struct
import sys
import zlib

BRAND = (164, 80, 103)
WHITE = (255, 255, 255)
SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

# The tile: a rounded square, corner radius TILE_R, inset by MARGIN.
MARGIN, TILE_R = 8, 56
# The letter К: a stem and two arms, as polygons (x, y), y downwards.
STEM = [(70, 52), (110, 52), (110, 204), (70, 204)]
UPPER_ARM = [(100, 120), (158, 52), (206, 52), (134, 136), (100, 136)]
LOWER_ARM = [(100, 120), (134, 120), (210, 204), (162, 204), (100, 136)]
LETTER = (STEM, UPPER_ARM, LOWER_ARM)


def in_tile(x, y):
    lo, hi = MARGIN, 256 - MARGIN
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + TILE_R), hi - TILE_R)
    cy = min(max(y, lo + TILE_R), hi - TILE_R)
    return (x - cx) ** 2 + (y - cy) ** 2 <= TILE_R ** 2


def in_polygon(x, y, poly):
    inside = False
    for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def draw(size):
    """RGBA rows of the icon at size x size pixels."""
    samples = 16 if size <= 64 else 4  # per axis
    unit = 256 / size / samples
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            tile = letter = 0
            for sy in range(samples):
                y = (py * samples + sy + 0.5) * unit
                for sx in range(samples):
                    x = (px * samples + sx + 0.5) * unit
                    if in_tile(x, y):
                        tile += 1
                        if any(in_polygon(x, y, p) for p in LETTER):
                            letter += 1
            alpha = tile / samples ** 2
            if tile:
                w = letter / tile
                rgb = [round(b + (f - b) * w) for b, f in zip(BRAND, WHITE)]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [round(alpha * 255)])
        rows.append(bytes(row))
    return rows


def png(size, rows):
    """The smaller of two PNG forms: RGBA, or 8-bit indexed with a
    transparency table when the picture has at most 256 colours."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    def whole(colour_type, extra, raw):
        return (b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, colour_type, 0, 0, 0)) +
                extra + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

    best = whole(6, b"", b"".join(b"\x00" + r for r in rows))
    pixels = [r[i:i + 4] for r in rows for i in range(0, len(r), 4)]
    palette = sorted(set(pixels))
    if len(palette) <= 256:
        index = {p: i for i, p in enumerate(palette)}
        raw = b"".join(b"\x00" + bytes(index[r[i:i + 4]] for i in range(0, len(r), 4)) for r in rows)
        extra = (chunk(b"PLTE", b"".join(p[:3] for p in palette)) +
                 chunk(b"tRNS", bytes(p[3] for p in palette)))
        indexed = whole(3, extra, raw)
        if len(indexed) < len(best):
            best = indexed
    return best


def ico(images):
    """An .ico file: directory, then the images in the same order."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries, data = b"", b""
    for size, body in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
        data += body
    return head + entries + data


def main(out):
    images = [(s, png(s, draw(s))) for s in SIZES]
    with open(out, "wb") as f:
        f.write(ico(images))
    for s, body in images:
        print(f"{s:4d} px: {len(body):5d} bytes")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    main(sys.argv[1])
