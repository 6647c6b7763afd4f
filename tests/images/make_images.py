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


def tiff(path, width, height, pixel, bits=8, samples=4, extra=1, dpi=300):
    """Uncompressed little-endian TIFF, one strip, chunky RGB(A). `pixel` gives the stored sample values;
    extra is ExtraSamples for a fourth sample (1 associated alpha, 2 unassociated)."""
    data = bytearray()
    pack = "<" + ("B" if bits == 8 else "H") * samples
    for y in range(height):
        for x in range(width):
            data += struct.pack(pack, *pixel(x, y))
    entries = []  # (tag, type, count, value or bytes)
    SHORT, LONG, RATIONAL = 3, 4, 5
    entries.append((256, LONG, 1, width))
    entries.append((257, LONG, 1, height))
    entries.append((258, SHORT, samples, struct.pack("<" + "H" * samples, *([bits] * samples))))
    entries.append((259, SHORT, 1, 1))
    entries.append((262, SHORT, 1, 2))
    entries.append((273, LONG, 1, None))  # the strip's offset, known once the layout is
    entries.append((277, SHORT, 1, samples))
    entries.append((278, LONG, 1, height))
    entries.append((279, LONG, 1, len(data)))
    entries.append((282, RATIONAL, 1, struct.pack("<II", dpi, 1)))
    entries.append((283, RATIONAL, 1, struct.pack("<II", dpi, 1)))
    entries.append((284, SHORT, 1, 1))
    entries.append((296, SHORT, 1, 2))
    if samples == 4:
        entries.append((338, SHORT, 1, extra))
    ifd_size = 2 + 12 * len(entries) + 4
    extra_at = 8 + ifd_size
    blobs = bytearray()
    for tag, kind, count, value in entries:
        if isinstance(value, bytes) and len(value) > 4:
            blobs += value
    strip_at = extra_at + len(blobs)
    ifd = struct.pack("<H", len(entries))
    blobs = bytearray()
    for tag, kind, count, value in entries:
        if value is None:
            value = strip_at
        if isinstance(value, bytes):
            if len(value) > 4:
                ifd += struct.pack("<HHII", tag, kind, count, extra_at + len(blobs))
                blobs += value
            else:
                ifd += struct.pack("<HHI", tag, kind, count) + value.ljust(4, b"\0")
        elif kind == SHORT:
            ifd += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            ifd += struct.pack("<HHII", tag, kind, count, value)
    ifd += struct.pack("<I", 0)
    open(path, "wb").write(b"II*\0" + struct.pack("<I", 8) + ifd + blobs + data)


def bmp565(path, width, height, pixel):
    """16-bit BMP with BI_BITFIELDS masks for 5-6-5; `pixel` gives the 16-bit value."""
    row = (width * 2 + 3) // 4 * 4
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = b"".join(struct.pack("<H", pixel(x, y)) for x in range(width))
        data += line + b"\0" * (row - width * 2)
    offset = 14 + 40 + 12
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 16, 3, len(data), 2835, 2835, 0, 0)
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    open(path, "wb").write(header + info + masks + data)


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


# Premultiplied (associated) alpha, 100x50, recorded at 300 and at 96 dpi. Left half opaque, its colour
# telling the column and row: (5x + 5, 5y + 5, 128). Right half at alpha 51 (one fifth) storing
# (40, 20, 10), which is (200, 100, 50) before premultiplication. No pixel is black.
def premultiplied(x, y):
    return (5 * x + 5, 5 * y + 5, 128, 255) if x < 50 else (40, 20, 10, 51)
tiff("premultiplied_100x50_300dpi.tif", 100, 50, premultiplied, dpi=300)
tiff("premultiplied_100x50_96dpi.tif", 100, 50, premultiplied, dpi=96)
# 16 bits a sample, RGB, 300 dpi: the same opaque colours as the left half above, each byte doubled
# (v * 257), over the whole width; the right half (0, 0, 65535) is pure blue.
def rgb48(x, y):
    return (257 * (5 * x + 5), 257 * (5 * y + 5), 257 * 128) if x < 50 else (0, 0, 65535)
tiff("rgb48_100x50_300dpi.tif", 100, 50, rgb48, bits=16, samples=3)
# 5-6-5 quadrants of 40x30: red, green / blue, mid grey (red 16, green 32, blue 16 of 31, 63, 31).
bmp565("rgb565_80x60.bmp", 80, 60,
       lambda x, y: (0xF800 if x < 40 else 0x07E0) if y < 30 else (0x001F if x < 40 else 0x8410))

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
