#!/usr/bin/env python3
"""Draws custdisp's 32x32 icon (a pole display on its stand) as a 24-bit PNG, or as an .ico."""
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

raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in px)
def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
out = sys.argv[1] if len(sys.argv) > 1 else "custdisp.png"
if out.endswith(".ico"):
    # Windows wants an .ico: one 32x32 entry that carries the PNG itself.
    png = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", W, H, 0, 0, 1, 24, len(png), 6 + 16) + png
with open(out, "wb") as f:
    f.write(png)
