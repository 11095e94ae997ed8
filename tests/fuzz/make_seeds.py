#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora, small, from the project's own builder and formats: the sample
package, a delta package against an earlier version of it and a compressed one (built by the native
mkupdate), its delta table, the hostile-name table's packages (which the builder refuses, so
they are put together here byte by byte as the fault campaign does), a few damaged variants of each, version
lists, installation lists, title blocks, the updater's PE headers, and zstd frames written by Debian's zstd
command (each behind its content size, 8 bytes little-endian), whole, cut and followed by more.
    make_seeds.py NATIVE_BUILD_DIR WINDOWS_BUILD_DIR OUT_DIR     (OUT_DIR: tests/fuzz/corpus)"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

native, windows, out = sys.argv[1:4]
PAYLOAD = 0xA0400


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def version_list(records, v2=True):
    width = 256 if v2 else 64
    body = b"".join(name.ljust(width - 8, b"\0")[:width - 8] + struct.pack("<Q", value) for name, value in records)
    return (b"KHV_V2__" if v2 else b"KHV_____") + struct.pack("<II", 0, len(records)) + body


def archive(entries, old=False):
    """A payload: header, index, data; entries are (stored name, bytes)."""
    width, record = (16, 32) if old else (96, 128)
    index, data = b"", b""
    for name, content in entries:
        index += name.ljust(width, b"\0")[:width] + struct.pack("<II", len(data), len(content))
        data += content
    return (b"PackFile    " if old else b"VORLAN ARC20") + struct.pack("<I", len(entries)) + index + data


def damaged(payload, rng):
    """The campaign's kinds of damage: a flipped byte in the header, index or list, a cut file."""
    variants = [payload[:len(payload) // 2], payload[:17]]
    for _ in range(3):
        b = bytearray(payload)
        at = rng.randrange(min(len(b), 16 + 128 * 3))
        b[at] ^= 1 << rng.randrange(8)
        variants.append(bytes(b))
    return variants


rng = random.Random(11)
with tempfile.TemporaryDirectory() as work:
    ship = os.path.join(work, "ship")
    for rel, size in (("Archive/data01200.arc", 300), ("Archive/data01300.arc", 200), ("Archive/追加シナリオ.arc", 100),
                      ("Sound/ｵｰﾌﾟﾆﾝｸﾞ.ogg", 50)):
        os.makedirs(os.path.dirname(os.path.join(ship, rel)), exist_ok=True)
        with open(os.path.join(ship, rel), "wb") as f:
            f.write(rng.randbytes(size))
    updater = os.path.join(work, "sample.exe")
    subprocess.run([os.path.join(native, "mkupdate"), "build", "--quiet", "--image",
                    os.path.join(windows, "updater.exe"), "--title", "「硝子の羽を数えて」 Updater ver 1.01", "--files",
                    ship, "--output", updater], check=True)
    with open(updater, "rb") as f:
        whole = f.read()
    # The earlier version: the same files, each with a few bytes changed; the sample ships as deltas against it.
    base = os.path.join(work, "base")
    for root, _, files in os.walk(ship):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), ship)
            with open(os.path.join(root, name), "rb") as f:
                data = bytearray(f.read())
            data[len(data) // 2] ^= 0x55
            os.makedirs(os.path.dirname(os.path.join(base, rel)), exist_ok=True)
            with open(os.path.join(base, rel), "wb") as f:
                f.write(data)
    subprocess.run([os.path.join(native, "mkupdate"), "build", "--quiet", "--image",
                    os.path.join(windows, "updater.exe"), "--title", "delta", "--files", ship, "--base", base,
                    "--output", updater], check=True)
    with open(updater, "rb") as f:
        delta_package = f.read()[PAYLOAD:]
    # A compressed package: a script and a bitmap-like file as zstd frames beside a random file stored as it
    # is, the script shipped as a compressed delta against its earlier version too (which the bitmap lacks).
    text = "".join("scene %d: a line of the script, said again\r\n" % (i % 23) for i in range(600)).encode()
    for folder, files in (("zship", {"script.txt": text, "bitmap.bin": bytes(range(256)) * 32, "media.bin": random.Random(11).randbytes(2000)}),
                          ("zbase", {"script.txt": text.replace(b"scene 7:", b"scene seven:")})):
        for name, data in files.items():
            os.makedirs(os.path.join(work, folder), exist_ok=True)
            with open(os.path.join(work, folder, name), "wb") as f:
                f.write(data)
    subprocess.run([os.path.join(native, "mkupdate"), "build", "--quiet", "--image",
                    os.path.join(windows, "updater.exe"), "--title", "compressed", "--files", os.path.join(work, "zship"),
                    "--base", os.path.join(work, "zbase"), "--compress", "--output", updater], check=True)
    with open(updater, "rb") as f:
        compressed_package = f.read()[PAYLOAD:]
sample = whole[PAYLOAD:]
put("package", "sample", sample)
put("archive_index", "sample", sample)
put("title_block", "sample", whole[0xA0000:0xA0000 + 1024].rstrip(b"\0") + b"\0")
for i, variant in enumerate(damaged(sample, rng)):
    put("package", "damaged%d" % i, variant)
put("package", "delta_sample", delta_package)
for i, variant in enumerate(damaged(delta_package, rng)):
    put("package", "delta_damaged%d" % i, variant)
put("package", "compressed_sample", compressed_package)
for i, variant in enumerate(damaged(compressed_package, rng)):
    put("package", "compressed_damaged%d" % i, variant)
count = struct.unpack_from("<I", delta_package, 12)[0]
for i in range(count):
    name, offset, size = struct.unpack_from("<96sII", delta_package, 16 + 128 * i)
    if name.rstrip(b"\0") == b"KPX.dlt":
        table = delta_package[16 + 128 * count + offset:16 + 128 * count + offset + size]
        put("delta_table", "sample", table)
        put("delta_table", "empty", table[:8] + b"\0" * 16)
        put("delta_table", "cut", table[:len(table) - 100])

# The hostile-name table: each name as a version record's path, its file-name part as the entry's name.
hostile = [b"..\\x.arc", b"..\\..\\x.arc", b"C:\\x.arc", b"C:x.arc", b"x.arc:stream", b"a:b.arc", b"\\x.arc", b"/x.arc",
           b"CON", b"NUL.arc", b"COM1", b"LPT1.txt", b"Archive\\..\\..\\x.arc", b"\\\\server\\share\\x.arc",
           b"Archive\\x.arc.kept", b"kpx.hvl.new", b"Archive\\X.ARC.tmp"]
for i, name in enumerate(hostile):
    content = b"x" * 10
    checksum = 0  # the checksum is only compared while copying; these fail before
    entry = name.replace(b"/", b"\\").split(b"\\")[-1].split(b":")[-1] or b"x.arc"
    put("package", "hostile%02d" % i, archive([(b"KPX.hvl", version_list([(name, checksum)])), (entry, content)]))
put("package", "old_format", archive([(b"a.arc", b"abc"), (b"kpx.hvl", version_list([(b"a.arc", 1)], False))], old=True))
put("archive_index", "old_format", archive([(b"a.arc", b"abc"), (b"\x83\x51\x81\x5b.arc", b"d")], old=True))

lists = {
    "v2_sjis": version_list([(b"Archive\\data01200.arc", 1), (b"Archive\\\x83\x51\x81\x5b\x83\x80.arc", 2)]),
    "v2_utf8": version_list([(b"Archive\\\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0.arc", 3)]),
    "v1": version_list([(b"a.arc", 4), (b"Archive/b.arc", 5)], v2=False),
}
for name, data in lists.items():
    put("version_list", name, b"\xff" + data)
    put("version_list", name + "_limited", b"\x80" + data)
    put("installed_lists", "kpx_" + name, b"\x00" + data)
for name, text in (("crlf", "Archive\\data01200.arc\r\nkpx.hvl\r\n$folder\r\n".encode()),
                   ("mixed", "Archive\\追加.arc\n".encode() + "ｹﾞｰﾑ.exe\r\n".encode("cp932") + b"  \t$x\n\n"),
                   ("nul", b"a\nb\0c\n")):
    put("installed_lists", "uninst_" + name, b"\x01" + text)

for name, title in (("sjis", "「硝子の羽を数えて」 Updater".encode("cp932")), ("utf8", "更新 ver 1.01".encode()),
                    ("no_nul", b"T" * 1024), ("bad_lead", b"\x81\x0a\xa0\xfd")):
    put("title_block", name, title + (b"\0" if len(title) < 1024 else b""))

with open(os.path.join(windows, "updater.exe"), "rb") as f:
    head = f.read(1024)
put("pe_certificate", "updater", head)
pe = struct.unpack_from("<I", head, 0x3C)[0]
signed = bytearray(head)
struct.pack_into("<II", signed, pe + 24 + 112 + 4 * 8, 0xA0400 + 16, 0x800)  # a table behind the payload
put("pe_certificate", "signed", bytes(signed))
# Compressed entries: frames as `zstd -19 --content-size --check` writes them (the builder writes the same).
with tempfile.TemporaryDirectory() as work:
    words = [b"the ", b"glass ", b"feather ", b"\r\n", b"scene_0042 "]
    for name, content in (("empty", b""), ("byte", b"B"), ("text", b"".join(rng.choice(words) for _ in range(2000))),
                          ("random", rng.randbytes(300)), ("runs", b"\0" * 40000 + b"x" * 3000)):
        source = os.path.join(work, name)
        with open(source, "wb") as f:
            f.write(content)
        frame = subprocess.run(["zstd", "-q", "-19", "--content-size", "--check", "-c", source], check=True,
                               stdout=subprocess.PIPE).stdout
        size = struct.pack("<Q", len(content))
        put("zstd_frame", name, size + frame)
        if name == "text":
            put("zstd_frame", "text_cut", size + frame[:len(frame) // 2])
            put("zstd_frame", "text_twice", size + frame + frame)
# A frame of 1 byte: two empty raw blocks, a raw block of that byte, five empty ones, then a block header
# that claims more than a block may hold. Refused however it is cut; but read in small chunks, the byte comes
# out before the refusal (found by fuzz_zstd_frame).
put("zstd_frame", "damage_behind_the_content",
    struct.pack("<Q", 1) + bytes.fromhex("28b52ffd2401" "000000" "000000" "080000" "00") + bytes(15) + b"\0\0.")
# Content of 256 KiB and 1 byte, which the fuzz target reads only 256 KiB of: an empty raw block, two RLE
# blocks of 128 KiB, then a block of the reserved type, damage a reader sees only when it has those bytes.
put("zstd_frame", "damage_behind_the_read_limit",
    struct.pack("<Q", 256 * 1024 + 1) + bytes.fromhex("28b52ffda4" "01000400" "000000" "02001000" "02001000" "060000")
    + bytes(8))


print("seeds written below " + out)
