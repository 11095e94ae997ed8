#!/usr/bin/env python3
"""The compressed package's corpus (figures only): eight game-like archives, each a run of inner files of
64 KiB to 1 MiB behind small headers, by bytes 55 % media that is compressed already (random bytes, as OGG,
PNG or video), 20 % scripts (Shift-JIS lines of a story, drawn from a vocabulary), 15 % raw bitmaps (24-bit
rows of gradients with noise in their low bits) and 10 % PCM audio (16-bit stereo tones with noise in their
low bits). The same seed gives the same corpus.
    compress_bench.py --corpus FOLDER MIB     writes FOLDER/ship/Archive/data0NNNN.arc
    compress_bench.py --references FOLDER     prints "zstd BYTES xz BYTES": the sum, over each file below
                                              FOLDER alone, of `zstd -19` and of `xz -9` (two at a time)"""
import math
import os
import random
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ARCHIVES = 8
MIX = (("media", 0.55), ("script", 0.20), ("bitmap", 0.15), ("pcm", 0.10))


def noisy(base, mask_byte, r):
    """`base` with the bits of `mask_byte` in every byte replaced by random ones."""
    n = len(base)
    noise = int.from_bytes(r.randbytes(n), "little") & int.from_bytes(bytes([mask_byte]) * n, "little")
    keep = int.from_bytes(bytes([0xFF ^ mask_byte]) * n, "little")
    return ((int.from_bytes(base, "little") & keep) | noise).to_bytes(n, "little")


def script(r, size, lines):
    out = bytearray()
    while len(out) < size:
        out += b"".join(r.choices(lines, k=256))
    return bytes(out[:size])


def bitmap(r, size):
    width = 3 * 1024
    rows, y = [], r.randrange(256)
    while len(rows) * width < size:
        row = bytes((x // 3 + y + (x % 3) * 40) & 0xFF for x in range(width)) if not rows or y % 16 == 0 else rows[-1]
        rows.append(noisy(row, 0x03, r))
        y += 1
    return b"".join(rows)[:size]


def pcm(r, size):
    rate, f1, f2 = 44100, r.uniform(200, 900), r.uniform(1000, 3000)
    second = b"".join(int(9000 * math.sin(2 * math.pi * f1 * t / rate) + 4000 * math.sin(2 * math.pi * f2 * t / rate))
                      .to_bytes(2, "little", signed=True) * 2 for t in range(rate // 10))
    out = bytearray()
    while len(out) < size:
        out += noisy(second, 0x0F, r)
    return bytes(out[:size])


def write_corpus(folder, mib):
    r = random.Random(1303)
    words = [bytes([r.randrange(0x88, 0x9F), r.randrange(0x40, 0xFC), r.randrange(0x88, 0x9F), r.randrange(0x40, 0xFC)])
             for _ in range(600)]
    words += [("%s" % w).encode() for w in ("scene", "heroine", "choice", "flag", "voice", "bgm", "wait", "@")]
    lines = [b"\x81\x75" + b"".join(r.choices(words, k=r.randint(4, 14))) + b"\x81\x76\r\n" for _ in range(3000)]
    ship = os.path.join(folder, "ship", "Archive")
    os.makedirs(ship, exist_ok=True)
    size = (mib << 20) // ARCHIVES
    for a in range(ARCHIVES):
        parts, total, n = [], 0, 0
        while total < size:
            length = min(size - total, r.randint(64 << 10, 1 << 20))
            kind = r.choices([k for k, _ in MIX], weights=[w for _, w in MIX])[0]
            body = {"media": lambda: r.randbytes(length), "script": lambda: script(r, length, lines),
                    "bitmap": lambda: bitmap(r, length), "pcm": lambda: pcm(r, length)}[kind]()
            header = b"FILE%06d%010d" % (n, length)
            parts.append(header + body)
            total += len(header) + length
            n += 1
        with open(os.path.join(ship, "data0%d.arc" % (1200 + 100 * a)), "wb") as f:
            f.write(b"".join(parts))


def compressed_size(command, path):
    with open(path, "rb") as f:
        return len(subprocess.run(command, stdin=f, capture_output=True, check=True).stdout)


def references(folder):
    files = sorted(os.path.join(root, n) for root, _, names in os.walk(folder) for n in names)
    with ThreadPoolExecutor(2) as pool:
        zstd = sum(pool.map(lambda p: compressed_size(["zstd", "-19", "-c", "-q"], p), files))
        xz = sum(pool.map(lambda p: compressed_size(["xz", "-9", "-c"], p), files))
    print("zstd %d xz %d" % (zstd, xz))


if sys.argv[1] == "--corpus":
    write_corpus(sys.argv[2], int(sys.argv[3]))
elif sys.argv[1] == "--references":
    references(sys.argv[2])
