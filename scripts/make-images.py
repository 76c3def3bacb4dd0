#!/usr/bin/env python3
"""Draws the application's three embedded images: the splash picture
(190 x 101), the window icon (216 x 216) and the Windows icon file.

Pure Python, no imaging library: the pictures are computed pixel by pixel and
written as PNG. Run from the repository root; it rewrites the files in
src/ui/resources/.
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(__file__), '..', 'src', 'ui', 'resources')


def png(width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(tag, data):
        c = struct.pack('>I', len(data)) + tag + data
        return c + struct.pack('>I', zlib.crc32(tag + data) & 0xffffffff)

    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(bytes(rows), 9))
            + chunk(b'IEND', b''))


def fringe(u):
    """A sinusoidal fringe in the projector's red, u in 0..1 across the field."""
    return int(round(127.5 * (1 - math.cos(2 * math.pi * 4 * u))))


def icon_pixel(size):
    r = size * 0.18
    def pixel(x, y):
        # Rounded square with a dark frame, red fringes laid out along the
        # tangent of a sine sweep, and a white beam spot in the centre.
        cx, cy = x + 0.5, y + 0.5
        dx = max(r - cx, 0, cx - (size - r))
        dy = max(r - cy, 0, cy - (size - r))
        if dx * dx + dy * dy > r * r:
            return (0, 0, 0, 0)
        if cx < size * 0.08 or cx > size * 0.92 or cy < size * 0.08 or cy > size * 0.92:
            return (40, 44, 52, 255)
        u = (cx - size * 0.08) / (size * 0.84)
        t = math.sin((u - 0.5) * math.pi * 0.8) / math.sin(math.pi * 0.4)
        v = fringe((t + 1) / 2)
        d = math.hypot(cx - size / 2, cy - size / 2)
        if d < size * 0.07:
            return (255, 255, 255, 255)
        if d < size * 0.09:
            return (255, 200, 200, 255)
        return (v, int(v * 0.12), int(v * 0.12), 255)
    return pixel


def splash_pixel(w, h):
    def pixel(x, y):
        if x < 2 or y < 2 or x >= w - 2 or y >= h - 2:
            return (0, 150, 136, 255)
        u = x / (w - 1)
        band = y * 4 // h
        if band == 0:
            v = fringe(u)
        elif band == 1:
            v = 255 if int(u * 8) % 2 else 0
        elif band == 2:
            v = 255 if int(u * 16 + 0.5) % 2 else 0
        else:
            v = int(255 * u)
        return (v, 0, 0, 255)
    return pixel


def ico(png_bytes, size):
    # One PNG-compressed image; a size of 256 or more is stored as 0.
    dim = 0 if size >= 256 else size
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(png_bytes), 6 + 16)
    return header + entry + png_bytes


def main():
    os.makedirs(os.path.join(OUT, 'Icon'), exist_ok=True)
    icon = png(216, 216, icon_pixel(216))
    with open(os.path.join(OUT, 'Kestrav.png'), 'wb') as f:
        f.write(icon)
    with open(os.path.join(OUT, 'Icon', 'logo.png'), 'wb') as f:
        f.write(png(190, 101, splash_pixel(190, 101)))
    with open(os.path.join(OUT, 'Icon', 'Kestrav.ico'), 'wb') as f:
        f.write(ico(icon, 216))


if __name__ == '__main__':
    main()
