#!/usr/bin/env python3
"""Draws the Velmora logo as wgt_ico.png: 117x117, 8-bit RGBA, not interlaced.

The artwork is plain geometry so that it can be made again without an editor: a rounded square
in a dark-blue gradient with a white "V" and a teal accent bar, anti-aliased by 4x4
supersampling. Needs only Python's standard library; the output is the same bytes on every run.

    python3 widget/make_icon.py widget/wgt_ico.png
"""
import struct
import sys
import zlib

SIZE = 117
SS = 4  # samples per pixel along each axis


def inside_rounded_square(x, y, r=24.0):
    # x, y in pixel units over [0, SIZE]
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


# The "V": two strokes meeting at the bottom centre.
V_LEFT = (33.0, 30.0)
V_TIP = (58.5, 86.0)
V_RIGHT = (84.0, 30.0)
V_HALF_WIDTH = 7.5
# The accent: a short bar under the V.
BAR = ((44.0, 97.0), (73.0, 97.0))
BAR_HALF_WIDTH = 2.5


def sample(x, y):
    """Colour (r, g, b, a) in 0..1 of one sample point."""
    if not inside_rounded_square(x, y):
        return (0.0, 0.0, 0.0, 0.0)
    if (dist_to_segment(x, y, *V_LEFT, *V_TIP) <= V_HALF_WIDTH
            or dist_to_segment(x, y, *V_TIP, *V_RIGHT) <= V_HALF_WIDTH):
        return (1.0, 1.0, 1.0, 1.0)
    if dist_to_segment(x, y, *BAR[0], *BAR[1]) <= BAR_HALF_WIDTH:
        return (0.16, 0.82, 0.78, 1.0)
    # Background: from a lighter blue at the top left to the near-black blue of the loading box.
    t = (x + y) / (2.0 * SIZE)
    top, bottom = (0.13, 0.22, 0.55), (0.0, 0.0, 0.13)
    return tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3)) + (1.0,)


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type: none
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = sample(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [acc[i] / acc[3] for i in range(3)]  # un-premultiply
            else:
                rgb = [0.0, 0.0, 0.0]
            row += bytes(round(v * 255) for v in rgb) + bytes([round(alpha * 255)])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.png")
    # IHDR: width, height, bit depth 8, colour type 6 (RGBA), compression 0, filter 0, no interlace
    ihdr = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
           + chunk(b"IDAT", zlib.compress(render(), 9)) + chunk(b"IEND", b""))
    with open(sys.argv[1], "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
