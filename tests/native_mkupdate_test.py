#!/usr/bin/env python3
"""The native mkupdate against mkupdate.exe under Wine, given the same arguments in the same folder: the same
exit codes, the same output (Windows' CR LF line ends aside) and, for build, the same bytes. Cases: the
sample package, the builder's hostile-name table and its other refusals, names whose code page 932 forms are
tricky, and plan on an installation whose names differ from the package's in case and separator.
    native_mkupdate_test.py BUILD_DIR NATIVE_BUILD_DIR"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

import wine_tool
from test_files import version_list, write

build, native = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
failures = []
runs = 0


def run(command, cwd, silent_ok=None):
    code, out, err = wine_tool.run(command, cwd, silent_ok) if command[0].endswith("wine-run") else (
        lambda p: (p.returncode, p.stdout, p.stderr))(subprocess.run(command, cwd=cwd, capture_output=True))
    return code, out.replace(b"\r\n", b"\n"), err.replace(b"\r\n", b"\n")


def once(command, cwd, args, output, silent_ok=None):
    """One program's answer and, when `output` names a file, what it wrote there."""
    if output and os.path.exists(os.path.join(cwd, output)):
        os.remove(os.path.join(cwd, output))
    answer = run(command + list(args), cwd, silent_ok)
    path = os.path.join(cwd, output) if output else None
    return answer, open(path, "rb").read() if path and os.path.exists(path) else None


def both(cwd, *args, output=None):
    """Runs both programs; compares their answers and, when `output` names a file, what each wrote there."""
    global runs
    runs += 1
    windows = [os.path.join(build, "wine-run"), os.path.join(build, "mkupdate.exe")]
    native_answer, native_file = once([os.path.join(native, "mkupdate")], cwd, args, output)
    # Wine's silent exit 1 is asked again by the one rule (wine_tool), unless the native program said the same.
    windows_answer, windows_file = once(windows, cwd, args, output,
                                        silent_ok=lambda: native_answer == (1, b"", b"") and native_file is None)
    # Any other difference counts at once.
    what = " ".join(args)[:160]
    if windows_answer != native_answer:
        (wc, wo, we), (nc, no, ne) = windows_answer, native_answer
        failures.append("%s:\n  windows: %d %r %r\n  native:  %d %r %r" % (what, wc, wo[:400], we[:400], nc, no[:400],
                                                                          ne[:400]))
    if output and windows_file != native_file:
        failures.append("%s: the written files differ (%s bytes against %s)" % (
            what, windows_file and len(windows_file), native_file and len(native_file)))
    return native_answer, native_file


with tempfile.TemporaryDirectory(dir=build, prefix="native-") as work:
    rng = random.Random(7)
    shutil.copy(os.path.join(build, "updater.exe"), os.path.join(work, "image.exe"))
    sizes = [0x17F9, 0x24F5, 0x41240, 0x21339, 0x1A166, 0x8635, 0x23D92]
    for i, size in enumerate(sizes):
        write(os.path.join(work, "ship", "Archive", "data0%d.arc" % (1200 + 10 * i)), rng.randbytes(size))
    write(os.path.join(work, "ship", "Archive", "追加シナリオ.arc"), rng.randbytes(3000))
    write(os.path.join(work, "ship", "Sound", "bgm", "ｵｰﾌﾟﾆﾝｸﾞ～.ogg"), rng.randbytes(5000))
    write(os.path.join(work, "a.arc"), b"a")
    title = "「硝子の羽を数えて」 Updater ver 1.01"

    # The sample package, then everything that reads it.
    (code, _, err), sample = both(work, "build", "--quiet", "--image", "image.exe", "--title", title, "--files", "ship",
                                  "--output", "sample.exe", output="sample.exe")
    if code != 0 or not sample:
        failures.append("the sample package was not built: %r" % err)
    for args in (["list", "sample.exe"], ["list", "sample.exe", "--json"], ["verify", "sample.exe"],
                 ["verify", "sample.exe", "--json"], ["--help"], ["build", "--help"], ["plan", "--help"],
                 ["--version"], [], ["frobnicate"], ["build", "--image", "x"], ["list", "missing.exe"],
                 ["list", "image.exe"], ["verify", "a.arc", "--json"], ["plan", "sample.exe", "--game", "nowhere"]):
        both(work, *args)

    # The hostile-name table and the other refusals: the same first problem, nothing written.
    hostile = ["..\\x.arc", "..\\..\\x.arc", "C:\\x.arc", "C:x.arc", "x.arc:stream", "a:b.arc", "\\x.arc", "/x.arc",
               "CON", "NUL.arc", "COM1", "LPT1.txt", "Archive\\..\\..\\x.arc", "\\\\server\\share\\x.arc",
               "kpx.HVL", "n" * 96, "d" * 200 + "\\" + "n" * 50, "café.arc", "x.arc.", "x.arc ", "ⅰ\U0001F600.arc",
               "¥.arc", "Archive\\x.arc.kept"]
    # Names whose code page 932 forms need care: NEC and IBM rows, characters with two or three forms,
    # half-width katakana, the wave dash and its full-width twin, a user-defined character.
    tricky = ["ⅰⅱⅲ.arc", "①②.arc", "∵∪∩.arc", "￢￤＇＂.arc", "ｱｲｳ.arc", "～〜.arc", "―‐.arc", "纊褜鍈.arc",
              "\ue000.arc", "＼￥.arc", "∑√⊥∠∟⊿.arc", "№℡㈱.arc"]
    for target in hostile + tricky:
        both(work, "build", "--quiet", "--image", "image.exe", "--title", title, "--file", "a.arc=" + target,
             "--output", "one.exe", output="one.exe")
    both(work, "build", "--quiet", "--image", "image.exe", "--title", title, "--files", "ship", "--file",
         "a.arc=Archive/DATA01200.ARC", "--output", "twice.exe", output="twice.exe")
    for bad_title in ["T" * 1024, "あ" * 512, "café", "ⅰ", "", "T" * 1023]:
        both(work, "build", "--quiet", "--image", "image.exe", "--title", bad_title, "--files", "ship", "--output",
             "title.exe", output="title.exe")

    # plan on an installation spelled in other cases, with "/" in the installed list's names.
    game = os.path.join(work, "game")
    write(os.path.join(game, "ARCHIVE", "Data01200.ARC"), b"old bytes")
    write(os.path.join(game, "archive", "data01300.arc"), sample[1000:2000] if sample else b"")
    write(os.path.join(game, "KPX.HVL"), version_list([("Archive\\DATA01200.arc", 1), ("archive/Gone.arc", 2),
                                                       ("ARCHIVE\\data01300.arc", 3)]))
    write(os.path.join(game, "Uninst.LST"), "Archive\\Data01200.arc\r\n$folder\r\nｹﾞｰﾑ.exe\r\n".encode("cp932"))
    for args in (["plan", "sample.exe", "--game", "game"], ["plan", "sample.exe", "--game", "game", "--json"]):
        both(work, *args)
    os.chmod(os.path.join(game, "Uninst.LST"), 0o444)
    both(work, "plan", "sample.exe", "--game", "game", "--json")

    # Delta packages: against two earlier versions, one folder spelled in other cases; a file one base lacks,
    # a file unrelated to its base (no delta saves 10 %), a file unchanged in both; then --keep-full.
    data = {name: rng.randbytes(200000) for name in ("a.arc", "b.arc", "c.arc", "d.arc")}
    for name, content in data.items():
        write(os.path.join(work, "v3", "Archive", name), content[:50000] + b"new" * 200 + content[50000:])
    write(os.path.join(work, "v3", "Archive", "same.arc"), b"unchanged" * 100)
    for name in ("a.arc", "b.arc", "c.arc"):
        write(os.path.join(work, "v2", "Archive", name), data[name])
        write(os.path.join(work, "v1", "ARCHIVE", name.upper()), data[name][:190000])
    write(os.path.join(work, "v2", "Archive", "d.arc"), data["d.arc"])
    write(os.path.join(work, "v2", "Archive", "c.arc"), rng.randbytes(200000))
    write(os.path.join(work, "v1", "ARCHIVE", "SAME.ARC"), b"unchanged" * 100)
    write(os.path.join(work, "v2", "Archive", "same.arc"), b"unchanged" * 100)
    for folder in ("v1", "v2"):
        write(os.path.join(work, folder, "uninst.lst"), b"$folder\r\n")
    (code, _, err), delta = both(work, "build", "--quiet", "--image", "image.exe", "--title", title, "--files", "v3",
                                 "--base", "v2", "--base", "v1", "--output", "delta.exe", output="delta.exe")
    both(work, "build", "--quiet", "--image", "image.exe", "--title", title, "--files", "v3", "--base", "v2",
         "--base", "v1", "--keep-full", "--output", "full.exe", output="full.exe")
    for args in (["list", "delta.exe", "--json"], ["list", "full.exe"], ["verify", "delta.exe", "--base", "v1"],
                 ["verify", "delta.exe", "--json", "--base", "v2", "--base", "v1"], ["plan", "delta.exe", "--game", "v1"],
                 ["plan", "delta.exe", "--game", "v2", "--json"]):
        both(work, *args)
    listed = json.loads(run([os.path.join(native, "mkupdate"), "list", "delta.exe", "--json"], work)[1]) if delta else {}
    entries = sorted(e["name"] for e in listed.get("entries", []))
    shipped = {(d["target"], d["base_size"]) for d in listed.get("deltas", [])}
    # a: deltas from both; b: one delta (the bases agree on nothing but v1's cut, so two); c: v1's delta, the
    # whole file for v2's unrelated one; d: v1 lacks it, so whole besides v2's delta; same: unchanged in both
    # bases, so no part of the update (no entry, no record).
    expected_entries = ["KPX.dlt", "KPX.dlt.000", "KPX.dlt.001", "KPX.dlt.002", "KPX.dlt.003", "KPX.dlt.004",
                        "KPX.dlt.005", "KPX.hvl", "c.arc", "d.arc"]
    records = [r["name"] for r in (listed.get("version_list") or {}).get("records", [])]
    if "Archive\\same.arc" in records:
        failures.append("delta package: the unchanged file has a version record: %r" % records)
    expected_deltas = {("Archive\\a.arc", 200000), ("Archive\\a.arc", 190000), ("Archive\\b.arc", 200000),
                       ("Archive\\b.arc", 190000), ("Archive\\c.arc", 190000), ("Archive\\d.arc", 200000)}
    if code != 0 or entries != expected_entries or shipped != expected_deltas:
        failures.append("delta package: %d %r, entries %r, deltas %r" % (code, err, entries, sorted(shipped)))
    full_entries = sorted(e["name"] for e in json.loads(run([os.path.join(native, "mkupdate"), "list", "full.exe", "--json"],
                                                            work)[1]).get("entries", []))
    if [e for e in full_entries if not e.startswith("KPX.dlt")] != ["KPX.hvl", "a.arc", "b.arc", "c.arc", "d.arc", "same.arc"]:
        failures.append("--keep-full: entries %r" % full_entries)
    for folder, verdict in (("v1", "patch"), ("v2", "patch")):
        planned = json.loads(run([os.path.join(native, "mkupdate"), "plan", "delta.exe", "--game", folder, "--json"], work)[1])
        actions = {t["target"]: t["action"] for t in planned.get("targets", [])}
        if actions.get("Archive\\a.arc") != verdict or planned["result"] != 0:
            failures.append("plan on %s: %r" % (folder, planned))

    # Compressed packages: text-like files shrink and are stored as zstd frames, random and tiny ones stay as
    # they are; with --base the deltas are compressed too. Both builders write the same bytes, at the default
    # level and at level 3.
    text = "".join("「台詞%05d」 scene %d: line of a script that repeats itself\n" % (i, i % 37) for i in range(4000))
    write(os.path.join(work, "packed", "Script", "シナリオ.txt"), text.encode("utf-8"))
    write(os.path.join(work, "packed", "Archive", "bitmap.arc"), bytes(range(256)) * 3000 + rng.randbytes(4000))
    write(os.path.join(work, "packed", "Archive", "media.arc"), rng.randbytes(150000))
    write(os.path.join(work, "packed", "tiny.txt"), b"x")
    write(os.path.join(work, "packed", "empty.dat"), b"")
    for name in ("a.arc", "b.arc", "c.arc", "d.arc"):
        write(os.path.join(work, "v3z", "Archive", name), open(os.path.join(work, "v3", "Archive", name), "rb").read())
    write(os.path.join(work, "v3z", "Archive", "script.arc"), text.encode("utf-8"))
    # The earlier script differs in scattered lines: its delta adds text, which compresses.
    write(os.path.join(work, "v2", "Archive", "script.arc"), text.replace("scene 5:", "scene five:").encode("utf-8"))
    compressed = {}
    for args, output in ((["--files", "packed"], "packed.exe"), (["--files", "packed", "--level", "3"], "packed3.exe"),
                         (["--files", "v3z", "--base", "v2", "--base", "v1"], "packed_delta.exe"),
                         (["--file", "packed/Script/シナリオ.txt=Script/シナリオ.txt"], "single.exe")):
        (code, _, err), compressed[output] = both(work, "build", "--quiet", "--image", "image.exe", "--title", title,
                                                  "--compress", *args, "--output", output, output=output)
        if code != 0:
            failures.append("compressed build %s: %d %r" % (output, code, err))
        for more in (["list", output], ["list", output, "--json"]):
            both(work, *more)
        (code, out, _), _ = both(work, "verify", output, "--json")
        count = json.loads(out or b"{}").get("compressed", 0)
        if code != 0 or count == 0:
            failures.append("verify %s: %d %r" % (output, code, out[:300]))
        # The text says the same count, its noun agreeing with it.
        said = ("1 entry" if count == 1 else "%d entries" % count) + " stored compressed"
        (code, out, _), _ = both(work, "verify", output)
        if said.encode() not in out:
            failures.append("verify %s: %r not in %r" % (output, said, out[-300:]))
    # One of each: the nouns agree with the counts.
    for command, said in ((["verify", "single.exe"], b"1 version record, every checksum matches"),
                          (["list", "single.exe"], b"compressed: 1 entry (zstd)"),
                          (["build", "--image", "image.exe", "--title", title, "--file", "packed/tiny.txt=tiny.txt",
                            "--output", "one.exe"], b"(1 file)")):
        (code, out, _), _ = both(work, *command)
        if code != 0 or said not in out:
            failures.append("%s: %r not in %r" % (command[0], said, out[-300:]))
    forms = {e["name"]: e["form"] for e in json.loads(run([os.path.join(native, "mkupdate"), "list", "packed.exe",
                                                           "--json"], work)[1]).get("entries", [])}
    if forms != {"シナリオ.txt": "zstd", "bitmap.arc": "zstd", "media.arc": "stored", "tiny.txt": "stored",
                 "empty.dat": "stored", "KPX.hvl": "stored", "KPX.cmp": "stored"}:
        failures.append("compressed package: forms %r" % forms)
    if compressed["packed.exe"] and compressed["packed3.exe"] and len(compressed["packed.exe"]) >= len(compressed["packed3.exe"]):
        failures.append("level 19 is not smaller than level 3: %d, %d" % (len(compressed["packed.exe"]), len(compressed["packed3.exe"])))
    listed = json.loads(run([os.path.join(native, "mkupdate"), "list", "packed_delta.exe", "--json"], work)[1])
    zstd_deltas = [c["entry"] for c in listed.get("compressed", []) if c["entry"].startswith("KPX.dlt.")]
    if not zstd_deltas or "script.arc" not in [c["entry"] for c in listed.get("compressed", [])]:
        failures.append("compressed delta package: compressed %r" % listed.get("compressed"))
    for folder in ("v1", "v2"):
        (code, out, err), _ = both(work, "verify", "packed_delta.exe", "--base", folder)
        if code != 0 or b"applied" not in out:
            failures.append("verify --base %s of the compressed delta package: %d %r %r" % (folder, code, out, err))
    # --level without --compress, and levels out of range, are usage errors: nothing is written.
    for args in (["--level", "3"], ["--compress", "--level", "0"], ["--compress", "--level", "20"],
                 ["--compress", "--level", "x"]):
        (code, out, err), written = both(work, "build", "--quiet", "--image", "image.exe", "--title", title, *args,
                                         "--files", "packed", "--output", "badlevel.exe", output="badlevel.exe")
        if code != 2 or written is not None or not err.startswith(b"mkupdate: --level"):
            failures.append("build %s: %d %r, %s" % (" ".join(args), code, err, "written" if written else "nothing written"))

    # Without --game, only Windows has a registry to ask.
    code, out, err = run([os.path.join(native, "mkupdate"), "plan", "sample.exe"], work)
    if code != 2 or out or err.count(b"\n") != 1 or b"--game" not in err:
        failures.append("plan without --game on Linux: %d %r %r" % (code, out, err))

failures += wine_tool.failures()
print("native mkupdate: %d commands compared with mkupdate.exe (%d asked of Wine again), %d differences" % (
    runs, len(wine_tool.retried), len(failures)))
for f in failures:
    print("FAIL " + f)
sys.exit(1 if failures else 0)
