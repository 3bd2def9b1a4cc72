#!/usr/bin/env python3
"""Draws setup.ico: a blue shield-like tile with a white "V" and a green arrow, 16 and 32 px."""
import struct, sys

def pixel(x, y, n):
    # coordinates scaled to a 32-unit canvas
    u, v = (x + 0.5) * 32 / n, (y + 0.5) * 32 / n
    r = 6
    inside = True
    for cx, cy in ((r, r), (32 - r, r), (r, 32 - r), (32 - r, 32 - r)):
        if (u < r or u > 32 - r) and (v < r or v > 32 - r):
            inside = (u - (r if u < 16 else 32 - r)) ** 2 + (v - (r if v < 16 else 32 - r)) ** 2 <= r * r
    if not inside:
        return (0, 0, 0, 0)
    # the "V": two strokes meeting at the bottom centre
    def near(ax, ay, bx, by, w=2.6):
        dx, dy = bx - ax, by - ay
        t = max(0, min(1, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (u - px) ** 2 + (v - py) ** 2 <= w * w
    if near(8, 7, 16, 25) or near(24, 7, 16, 25):
        return (255, 255, 255, 255)
    # a green arrow in the lower right: the download going in
    if 22 <= u <= 28 and 20 <= v <= 28 and abs(u - 25) <= (28 - v) * 0.9:
        return (60, 200, 80, 255)
    shade = int(150 + 60 * (1 - v / 32))
    return (30, 90, shade, 255)

def image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up
        row = b""
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    andmask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    return header + xor + andmask

sizes = (16, 32)
images = [image(n) for n in sizes]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for n, img in zip(sizes, images):
    out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(img), offset)
    offset += len(img)
out += b"".join(images)
open(sys.argv[1] if len(sys.argv) > 1 else "setup.ico", "wb").write(out)
