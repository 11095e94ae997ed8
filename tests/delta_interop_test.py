#!/usr/bin/env python3
"""Our VCDIFF against Debian's xdelta3, both ways, over a table of file pairs chosen to reach every
instruction: xdelta3's deltas (-S none; with -n, -A, levels -1 and -9, small -W and -B that force many
windows and far copies) applied by `mkupdate apply`, ours applied by `xdelta3 -d`; the refusals, each exit 1
with one line and nothing left behind; with a Windows build, mkupdate.exe under Wine gives the same delta
bytes and applies the same deltas.
    delta_interop_test.py NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]"""
import os
import random
import subprocess
import sys
import tempfile

import wine_tool

native = os.path.join(os.path.abspath(sys.argv[1]), "mkupdate")
windows = None
if len(sys.argv) > 2:
    build = os.path.abspath(sys.argv[2])
    windows = [os.path.join(build, "wine-run"), os.path.join(build, "mkupdate.exe")]
failures, checks = [], 0


def run(command, cwd):
    if windows and command[0] == windows[0]:
        code, out, err = wine_tool.run(command, cwd)  # Wine's silent exit asked again by the one rule
    else:
        p = subprocess.run(command, cwd=cwd, capture_output=True)
        code, out, err = p.returncode, p.stdout, p.stderr
    return code, (out + err).replace(b"\r\n", b"\n")


def check(ok, what):
    global checks
    checks += 1
    if not ok:
        failures.append(what)


def pairs():
    r = random.Random(3284)
    noise = lambda n: bytes(r.getrandbits(8) for _ in range(n))
    base = noise(600000)
    moved = base[400000:500000] + base[:400000] + base[500000:]
    runs = base[:1000] + b"\0" * 200000 + base[1000:5000] + b"\xFF" * 3000
    several = noise(3 << 20)
    return [("empty base", b"", noise(20000)), ("empty target", base, b""), ("identical", base, base),
            ("unrelated", base, noise(50000)),
            ("inner file replaced by a longer one", base, base[:200000] + noise(30000) + base[210000:]),
            ("bytes changed in place", base, base[:300000] + b"XYZ" + base[300003:]),
            ("appended", base, base + noise(4000)), ("truncated", base, base[:333333]),
            ("moved block", base, moved), ("long runs", base, runs),
            ("several windows", several, several[:1000000] + noise(100) + several[1000000:] + several[:5 << 20])]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


VARIANTS = [["-S", "none"], ["-S", "none", "-n"], ["-S", "none", "-A"], ["-1", "-S", "none"], ["-9", "-S", "none"],
            ["-S", "none", "-W", "16384", "-B", "524288"]]

with tempfile.TemporaryDirectory() as work:
    for name, base, new in pairs():
        write(os.path.join(work, "base"), base)
        write(os.path.join(work, "new"), new)
        # Ours, applied by xdelta3 and by ourselves; the Windows build writes the same bytes.
        code, out = run([native, "delta", "base", "new", "--output", "ours.vcd"], work)
        check(code == 0, "%s: mkupdate delta: %d %r" % (name, code, out))
        code, out = run(["xdelta3", "-d", "-f", "-s", "base", "ours.vcd", "x.out"], work)
        check(code == 0 and read(os.path.join(work, "x.out")) == new, "%s: xdelta3 -d of ours: %d %r" % (name, code, out))
        if windows:
            code, out = run(windows + ["delta", "base", "new", "--output", "win.vcd"], work)
            check(code == 0 and read(os.path.join(work, "win.vcd")) == read(os.path.join(work, "ours.vcd")),
                  "%s: mkupdate.exe delta differs from the native one: %d %r" % (name, code, out))
        # xdelta3's, in every variant, applied by us.
        for variant in VARIANTS:
            code, out = run(["xdelta3", "-e", "-f"] + variant + ["-s", "base", "new", "theirs.vcd"], work)
            check(code == 0, "%s: xdelta3 -e %s: %d %r" % (name, " ".join(variant), code, out))
            for program in [[native]] + ([windows] if windows and variant == VARIANTS[-1] else []):
                code, out = run(program + ["apply", "base", "theirs.vcd", "--output", "ours.out"], work)
                check(code == 0 and read(os.path.join(work, "ours.out")) == new,
                      "%s: %s apply of xdelta3 %s: %d %r" % (name, os.path.basename(program[-1]), " ".join(variant),
                                                             code, out))

    # The refusals: exit 1, one line naming the problem, nothing written.
    r = random.Random(7)
    base = bytes(r.getrandbits(8) for _ in range(200000))
    new = base[:1000] + b"changed" + base[1000:]
    write(os.path.join(work, "base"), base)
    write(os.path.join(work, "new"), new)
    run(["xdelta3", "-e", "-f", "-s", "base", "new", "lzma.vcd"], work)
    run(["xdelta3", "-e", "-f", "-S", "none", "-s", "base", "new", "plain.vcd"], work)
    plain = read(os.path.join(work, "plain.vcd"))
    write(os.path.join(work, "cut.vcd"), plain[:-1])
    flipped = bytearray(plain)
    flipped[len(flipped) // 2] ^= 0x40
    write(os.path.join(work, "flipped.vcd"), bytes(flipped))
    write(os.path.join(work, "other"), bytes(reversed(base)))
    write(os.path.join(work, "short"), base[:100])
    refusals = [("lzma.vcd", "base", b"-S none"), ("cut.vcd", "base", b"damaged"), ("flipped.vcd", "base", b""),
                ("plain.vcd", "other", b"does not fit"), ("plain.vcd", "short", b"past the end of the base"),
                ("base", "base", b"not a VCDIFF")]
    for delta, against, named in refusals:
        for program in [[native]] + ([windows] if windows else []):
            code, out = run(program + ["apply", against, delta, "--output", "refused.out"], work)
            left = [f for f in os.listdir(work) if f.startswith("refused.out")]
            check(code == 1 and out.count(b"\n") == 1 and named in out and not left,
                  "%s against %s: %d %r, left %r" % (delta, against, code, out, left))
    for args, what in [(["apply", "base", "missing.vcd", "--output", "x"], "a missing delta"),
                       (["delta", "base", "--output", "x"], "one file"), (["apply", "base", "plain.vcd"], "no --output")]:
        code, out = run([native] + args, work)
        check(code == 2, "%s: %d %r" % (what, code, out))

failures += wine_tool.failures()
print("delta interop: %d checks against xdelta3%s (%d asked of Wine again), %d failed" % (
    checks, " and mkupdate.exe" if windows else "", len(wine_tool.retried), len(failures)))
for f in failures:
    print("FAIL " + f)
print("%d passed, %d failed" % (checks - len(failures), len(failures)))
sys.exit(1 if failures else 0)
