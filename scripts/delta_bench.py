#!/usr/bin/env python3
"""The delta codec's benchmark (figures only, never pass/fail): a generated corpus of game-like archives
(inner files of 64 KiB to 1 MiB, most of them incompressible) and their next version, about 2 % of the inner
files replaced by longer ones (so later bytes shift) and a few bytes changed elsewhere. For the whole corpus,
side by side in one run: our delta size against xdelta3 -9 -S none's and xdelta3 -S none's; encode time
against each; apply time against cp of the target and against xdelta3 -d; the peak resident memory (VmHWM)
of our encoder and decoder on the largest archive. Each time is the best of three.
    delta_bench.py MKUPDATE WORK_DIR [CORPUS_MIB...]      (default 256)
    delta_bench.py --corpus FOLDER MIB    writes such a corpus as FOLDER/base/Archive (the installed version)
                                          and FOLDER/ship/Archive (the next, two of its eight archives
                                          unchanged), for the delta package's benchmark"""
import os
import random
import shutil
import subprocess
import sys
import time

ARCHIVES = 8


def make_archive(r, size):
    """Inner files, each behind a small header naming it."""
    parts, total, n = [], 0, 0
    while total < size:
        length = min(size - total, r.randint(64 << 10, 1 << 20))
        header = b"FILE%06d%010d" % (n, length)
        parts.append((header, os.urandom(length)))
        total += len(header) + length
        n += 1
    return parts


def next_version(r, parts):
    out = []
    for header, body in parts:
        if r.random() < 0.02:  # replaced by a longer one
            body = os.urandom(len(body) + r.randint(len(body) // 10, len(body) // 2))
            header = header[:10] + b"%010d" % len(body)
        out.append((header, body))
    data = bytearray(b"".join(h + b for h, b in out))
    for _ in range(8):  # a few bytes changed elsewhere
        at = r.randrange(len(data))
        data[at] ^= 0xFF
    return bytes(data)


# The delta package's corpus leaves these archives as they were, as a real update leaves most of a game's
# archives: the builder ships nothing for them, the package of whole files ships them all.
UNCHANGED = (2, 5)


def write_corpus(folder, mib):
    r = random.Random(mib)
    for sub in ("base", "ship"):
        os.makedirs(os.path.join(folder, sub, "Archive"), exist_ok=True)
    for i in range(ARCHIVES):
        parts = make_archive(r, (mib << 20) // ARCHIVES)
        base = b"".join(h + b for h, b in parts)
        with open(os.path.join(folder, "base", "Archive", "data0%d.arc" % (1200 + i)), "wb") as f:
            f.write(base)
        with open(os.path.join(folder, "ship", "Archive", "data0%d.arc" % (1200 + i)), "wb") as f:
            f.write(base if i in UNCHANGED else next_version(r, parts))


if sys.argv[1] == "--corpus":
    write_corpus(sys.argv[2], int(sys.argv[3]))
    sys.exit(0)
mkupdate, work = sys.argv[1], sys.argv[2]
sizes = [int(s) for s in sys.argv[3:]] or [256]


def run(command):
    """Seconds and peak resident KiB (the program's own VmHWM, through GNU time) of one run."""
    report = os.path.join(work, "time.out")
    start = time.monotonic()
    if subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        sys.exit("failed: " + " ".join(command))
    seconds = time.monotonic() - start
    with open(report) as f:
        return seconds, int(f.read().split()[-1])


def best(commands):
    """The best of three of running every command in turn, and the largest peak of any."""
    times, peak = [], 0
    for _ in range(3):
        total = 0.0
        for c in commands:
            seconds, kib = run(c)
            total += seconds
            peak = max(peak, kib)
        times.append(total)
    return min(times), peak


def total_size(paths):
    return sum(os.path.getsize(p) for p in paths)


print("delta codec: %d archives, inner files of 64 KiB-1 MiB, about 2 %% replaced by longer ones, a few bytes "
      "changed elsewhere" % ARCHIVES)
print("%-9s %-22s %10s %8s %10s %8s %10s %9s" % ("corpus", "", "delta", "vs ours", "encode (s)", "vs ours",
                                                 "apply (s)", "peak"))
for mib in sizes:
    folder = os.path.join(work, "delta%d" % mib)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    r = random.Random(mib)
    bases, news = [], []
    for i in range(ARCHIVES):
        parts = make_archive(r, (mib << 20) // ARCHIVES)
        base, new = os.path.join(folder, "data%d.arc" % i), os.path.join(folder, "data%d.new" % i)
        with open(base, "wb") as f:
            f.write(b"".join(h + b for h, b in parts))
        with open(new, "wb") as f:
            f.write(next_version(r, parts))
        bases.append(base)
        news.append(new)
    pairs = list(zip(bases, news))
    tools = [("ours (mkupdate delta)", lambda b, n, o: [mkupdate, "delta", b, n, "--output", o],
              lambda b, d, o: [mkupdate, "apply", b, d, "--output", o], ".ours"),
             ("xdelta3 -9 -S none", lambda b, n, o: ["xdelta3", "-e", "-f", "-9", "-S", "none", "-s", b, n, o],
              lambda b, d, o: ["xdelta3", "-d", "-f", "-s", b, d, o], ".x9"),
             ("xdelta3 -S none", lambda b, n, o: ["xdelta3", "-e", "-f", "-S", "none", "-s", b, n, o],
              lambda b, d, o: ["xdelta3", "-d", "-f", "-s", b, d, o], ".x")]
    rows = []
    for name, encode, decode, suffix in tools:
        encodeTime, encodePeak = best([encode(b, n, n + suffix) for b, n in pairs])
        applyTime, applyPeak = best([decode(b, n + suffix, n + suffix + ".out") for b, n in pairs])
        for b, n in pairs:
            with open(n, "rb") as f1, open(n + suffix + ".out", "rb") as f2:
                if f1.read() != f2.read():
                    sys.exit("%s: the applied delta differs from the target" % name)
        rows.append((name, total_size([n + suffix for _, n in pairs]), encodeTime, applyTime, encodePeak, applyPeak))
    cpTime, _ = best([["cp", n, n + ".cp"] for _, n in pairs])
    # mkupdate apply forces its output to the disk before it moves it into place, as the updater will.
    syncTime, _ = best([["sh", "-c", 'cp "$1" "$2" && sync "$2"', "cp", n, n + ".cp"] for _, n in pairs])
    ours = rows[0]
    for name, size, encodeTime, applyTime, encodePeak, applyPeak in rows:
        print("%-9s %-22s %10d %7.2fx %10.2f %7.2fx %10.2f   encode %d MiB, apply %d MiB" % (
            "%d MiB" % mib, name, size, size / ours[1], encodeTime, encodeTime / ours[2], applyTime,
            encodePeak >> 10, applyPeak >> 10))
    print("%-9s %-22s %10s %8s %10s %8s %10.2f   ours applies in %.2fx cp, %.2fx xdelta3 -d" % (
        "%d MiB" % mib, "cp of the targets", "", "", "", "", cpTime, ours[3] / cpTime, ours[3] / rows[1][3]))
    print("%-9s %-22s %10s %8s %10s %8s %10.2f   ours applies in %.2fx cp, then sync" % (
        "%d MiB" % mib, "cp, then sync", "", "", "", "", syncTime, ours[3] / syncTime))
    print("%-9s delta of ours: %.2f %% of the targets' %d bytes" % ("%d MiB" % mib, 100.0 * ours[1] / total_size(news),
                                                                   total_size(news)))
    shutil.rmtree(folder, ignore_errors=True)
