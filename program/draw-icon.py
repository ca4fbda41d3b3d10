#!/usr/bin/env python3
"""Draws the Tarnwhistle icon and writes it as a Windows icon file.

The picture: a deep-blue rounded square (the tarn) with a lighter band of water at its
foot, a white envelope with its flap, and an orange whistle seal at the lower right.

Every size is drawn from the same shapes with 4x4 supersampling, then reduced to a small
palette so that the icon costs the program only a few kilobytes:
  16, 24, 32, 48 pixels: 16-colour bitmaps with a transparency mask (every Windows);
  256 pixels: an indexed PNG with per-entry alpha (Windows Vista and later, Wine).

Usage: draw-icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

BLUE = (31, 78, 121)
WATER = (46, 117, 182)
PAPER = (246, 246, 242)
FLAP = (120, 160, 205)
SEAL = (240, 160, 32)
SEAL_RIM = (176, 96, 16)

SAMPLES = 4


def inside_rounded_square(x, y, lo, hi, radius):
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def near_segment(x, y, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width


def colour_at(x, y, size):
    """The colour of the design at the point (x, y) of the unit square, or None outside it.
    Small sizes get thicker strokes so that the envelope's flap stays visible."""
    if not inside_rounded_square(x, y, 0.03, 0.97, 0.2):
        return None
    stroke = 0.035 if size >= 48 else 0.06
    colour = WATER if y > 0.74 else BLUE
    if 0.16 <= x <= 0.84 and 0.27 <= y <= 0.67:
        colour = PAPER
        if near_segment(x, y, 0.16, 0.27, 0.5, 0.52, stroke) or \
                near_segment(x, y, 0.84, 0.27, 0.5, 0.52, stroke):
            colour = FLAP
    d2 = (x - 0.72) ** 2 + (y - 0.71) ** 2
    if d2 <= 0.17 ** 2:
        colour = SEAL_RIM
    if d2 <= 0.13 ** 2:
        colour = SEAL
    if d2 <= (0.045 if size >= 32 else 0.06) ** 2:
        colour = SEAL_RIM
    return colour


def render(size):
    """RGBA rows of the icon at `size` pixels."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px * SAMPLES + sx + 0.5) * step,
                                  (py * SAMPLES + sy + 0.5) * step, size)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            n = SAMPLES * SAMPLES
            row.append((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def palette_of(pixels, count):
    """`count` representative colours of `pixels` (RGBA), by a few rounds of k-means
    seeded with the most frequent colours."""
    frequency = {}
    for p in pixels:
        frequency[p] = frequency.get(p, 0) + 1
    centres = [c for c, _ in sorted(frequency.items(), key=lambda item: -item[1])[:count]]
    for _ in range(8):
        sums = [[0, 0, 0, 0, 0] for _ in centres]
        for colour, n in frequency.items():
            i = nearest(colour, centres)
            for k in range(4):
                sums[i][k] += colour[k] * n
            sums[i][4] += n
        centres = [tuple(s[k] // s[4] for k in range(4)) if s[4] else c
                   for s, c in zip(sums, centres)]
    return centres


def nearest(colour, palette):
    best, best_distance = 0, None
    for i, p in enumerate(palette):
        d = sum((colour[k] - p[k]) ** 2 for k in range(4))
        if best_distance is None or d < best_distance:
            best, best_distance = i, d
    return best


def bitmap_entry(rows):
    """A 4-bit icon image: BITMAPINFOHEADER, 16-entry palette, colour rows, mask rows."""
    size = len(rows)
    opaque = [p for row in rows for p in row if p[3] >= 128]
    palette = palette_of([(p[0], p[1], p[2], 255) for p in opaque], 15) + [(0, 0, 0, 255)]
    palette += [(0, 0, 0, 255)] * (16 - len(palette))
    transparent = 15
    colour_stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colour_rows, mask_rows = [], []
    for row in reversed(rows):  # bitmaps are stored bottom up
        indices = [nearest((p[0], p[1], p[2], 255), palette[:15]) if p[3] >= 128
                   else transparent for p in row]
        packed = bytearray(colour_stride)
        for x, i in enumerate(indices):
            packed[x // 2] |= i << (4 if x % 2 == 0 else 0)
        mask = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_rows.append(bytes(packed))
        mask_rows.append(bytes(mask))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(colour_rows) * colour_stride + len(mask_rows) * mask_stride,
                         0, 0, 16, 0)
    colours = b''.join(struct.pack('<BBBB', c[2], c[1], c[0], 0) for c in palette)
    return header + colours + b''.join(colour_rows) + b''.join(mask_rows), 16, 4


def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + \
        struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)


def png_entry(rows, colours):
    """An indexed PNG with alpha per palette entry."""
    size = len(rows)
    pixels = [p if p[3] else (0, 0, 0, 0) for row in rows for p in row]
    palette = palette_of(pixels, colours)
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter: flat areas compress to almost nothing anyway
        raw.extend(nearest(p if p[3] else (0, 0, 0, 0), palette) for p in row)
    data = b'\x89PNG\r\n\x1a\n'
    data += png_chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 3, 0, 0, 0))
    data += png_chunk(b'PLTE', b''.join(bytes(c[:3]) for c in palette))
    data += png_chunk(b'tRNS', bytes(c[3] for c in palette))
    data += png_chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    data += png_chunk(b'IEND', b'')
    return data, 0, 32


def write_icon(path):
    entries = [(size, bitmap_entry(render(size))) for size in (16, 24, 32, 48)]
    entries.append((256, png_entry(render(256), 48)))
    directory = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    images = b''
    for size, (data, colours, bits) in entries:
        directory += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits,
                                 len(data), offset + len(images))
        images += data
    with open(path, 'wb') as f:
        f.write(directory + images)


if __name__ == '__main__':
    write_icon(sys.argv[1])
