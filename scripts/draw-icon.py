#!/usr/bin/env python3
"""Draws custdisp's icon (a pole display on its stand): the 32x32 design as a
24-bit PNG, or as a Windows .ico holding it at 16 to 256 pixels, each size
drawn from the design (area-averaged below 32, whole pixels above), so that
Explorer, the taskbar and the Start menu never scale it themselves.
  scripts/draw-icon.py src/app/icons/custdisp.png
  scripts/draw-icon.py src/app/icons/custdisp.ico"""
import struct
import sys
import zlib

W = H = 32
BG = (236, 240, 244)
CASE = (40, 48, 60)
GLASS = (10, 30, 20)
LIT = (80, 230, 120)
POLE = (120, 128, 140)

px = [[BG] * W for _ in range(H)]

def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1):
        for x in range(x0, x1):
            px[y][x] = c

rect(2, 4, 30, 18, CASE)     # housing
rect(4, 6, 28, 16, GLASS)    # screen
rect(14, 18, 18, 27, POLE)   # pole
rect(8, 27, 24, 30, CASE)    # foot
# a lit price "$12" in 3x5 segments
glyphs = {
    "$": ["111", "110", "111", "011", "111"],
    "1": ["010", "110", "010", "010", "111"],
    "2": ["111", "001", "111", "100", "111"],
}
x = 7
for ch in "$12":
    for dy, row in enumerate(glyphs[ch]):
        for dx, bit in enumerate(row):
            if bit == "1":
                rect(x + dx * 2, 7 + dy * 2 - 1 if dy else 7, x + dx * 2 + 2, 7 + dy * 2 + 1, LIT)
    x += 7


ICO_SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)
SAMPLES = 4  # per side of each pixel


def scaled(size):
    """The design at size x size: each pixel the average of the design under it."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = px[int((y + (sy + 0.5) / SAMPLES) * H / size)][int((x + (sx + 0.5) / SAMPLES) * W / size)]
                    for i in range(3):
                        total[i] += c[i]
            row.append(tuple(round(t / SAMPLES ** 2) for t in total))
        rows.append(row)
    return rows


def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)


def png_of(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) \
        + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


out = sys.argv[1] if len(sys.argv) > 1 else "custdisp.png"
if out.endswith(".ico"):
    # One entry per size, each carrying its PNG (Windows Vista and later read
    # PNG entries at every size); 256 is written as 0 in the directory.
    images = [png_of(scaled(size)) for size in ICO_SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(ICO_SIZES, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    data += b"".join(images)
else:
    data = png_of(px)
with open(out, "wb") as f:
    f.write(data)
