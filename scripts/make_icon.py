#!/usr/bin/env python3
"""Draws the updater's icon (a feather-blue tile with a white downward arrow) as ui/updater.ico.

Run again only to change the picture; the build uses the committed file."""
import struct
import sys


def pixel(x, y, n):
    # Rounded tile with a vertical gradient; the arrow is a shaft and a triangular head.
    r = n * 0.18
    inside = True
    for cx, cy in ((r, r), (n - 1 - r, r), (r, n - 1 - r), (n - 1 - r, n - 1 - r)):
        if (x < r or x > n - 1 - r) and (y < r or y > n - 1 - r):
            if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
                inside = False
    if not inside:
        return (0, 0, 0, 0)
    t = y / (n - 1)
    blue = (int(40 + 30 * t), int(110 + 40 * t), int(200 - 40 * t), 255)
    mid = (n - 1) / 2
    shaft = abs(x - mid) <= n * 0.09 and n * 0.18 <= y <= n * 0.55
    head = n * 0.50 <= y <= n * 0.78 and abs(x - mid) <= (n * 0.78 - y) * 1.0
    bar = n * 0.82 <= y <= n * 0.88 and n * 0.22 <= x <= n * 0.78
    if shaft or head or bar:
        return (255, 255, 255, 255)
    return blue


def image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            rows.append(struct.pack("BBBB", b, g, r, a))
    xor = b"".join(rows)
    and_mask = b"\0" * (((n + 31) // 32) * 4 * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ui/updater.ico")
