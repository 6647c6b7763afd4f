#!/usr/bin/env python3
"""Writes the test pictures in this folder (committed; rerun only to change them).

Gradients carry their coordinates in their colours (red = x mod 256, green = y mod 256,
blue = x div 256 * 16 + y div 256), so a test can tell which source pixel landed where.
"""
import struct
import zlib


def png(path, width, height, pixel, color_type=2, palette=None):
    channels = {2: 3, 3: 1, 6: 4}[color_type]
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            value = pixel(x, y)
            raw += bytes(value if channels > 1 else [value])
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0))
    if palette:
        out += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    out += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(out)


def bmp(path, width, height, pixel):
    row = (width * 3 + 3) // 4 * 4
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes([b, g, r])
        data += line + b"\0" * (row - width * 3)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    open(path, "wb").write(header + info + data)


def coordinates(x, y):
    return (x & 255, y & 255, ((x >> 8) << 4) | (y >> 8))


png("gradient_640x480.png", 640, 480, coordinates)
png("gradient_100x50.png", 100, 50, coordinates)
png("gradient_320x240.png", 320, 240, coordinates)
bmp("gradient_333x77.bmp", 333, 77, coordinates)
palette = [((i * 37) & 255, (i * 91) & 255, (i * 13) & 255) for i in range(16)]
png("palette_64x48.png", 64, 48, lambda x, y: (x // 4 + y // 3) % 16, color_type=3, palette=palette)
# Left half fully transparent but storing a green; right half opaque red.
png("transparent_80x60.png", 80, 60, lambda x, y: (10, 200, 30, 0) if x < 40 else (200, 10, 30, 255), color_type=6)

good = open("gradient_100x50.png", "rb").read()
open("broken_truncated.png", "wb").write(good[: len(good) // 2])
open("broken_garbage.png", "wb").write(bytes((i * 7919) & 255 for i in range(4096)))
open("broken_text.png", "wb").write(b"this is not a picture\n" * 20)
open("broken_empty.png", "wb").write(b"")
# A header that claims 60000 x 60000 pixels over a few bytes of data.
header = struct.pack(">IIBBBBB", 60000, 60000, 8, 2, 0, 0, 0)
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open("broken_oversized.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                                         + chunk(b"IDAT", zlib.compress(b"\0" * 100)) + chunk(b"IEND", b""))

# photo_100x50.jpg is gradient_100x50.png saved as JPEG (quality 95) with gdk-pixbuf's own saver.
