#!/usr/bin/env python3
"""Writes the test pictures in this folder (committed; rerun only to change them).

Gradients carry their coordinates in their colours (red = x mod 256, green = y mod 256,
blue = x div 256 * 16 + y div 256), so a test can tell which source pixel landed where.

Also writes, with the same helpers, the seed corpus of the image-file fuzzer (fuzz/corpus/image_files).
"""
import os
import struct
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def flat_png(path, width, height, first_row, depth=8, color_type=2, palette=None, interlace=0):
    """Every row the same as the first (filter Up below it), so that large pictures stay small on disk.
    Interlaced (8 bits a sample or more), each of the seven passes repeats its part of that row."""
    co = zlib.compressobj(9)
    rows = []
    if interlace:
        size = len(first_row) // width
        for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)):
            row = b"".join(first_row[x * size:(x + 1) * size] for x in range(x0, width, dx))
            rows += [co.compress(b"\0" + row) for _ in range(y0, height, dy) if row]
    else:
        rows.append(co.compress(b"\0" + first_row))
        other = b"\2" + bytes(len(first_row))
        for _ in range(height - 1):
            rows.append(co.compress(other))
    rows.append(co.flush())
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, interlace))
    if palette:
        out += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    out += chunk(b"IDAT", b"".join(rows)) + chunk(b"IEND", b"")
    open(path, "wb").write(out)


def png(path, width, height, pixel, color_type=2, palette=None):
    channels = {2: 3, 3: 1, 6: 4}[color_type]
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            value = pixel(x, y)
            raw += bytes(value if channels > 1 else [value])
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
open("broken_oversized.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                                         + chunk(b"IDAT", zlib.compress(b"\0" * 100)) + chunk(b"IEND", b""))

# photo_100x50.jpg is gradient_100x50.png saved as JPEG (quality 95) with gdk-pixbuf's own saver.


class Bits:
    """Bits written most significant first, as JPEG's entropy-coded data wants them (0xFF stuffed)."""
    def __init__(self):
        self.out, self.acc, self.count = bytearray(), 0, 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.acc = self.acc << 1 | (value >> i & 1)
            self.count += 1
            if self.count == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc, self.count = 0, 0

    def done(self):
        if self.count:
            self.put((1 << (8 - self.count)) - 1, 8 - self.count)
        return bytes(self.out)


DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]  # the usual luminance DC table
DC_VALUES = list(range(12))


def huffman_codes(bits, values):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            code, k = code + 1, k + 1
        code <<= 1
    return codes


def grey_jpeg(path, width, height, level, bands=None):
    """A flat grey JPEG of DC coefficients only: baseline, or progressive with a DC scan and one AC scan
    for each (first, last) coefficient band in `bands`, every block ending its bands at once."""
    dc = huffman_codes(DC_BITS, DC_VALUES)
    ac_values = [r << 4 for r in range(15)]  # end-of-band runs of 2^r blocks and more (0x00: end of block)
    ac = huffman_codes([0, 0, 0, 15] + [0] * 12, ac_values)
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    value = (level - 128) * 8  # the DC coefficient, with every quantiser 1
    def segment(marker, data):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(data) + 2) + data
    out = b"\xff\xd8" + segment(0xDB, b"\0" + b"\1" * 64)
    out += segment(0xC2 if bands else 0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\1\x11\0")
    out += segment(0xC4, b"\x00" + bytes(DC_BITS) + bytes(DC_VALUES))
    out += segment(0xC4, b"\x10" + bytes([0, 0, 0, 15] + [0] * 12) + bytes(ac_values))
    bits = Bits()
    for i in range(blocks):
        diff = value if i == 0 else 0
        size = abs(diff).bit_length()
        bits.put(*dc[size])
        if size:
            bits.put(diff if diff > 0 else diff + (1 << size) - 1, size)
        if not bands:
            bits.put(*ac[0x00])
    out += segment(0xDA, b"\1\1\0" + (b"\0\0\0" if bands else b"\0\x3f\0")) + bits.done()
    for first, last in bands or []:
        bits, left = Bits(), blocks
        while left:
            run = min(left, 32767)
            r = run.bit_length() - 1
            bits.put(*ac[r << 4])
            bits.put(run - (1 << r), r)
            left -= run
        out += segment(0xDA, b"\1\1\0" + bytes([first, last, 0])) + bits.done()
    open(path, "wb").write(out + b"\xff\xd9")


def gif(path, width, height, frames):
    """An animation over a 256-colour table: colour i is (i, 255 - i, i * 7 mod 256). Each frame is
    (left, top, width, height, index(x, y), transparent index or None), its data in literal 9-bit codes."""
    def lzw(indexes):
        acc, count, out = 0, 0, bytearray()
        def put(code):
            nonlocal acc, count
            acc |= code << count
            count += 9
            while count >= 8:
                out.append(acc & 255)
                acc >>= 8
                count -= 8
        for i, index in enumerate(indexes):
            if i % 254 == 0:
                put(256)  # clear before the table would need 10-bit codes
            put(index)
        put(257)
        if count:
            out.append(acc & 255)
        return b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255)) + b"\0"
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0)
    out += b"".join(bytes([i, 255 - i, i * 7 & 255]) for i in range(256))
    out += b"\x21\xfe\x07comment\x00"
    for left, top, w, h, index, transparent in frames:
        flags = 1 if transparent is not None else 0
        out += b"\x21\xf9\x04" + bytes([flags | 4, 10, 0, transparent or 0]) + b"\0"
        out += b"\x2c" + struct.pack("<HHHHB", left, top, w, h, 0) + b"\x08"
        out += lzw(index(x, y) for y in range(h) for x in range(w))
    open(path, "wb").write(out + b"\x3b")


def ico(path, images):
    """An icon of 32-bit DIB images, given as (width, height, pixel(x, y) -> (r, g, b, a)), and PNG files."""
    data = []
    for image in images:
        if isinstance(image, bytes):
            data.append((image, 0, 0, 32))
            continue
        w, h, pixel = image
        xor = b"".join(bytes([b, g, r, a]) for y in range(h - 1, -1, -1) for r, g, b, a in (pixel(x, y) for x in range(w)))
        mask = bytes(((w + 31) // 32 * 4) * h)
        header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        data.append((header + xor + mask, w, h, 32))
    offset = 6 + 16 * len(data)
    out = struct.pack("<HHH", 0, 1, len(data))
    for blob, w, h, bits in data:
        out += struct.pack("<BBBBHHII", w & 255, h & 255, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    open(path, "wb").write(out + b"".join(blob for blob, *_ in data))


def tiled_tiff(path, width, height, tile, pixel):
    """Big-endian RGB TIFF in square tiles, each compressed with deflate."""
    across, down = (width + tile - 1) // tile, (height + tile - 1) // tile
    tiles = []
    for ty in range(down):
        for tx in range(across):
            tiles.append(zlib.compress(b"".join(bytes(pixel(tx * tile + x, ty * tile + y))
                                                for y in range(tile) for x in range(tile))))
    count = across * down
    entries = [(256, 3, 1, width), (257, 3, 1, height), (258, 3, 3, None), (259, 3, 1, 8), (262, 3, 1, 2),
               (277, 3, 1, 3), (284, 3, 1, 1), (322, 3, 1, tile), (323, 3, 1, tile), (324, 4, count, None),
               (325, 4, count, None)]
    ifd_size = 2 + 12 * len(entries) + 4
    bits_at = 8 + ifd_size
    offsets_at = bits_at + 6
    counts_at = offsets_at + 4 * count
    data_at = counts_at + 4 * count
    offsets = [data_at + sum(len(t) for t in tiles[:i]) for i in range(count)]
    ifd = struct.pack(">H", len(entries))
    for tag, kind, n, value in entries:
        if tag == 258:
            ifd += struct.pack(">HHII", tag, kind, n, bits_at)
        elif tag in (324, 325):
            ifd += struct.pack(">HHII", tag, kind, n, offsets_at if tag == 324 else counts_at)
        else:
            ifd += struct.pack(">HHIHH", tag, kind, n, value, 0)
    ifd += struct.pack(">I", 0)
    out = b"MM\0*" + struct.pack(">I", 8) + ifd + struct.pack(">HHH", 8, 8, 8)
    out += struct.pack(">%dI" % count, *offsets) + struct.pack(">%dI" % count, *[len(t) for t in tiles])
    open(path, "wb").write(out + b"".join(tiles))


# Ordinary large pictures, small on disk: every row the same. Left half (200, 100, 50), right half
# (20, 40, 60); at 16 bits a sample each byte doubled (v * 257).
def halves(width, colours, size=1):
    return b"".join(b"".join(v.to_bytes(size, "big") for v in colours[x >= width // 2]) for x in range(width))
flat_png("flat_3840x2160.png", 3840, 2160, halves(3840, [(200, 100, 50), (20, 40, 60)]))
flat_png("flat_1920x1080_16bit.png", 1920, 1080,
         halves(1920, [(200 * 257, 100 * 257, 50 * 257), (20 * 257, 40 * 257, 60 * 257)], 2), depth=16)
# Hostile pictures, small on disk, each showing something (white, red, grey) if ever decoded: 2^26
# pixels at one bit; an SVG whose blur filter takes seconds and gigabytes; a progressive JPEG whose 33
# scans each make a decoder pass over 2^22 pixels again.
flat_png("hostile_8192x8192_1bit.png", 8192, 8192, bytes(1024), depth=1, color_type=3,
         palette=[(255, 255, 255), (0, 0, 0)])
open("hostile_blur.svg", "w").write(
    '<svg xmlns="http://www.w3.org/2000/svg" width="8192" height="8192"><filter id="f"><feGaussianBlur '
    'stdDeviation="900"/></filter><rect width="8192" height="8192" fill="red" filter="url(#f)"/></svg>')
grey_jpeg("hostile_scans_2048x2048.jpg", 2048, 2048, 200, bands=[(k, k) for k in range(1, 33)])
# Two frames, red then blue: both platforms show the first.
gif("animated_64x48.gif", 64, 48, [(0, 0, 64, 48, lambda x, y: 255, None), (0, 0, 64, 48, lambda x, y: 0, None)])

# The fuzzer's seeds: one or two small files of each format, in their common variants.
seeds = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz", "corpus", "image_files")
os.makedirs(seeds, exist_ok=True)
def seed(name):
    return os.path.join(seeds, name)
for name in ("palette_64x48.png", "transparent_80x60.png", "photo_100x50.jpg", "rgb565_80x60.bmp"):
    open(seed(name), "wb").write(open(name, "rb").read())
flat_png(seed("rgba16_interlaced_8x6.png"), 8, 6, bytes(range(64)), depth=16, color_type=6, interlace=1)
grey_jpeg(seed("baseline_grey_24x16.jpg"), 24, 16, 90)
grey_jpeg(seed("progressive_grey_24x16.jpg"), 24, 16, 160, bands=[(1, 5), (6, 63)])
gif(seed("animated_12x10.gif"), 12, 10, [(0, 0, 12, 10, lambda x, y: x + y, None),
                                          (2, 2, 6, 5, lambda x, y: 3, 3)])
bmp(seed("rgb_12x10.bmp"), 12, 10, coordinates)
ico(seed("icon_dib_png.ico"), [(16, 16, lambda x, y: (x * 16, y * 16, 128, 255)), open("transparent_80x60.png", "rb").read()])
tiff(seed("rgb_12x10.tif"), 12, 10, lambda x, y: (x * 20, y * 20, 99), samples=3)
tiled_tiff(seed("tiled_40x20.tif"), 40, 20, 16, coordinates)
