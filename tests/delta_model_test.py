#!/usr/bin/env python3
"""`mkupdate plan` and the real updater against tests/delta_model.py, README's rules for one run of the
updater on a delta package of two targets ("Archive\\a.arc", "Archive\\b.arc").

    delta_model_test.py BUILD_DIR [--native-only] [--wine-run PATH] [--jobs N]

What it does:
1. The model on every state it takes: each target one or two deltas, with or without its whole file (16
   packages); per target the installed file (8 states: absent, base1, base2 with two deltas, the target,
   other bytes, a link to base1 outside the folder, a link to the other target's file, unreadable), its .kept
   (absent, base1, base2 with two deltas, the target, other bytes), a .tmp or none, its record (none, base1,
   the target, an unknown checksum, base1 under another spelling, the spelling rotating through six forms);
   "kpx.hvl" present or not (without it every record is none); c.arc's leftovers of another package or none.
   A damaged package (a flipped byte in a delta) is crossed with every installed state of one package (a: two
   deltas, no whole file; b: one delta and its whole file). On every predicted outcome the README's global
   promises are checked (a run ending with 0 leaves the exact targets and their records, a run ending 0 or
   0x80000008 leaves no leftovers beside a judged name, 0x80000008 replaces nothing but puts originals back,
   every put-back file has a true record).
2. `BUILD_DIR/native/mkupdate plan PACKAGE --game FOLDER --json` on real installations (natively: a symbolic
   link is a link; "unreadable" cannot be made as root, so no plan run has it): every state of target a (all
   four of its package forms, with and without kpx.hvl, c.arc's leftovers alternating) beside target b in two
   fixed states (patched from its installed base, where a's .tmp varies too; told early that it does not
   apply), every state of target b without a .tmp beside a patched from its base, a greedy pairwise covering
   array over all twelve dimensions of both targets, the damaged package beside every file, .kept and .tmp of
   a, and one state of every distinct predicted outcome that can be made and that these do not already hold
   (an outcome as plan shows it: result, asked, both actions, the fates of the targets' leftovers, whether
   c.arc's are judged, the version list's contents in order). Compared: plan's verdict, `result`, each
   target's `action` (and a patch's base: the target or its .kept), `version_list` (state; records by name
   and content, the existing ones in their places, the appended ones in any order: an order other than the
   payload's is noted, not counted), and the fields `asked` and `leftovers` when plan prints them (else
   reported as missing, not compared); plan must write nothing. About 4,200 runs, 1-2 minutes on two cores.
3. Unless --native-only, the real updater under Wine (driven by tests/user_driver.exe) on a covering set taken
   from the plan set (the first state that meets each wish): every distinct (result, asked, actions) the plan
   set holds, every fate of a .kept with every decision, every pair of installed file and .kept of each target
   with results 0 and 0x80000008, every record state beside four installed files, stale records, links at
   both targets with every action, c.arc's leftovers with every result, every spelling, no kpx.hvl, the
   damaged package. Compared: the exit code, whether "Install the update?" was asked, the final box's text,
   each target's bytes (a link: still the same link), .kept and .tmp left, c.arc and its leftovers, kpx.hvl's
   records, no other file left, the file a link led to untouched. About 220 runs, about 2 minutes.
   "Unreadable" is not made under Wine either (as root, no mode bit stops a read): the model predicts it,
   nothing runs it.
A self-check makes sure the comparisons can fail: a deliberately wrong prediction must be flagged.
Prints `delta model: S states, P plan runs, U updater runs, D disagreements`, then `N passed, M failed`.
"""
import argparse
import collections
import itertools
import json
import multiprocessing
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import delta_model as M  # noqa: E402
from test_files import version_list, write  # noqa: E402

NAMES = ("a.arc", "b.arc")
BOXES = {M.OK: "Installation complete.", M.DAMAGED: "The installer may be damaged.",
         M.WRITE_FAILED: "Installation could not be completed.",
         M.LISTS_FAILED: "Failed to update the installation info.",
         M.DOES_NOT_APPLY: "This update does not apply to the installed version of the game."}
QUESTION = "Install the update?"
UNKNOWN_CHECKSUM = 0x0123456789ABCDEF
DAMAGED_CONFIG = (M.TargetPackage(2, False), M.TargetPackage(1, True))


# ---------------------------------------------------------------------------------------------------------
# The states.

def target_configs():
    return [M.TargetPackage(d, f) for d in (1, 2) for f in (False, True)]


def target_states(tp, with_list, constructible=False):
    out = []
    for f in M.FILE_STATES:
        if (f == M.BASE2 and tp.deltas == 1) or (constructible and f == M.UNREADABLE):
            continue
        for k in M.KEPT_STATES:
            if k == M.BASE2 and tp.deltas == 1:
                continue
            for tmp in (False, True):
                for r in (M.RECORD_STATES if with_list else (M.R_NONE,)):
                    spelling = M.SPELLINGS[len(out) % len(M.SPELLINGS)] if r == M.R_SPELLED else ""
                    out.append(M.TargetState(f, k, tmp, r, spelling))
    return out


def constructible(state):
    return all(t.file != M.UNREADABLE for t in state.targets)


def describe(pkg, state):
    def one(p, t):
        rec = t.record + ("(%s)" % t.spelling if t.record == M.R_SPELLED else "")
        return "%dd%s{file=%s kept=%s tmp=%d rec=%s}" % (p.deltas, "+full" if p.full else "", t.file, t.kept,
                                                          t.tmp, rec)
    return "a:%s b:%s hvl=%d c-leftovers=%d%s" % (one(pkg.targets[0], state.targets[0]),
                                                  one(pkg.targets[1], state.targets[1]), state.version_list,
                                                  state.third_leftovers, " DAMAGED" if pkg.damaged else "")


def signature(o):
    """A predicted outcome as plan shows it, coarsely (the plan covering set takes one state of each): the
    result, whether asked, the actions, the fates of the targets' leftovers, whether c.arc's are judged, and
    the version list's contents in order (any spelling, any package)."""
    vl = o.version_list
    if isinstance(vl, tuple):
        vl = tuple(c for _, c in vl)
    lf = o.leftovers
    if isinstance(lf, tuple):
        lf = (tuple(sorted({f for n, f in lf if n.startswith(M.TARGETS[0]) or n.startswith(M.TARGETS[1])})),
              any(n.startswith(M.THIRD) for n, _ in lf))
    return (o.result, o.asked, o.actions, lf, vl)


def model_promises(pkg, state, o):
    """README's global promises on one prediction: what is wrong, or None."""
    if o.files == M.UNPREDICTED:
        return None
    if o.result == M.OK:
        if o.files != (M.TARGET, M.TARGET) or any(o.kept) or any(o.tmp):
            return "a run ending with 0 left something other than the two targets"
        if o.version_list is not None:
            names = [n for n, _ in o.version_list if n != M.THIRD]
            if len(names) != 2 or any(c != M.TARGET for n, c in o.version_list if n != M.THIRD):
                return "a run ending with 0 left a version list untrue of the targets"
    if o.result in (M.OK, M.DOES_NOT_APPLY):
        if any(o.kept) or any(o.tmp):
            return "a .kept or .tmp left beside a target"
        if state.version_list and o.third != ("c-old", None, False):
            return "c.arc's leftovers not judged"
    if o.result == M.DOES_NOT_APPLY:
        for i in (0, 1):
            t = state.targets[i]
            before = None if t.file == M.ABSENT else (t.file if t.file in (M.BASE1, M.BASE2, M.TARGET, M.OTHER)
                                                      else "link")
            if o.files[i] not in (before, None if t.kept == M.ABSENT else t.kept):
                return "0x80000008 replaced a file"
            if o.files[i] != before and isinstance(o.version_list, tuple):
                for n, c in o.version_list:
                    if n == M.TARGETS[i] or (t.record == M.R_SPELLED and n == M.spelled(t.spelling, i)):
                        if c != o.files[i]:
                            return "a put-back file with an untrue record"
    if o.asked is False and o.result == M.OK:
        return "not asked, yet installed"
    return None


def _enumerate_job(job):
    """Runs the model on every state of one package: counts, distinct outcomes, broken promises."""
    ai, bi, damaged = job
    cfgs = target_configs()
    pkg = M.Package((cfgs[ai], cfgs[bi]), damaged)
    count = 0
    outcomes = {}
    broken = []
    for with_list in (True, False):
        sa, sb = target_states(pkg.targets[0], with_list), target_states(pkg.targets[1], with_list)
        for a in sa:
            for b in sb:
                for third in (False, True):
                    state = M.State((a, b), with_list, third)
                    o = M.predict(pkg, state)
                    count += 1
                    sig = signature(o)
                    entry = outcomes.get(sig)
                    if entry is None:
                        outcomes[sig] = [1, (pkg, state) if constructible(state) else None]
                    else:
                        entry[0] += 1
                        if entry[1] is None and constructible(state):
                            entry[1] = (pkg, state)
                    if len(broken) < 5:
                        problem = model_promises(pkg, state, o)
                        if problem:
                            broken.append("%s: %s" % (describe(pkg, state), problem))
    return pkg, count, {s: (n, st) for s, (n, st) in outcomes.items()}, broken


def enumerate_all(jobs):
    work = [(ai, bi, False) for ai in range(4) for bi in range(4)]
    cfgs = target_configs()
    work.append((cfgs.index(DAMAGED_CONFIG[0]), cfgs.index(DAMAGED_CONFIG[1]), True))
    if jobs > 1:
        with multiprocessing.Pool(jobs) as pool:
            return pool.map(_enumerate_job, work)
    return [_enumerate_job(w) for w in work]


# ---------------------------------------------------------------------------------------------------------
# Files, packages, installations.

def mutate(data, seed, count):
    r = random.Random(seed)
    out = bytearray(data)
    for _ in range(count):
        at = r.randrange(len(out))
        out[at] ^= 1 + r.randrange(255)
    return bytes(out)


def make_contents():
    contents = {}
    for n, name in enumerate(NAMES):
        size = 65536 + 1000 * n
        base1 = random.Random(100 + n).randbytes(size)
        contents[name] = {M.BASE1: base1, M.BASE2: mutate(base1, 200 + n, 300),
                          M.TARGET: mutate(base1, 300 + n, 300), M.OTHER: random.Random(400 + n).randbytes(size)}
    contents["c.arc"] = {"c-old": random.Random(500).randbytes(4096), "c-new": random.Random(501).randbytes(4096)}
    contents["tmp"] = b"a half-written temporary file" * 10
    return contents


def read_version_list(data):
    if data[:8] != b"KHV_V2__" or len(data) < 16:
        return "not a version list"
    count = struct.unpack_from("<I", data, 12)[0]
    out = []
    for i in range(count):
        raw = data[16 + 256 * i:16 + 256 * i + 248]
        out.append((raw.split(b"\0")[0].decode("cp932", "replace"),
                    struct.unpack_from("<Q", data, 16 + 256 * i + 248)[0]))
    return out


def run_tool(command, **kwargs):
    """subprocess.run, asked again for up to a minute while the program is being rebuilt (missing, not
    executable, or busy being written)."""
    for attempt in range(60):
        try:
            return subprocess.run(command, capture_output=True, **kwargs)
        except OSError:
            if attempt == 59:
                raise
            time.sleep(1)


class Tools:
    def __init__(self, build, work):
        self.build, self.work = build, work
        self.mkupdate = os.path.join(build, "native", "mkupdate")
        self.image = os.path.join(build, "updater.exe")
        self.contents = make_contents()
        self.checksums = {}   # (owner, label) -> int
        self.labels = {}      # int -> "owner:label"
        self.packages = {}    # Package -> path
        self.problems = []

    def run(self, *args):
        p = run_tool([self.mkupdate] + list(args))
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def learn_checksums(self):
        """Every content's checksum, from a package of them all (as `mkupdate list --json` prints it)."""
        ship = os.path.join(self.work, "sums")
        names = {}
        for owner, table in self.contents.items():
            if owner == "tmp":
                continue
            for label, data in table.items():
                name = "%s_%s.bin" % (owner.replace(".", "_"), label)
                write(os.path.join(ship, name), data)
                names[name] = (owner, label)
        out = os.path.join(self.work, "sums.exe")
        code, _, err = self.run("build", "--quiet", "--image", self.image, "--title", "sums", "--files", ship,
                                "--output", out)
        if code:
            raise SystemExit("mkupdate build of the checksum package failed: " + err)
        doc = json.loads(self.run("list", out, "--json")[1])
        for r in doc["version_list"]["records"]:
            owner, label = names[r["name"]]
            self.checksums[(owner, label)] = int(r["checksum"], 16)
            self.labels[int(r["checksum"], 16)] = "%s:%s" % (owner, label)
        self.labels[UNKNOWN_CHECKSUM] = "unknown"

    def label_of_bytes(self, owner, data):
        for label, content in self.contents[owner].items():
            if content == data:
                return label
        return "changed bytes (%d)" % len(data)

    def package(self, pkg):
        if pkg in self.packages:
            return self.packages[pkg]
        key = "pkg-%d%d-%d%d%s" % (pkg.targets[0].deltas, pkg.targets[0].full, pkg.targets[1].deltas,
                                   pkg.targets[1].full, "-damaged" if pkg.damaged else "")
        folder = os.path.join(self.work, key)
        shutil.rmtree(folder, ignore_errors=True)
        for i, name in enumerate(NAMES):
            c = self.contents[name]
            p = pkg.targets[i]
            write(os.path.join(folder, "ship", "Archive", name), c[M.TARGET])
            write(os.path.join(folder, "base1", "Archive", name), c[M.BASE1])
            write(os.path.join(folder, "base2", "Archive", name), c[M.BASE2 if p.deltas == 2 else M.BASE1])
        args = ["build", "--quiet", "--image", self.image, "--title", "T", "--files", os.path.join(folder, "ship"),
                "--base", os.path.join(folder, "base1"), "--base", os.path.join(folder, "base2")]
        fa, fb = pkg.targets[0].full, pkg.targets[1].full
        if fa and fb:
            args.append("--keep-full")
        elif fa or fb:  # a base that lacks the file: its whole file ships too
            lacks = 0 if fa else 1
            name = NAMES[1 - lacks]
            write(os.path.join(folder, "base3", "Archive", name), self.contents[name][M.BASE1])
            args += ["--base", os.path.join(folder, "base3")]
        out = os.path.join(folder, "update.exe")
        args += ["--output", out]
        code, _, err = self.run(*args)
        if code:
            raise SystemExit("mkupdate build failed for %s: %s" % (key, err))
        doc = json.loads(self.run("list", out, "--json")[1])
        # The package as intended: its deltas' bases, and whole files only where wanted.
        for i, name in enumerate(NAMES):
            p = pkg.targets[i]
            target = "Archive\\" + name
            bases = sorted(d["base_checksum"] for d in doc["deltas"] if d["target"] == target)
            want = sorted("%016X" % self.checksums[(name, b)] for b in p.bases())
            whole = any(e["name"].lower() == name for e in doc["entries"])
            if bases != want or whole != p.full:
                self.problems.append("package %s: %s has deltas from %s (wanted %s), whole file %s" % (
                    key, name, bases, want, whole))
        if pkg.damaged:
            data = bytearray(open(out, "rb").read())
            hvl = [e for e in doc["entries"] if e["name"] == "KPX.hvl"][0]
            start = data.find(b"KHV_V2__", 0xA0400) - hvl["offset"]
            dlt = [e for e in doc["entries"] if e["name"] == "KPX.dlt.000"][0]
            data[start + dlt["offset"] + dlt["size"] // 2] ^= 0x40
            with open(out, "wb") as f:
                f.write(data)
            if self.run("verify", out)[0] != 1:
                self.problems.append("the damaged package %s is not refused by verify" % key)
        self.packages[pkg] = out
        return out

    def install(self, game, outside, pkg, state):
        """Makes the installation of `state` in `game`; links to base1 lead to files in `outside`."""
        shutil.rmtree(game, ignore_errors=True)
        arch = os.path.join(game, "Archive")
        os.makedirs(arch)
        records = [("Archive\\c.arc", self.checksums[("c.arc", "c-old")])]
        for i in (1, 0):
            t = state.targets[i]
            if t.record == M.R_NONE or not state.version_list:
                continue
            name = M.spelled(t.spelling, i) if t.record == M.R_SPELLED else M.TARGETS[i]
            value = {M.R_BASE: self.checksums[(NAMES[i], M.BASE1)], M.R_SPELLED: self.checksums[(NAMES[i], M.BASE1)],
                     M.R_TARGET: self.checksums[(NAMES[i], M.TARGET)], M.R_UNKNOWN: UNKNOWN_CHECKSUM}[t.record]
            records.append((name, value))
        if state.version_list:
            write(os.path.join(game, "kpx.hvl"), version_list(records))
        write(os.path.join(game, "uninst.lst"), b"Archive\\a.arc\r\nArchive\\b.arc\r\nArchive\\c.arc\r\n")
        for i, name in enumerate(NAMES):
            t = state.targets[i]
            path = os.path.join(arch, name)
            if t.file in (M.BASE1, M.BASE2, M.TARGET, M.OTHER):
                write(path, self.contents[name][t.file])
            elif t.file == M.LINK_BASE:
                os.makedirs(outside, exist_ok=True)
                write(os.path.join(outside, name + ".base1"), self.contents[name][M.BASE1])
                os.symlink(os.path.join(outside, name + ".base1"), path)
            elif t.file == M.LINK_OTHER:
                os.symlink(NAMES[1 - i], path)
            elif t.file == M.UNREADABLE:
                raise ValueError("an unreadable file cannot be made here")
            if t.kept != M.ABSENT:
                write(path + ".kept", self.contents[name][t.kept])
            if t.tmp:
                write(path + ".tmp", self.contents["tmp"])
        c = self.contents["c.arc"]
        if state.third_leftovers:
            write(os.path.join(arch, "c.arc"), c["c-new"])
            write(os.path.join(arch, "c.arc.kept"), c["c-old"])
            write(os.path.join(arch, "c.arc.tmp"), self.contents["tmp"])
        else:
            write(os.path.join(arch, "c.arc"), c["c-old"])


def snapshot(folder):
    out = {}
    for root, dirs, files in os.walk(folder):
        for n in dirs + files:
            p = os.path.join(root, n)
            st = os.lstat(p)
            out[os.path.relpath(p, folder)] = (st.st_mode, st.st_size, st.st_mtime_ns,
                                               os.readlink(p) if os.path.islink(p) else None)
    return out


# ---------------------------------------------------------------------------------------------------------
# Comparisons. Each returns [(field, predicted, actual)].

def norm(name):
    return name.replace("/", "\\").lower()


def qualify_records(state, records):
    """The model's records as "owner:label" (as the actual ones are labelled by checksum)."""
    if not isinstance(records, tuple):
        return records
    names = {M.TARGETS[0]: 0, M.TARGETS[1]: 1}
    for i, t in enumerate(state.targets):
        if t.record == M.R_SPELLED:
            names[M.spelled(t.spelling, i)] = i
    out = []
    for n, c in records:
        if n == M.THIRD:
            out.append((n, "c.arc:" + c))
        else:
            out.append((n, "unknown" if c == "unknown" else "%s:%s" % (NAMES[names[n]], c)))
    return tuple(out)


def compare_plan(tools, pkg, state, o, code, doc, missing):
    diffs = []
    if o.result == M.DAMAGED:
        if code != 1 or doc.get("verdict") != "refused":
            diffs.append(("verdict", "refused, exit 1", "%s, exit %d" % (doc.get("verdict"), code)))
        return diffs
    if doc.get("verdict") != "accepted":
        return [("verdict", "accepted", "%s: %s" % (doc.get("verdict"), doc.get("problem")))]
    if doc.get("result") != o.result:
        diffs.append(("result", "0x%X" % o.result, "0x%X" % doc.get("result", -1)))
    if o.result == M.OK and code != 0:
        diffs.append(("exit code", 0, code))
    actions = {t["target"]: t for t in doc.get("targets", [])}
    for i, target in enumerate(M.TARGETS):
        t = actions.get(target)
        if t is None:
            diffs.append(("action " + NAMES[i], o.actions[i], "no target"))
            continue
        actual = t["action"]
        if actual == "patch":
            base = t.get("base") or ""
            actual = M.PATCH_KEPT if norm(base) == norm(target + ".kept") else (
                M.PATCH if norm(base) == norm(target) else "patch from %r" % base)
        if actual != o.actions[i]:
            diffs.append(("action " + NAMES[i], o.actions[i], actual))
    vl = doc.get("version_list") or {}
    if o.version_list != M.UNPREDICTED:
        if o.version_list is None:
            if vl.get("state") != "absent":
                diffs.append(("version_list", "absent", vl.get("state")))
        elif vl.get("records") is None:
            # Not rewritten: left as it was.
            before = qualify_records(state, initial_records(state))
            if qualify_records(state, o.version_list) != before:
                diffs.append(("version_list", qualify_records(state, o.version_list), "%s (left as it was)" %
                              vl.get("state")))
        else:
            actual = tuple((r["name"], tools.labels.get(int(r["checksum"], 16), r["checksum"]))
                           for r in vl["records"])
            if not same_records(state, qualify_records(state, o.version_list), actual, "plan"):
                diffs.append(("version_list", qualify_records(state, o.version_list), actual))
    if "asked" in doc:
        if o.asked != M.UNPREDICTED and doc["asked"] != o.asked:
            diffs.append(("asked", o.asked, doc["asked"]))
    else:
        missing.add("asked")
    if "leftovers" in doc:
        if o.leftovers != M.UNPREDICTED:
            actual = tuple(sorted((norm(x["name"]), x["fate"]) for x in doc["leftovers"]))
            if actual != tuple(sorted((norm(n), f) for n, f in o.leftovers)):
                diffs.append(("leftovers", o.leftovers, actual))
    else:
        missing.add("leftovers")
    return diffs


ORDER_NOTES = []


def same_records(state, want, got, where):
    """The model's records against actual ones: the existing records in their places, the appended ones in
    any order (the README says only that they are appended: a difference in their order is noted, R10)."""
    if want == got:
        return True
    if not isinstance(want, tuple) or not isinstance(got, tuple) or len(want) != len(got):
        return False
    k = len(initial_records(state) or ())
    if want[:k] == got[:k] and sorted(want[k:]) == sorted(got[k:]):
        ORDER_NOTES.append(where)
        return True
    return False


def initial_records(state):
    if not state.version_list:
        return None
    out = [(M.THIRD, "c-old")]
    for i in (1, 0):
        t = state.targets[i]
        if t.record == M.R_NONE:
            continue
        name = M.spelled(t.spelling, i) if t.record == M.R_SPELLED else M.TARGETS[i]
        out.append((name, {M.R_BASE: M.BASE1, M.R_SPELLED: M.BASE1, M.R_TARGET: M.TARGET,
                           M.R_UNKNOWN: "unknown"}[t.record]))
    return tuple(out)


def document_from(tools, state, o):
    """The plan document that would agree with prediction `o` (for the self-check)."""
    doc = {"verdict": "accepted", "problem": None, "result": o.result, "asked": o.asked,
           "leftovers": [{"name": n, "fate": f} for n, f in o.leftovers], "targets": []}
    for i, target in enumerate(M.TARGETS):
        action = "patch" if o.actions[i] in (M.PATCH, M.PATCH_KEPT) else o.actions[i]
        base = target + ".kept" if o.actions[i] == M.PATCH_KEPT else target if o.actions[i] == M.PATCH else None
        doc["targets"].append({"target": target, "action": action, "base": base})
    if o.version_list is None:
        doc["version_list"] = {"state": "absent", "records": None, "bytes": None}
    else:
        by_label = {label: value for value, label in tools.labels.items()}
        doc["version_list"] = {"state": "updated", "bytes": None, "records": [
            {"name": n, "checksum": "%016X" % by_label[c]} for n, c in qualify_records(state, o.version_list)]}
    return doc


def compare_run(state, o, seen):
    """The model against what the updater did (`seen`, from observe())."""
    diffs = []
    if seen["exit"] != o.result:
        diffs.append(("exit code", "0x%X" % o.result, "0x%X" % seen["exit"] if seen["exit"] is not None else
                      "none: " + seen["tail"]))
    if o.asked != M.UNPREDICTED and seen["asked"] != o.asked:
        diffs.append(("asked", o.asked, seen["asked"]))
    box = BOXES.get(o.result)
    if box and seen["exit"] is not None and not any(box in b for b in seen["boxes"]):
        diffs.append(("box", box, seen["boxes"]))
    for field in ("files", "kept", "tmp", "third"):
        want = getattr(o, field)
        if want != M.UNPREDICTED and tuple(seen[field]) != tuple(want):
            diffs.append((field, want, seen[field]))
    if o.version_list != M.UNPREDICTED:
        want = qualify_records(state, o.version_list)
        if not same_records(state, want, seen["version_list"], "updater"):
            diffs.append(("kpx.hvl", want, seen["version_list"]))
    if o.files != M.UNPREDICTED and seen["unexpected"]:
        diffs.append(("other files", [], seen["unexpected"]))
    if seen["outside"]:
        diffs.append(("outside the folder", "untouched", seen["outside"]))
    return diffs


# ---------------------------------------------------------------------------------------------------------
# The covering sets.

B_FIXED = [  # target b's fixed states for the sweep of a (and a's for the sweep of b)
    (M.TargetPackage(2, False), M.TargetState(M.BASE2, M.ABSENT, False, M.R_BASE)),      # patched
    (M.TargetPackage(1, True), M.TargetState(M.TARGET, M.ABSENT, False, M.R_TARGET)),    # identical
    (M.TargetPackage(1, False), M.TargetState(M.OTHER, M.ABSENT, False, M.R_UNKNOWN)),   # told early
]


def sweep(side, fixed, with_tmp):
    """Every state of one target (all four package forms, with and without kpx.hvl) beside the other target
    in each of `fixed` states of B_FIXED; a .tmp only beside those in `with_tmp` (a .tmp is removed whatever
    else stands: it changes no decision)."""
    cases = []
    n = 0
    for tp in target_configs():
        for with_list in (True, False):
            for t in target_states(tp, with_list, constructible=True):
                for k in fixed:
                    if t.tmp and k not in with_tmp:
                        continue
                    fp, ft = B_FIXED[k]
                    ft = ft if with_list else ft._replace(record=M.R_NONE)
                    n += 1
                    pair = ((tp, t), (fp, ft)) if side == 0 else ((fp, ft), (tp, t))
                    cases.append((M.Package((pair[0][0], pair[1][0])),
                                  M.State((pair[0][1], pair[1][1]), with_list, n % 2 == 1)))
    return cases


def pairwise():
    """A greedy pairwise covering array over both targets' dimensions, kpx.hvl and c.arc's leftovers."""
    cfgs = target_configs()
    dims = [("acfg", range(4)), ("afile", M.FILE_STATES[:-1]), ("akept", M.KEPT_STATES), ("atmp", (False, True)),
            ("arec", M.RECORD_STATES), ("bcfg", range(4)), ("bfile", M.FILE_STATES[:-1]),
            ("bkept", M.KEPT_STATES), ("btmp", (False, True)), ("brec", M.RECORD_STATES), ("hvl", (True, False)),
            ("third", (False, True))]
    names = [d for d, _ in dims]

    def valid(row):
        for side in "ab":
            cfg = row.get(side + "cfg")
            if cfg is not None and cfgs[cfg].deltas == 1:
                if row.get(side + "file") == M.BASE2 or row.get(side + "kept") == M.BASE2:
                    return False
            if row.get("hvl") is False and row.get(side + "rec") not in (None, M.R_NONE):
                return False
        return True

    uncovered = set()
    for (i, (di, vi)), (j, (dj, vj)) in itertools.combinations(enumerate(dims), 2):
        for x in vi:
            for y in vj:
                if valid({di: x, dj: y}):
                    uncovered.add((i, x, j, y))
    rows = []
    rng = random.Random(5)
    while uncovered:
        best, best_cover = None, -1
        for _ in range(30):
            row = {}
            seed = rng.choice(sorted(uncovered, key=repr))
            row[names[seed[0]]], row[names[seed[2]]] = seed[1], seed[3]
            order = list(range(len(dims)))
            rng.shuffle(order)
            for k in order:
                if names[k] in row:
                    continue
                options = []
                for v in dims[k][1]:
                    trial = dict(row)
                    trial[names[k]] = v
                    if not valid(trial):
                        continue
                    gain = sum(1 for (i, x, j, y) in uncovered if (i == k and trial.get(names[j]) == y and x == v)
                               or (j == k and trial.get(names[i]) == x and y == v))
                    options.append((gain, rng.random(), v))
                row[names[k]] = max(options)[2]
            cover = sum(1 for (i, x, j, y) in uncovered if row[names[i]] == x and row[names[j]] == y)
            if cover > best_cover:
                best, best_cover = row, cover
        if best_cover <= 0:
            break
        uncovered = {(i, x, j, y) for (i, x, j, y) in uncovered if not (best[names[i]] == x and best[names[j]] == y)}
        rows.append(best)
    cases = []
    for n, row in enumerate(rows):
        ts = []
        for i, side in enumerate("ab"):
            rec = row[side + "rec"]
            ts.append(M.TargetState(row[side + "file"], row[side + "kept"], row[side + "tmp"], rec,
                                    M.SPELLINGS[n % len(M.SPELLINGS)] if rec == M.R_SPELLED else ""))
        cases.append((M.Package((cfgs[row["acfg"]], cfgs[row["bcfg"]])), M.State(tuple(ts), row["hvl"], row["third"])))
    return cases


def updater_wishes():
    """What the updater runs must cover: predicates over (package, state, outcome)."""
    w = []

    def add(label, f):
        w.append((label, f))
    add("damaged package", lambda p, s, o: p.damaged and s.third_leftovers)
    add("damaged package, a .kept and a .tmp", lambda p, s, o: p.damaged and s.targets[0].kept != M.ABSENT and
        s.targets[0].tmp)
    for r in (M.OK, M.DOES_NOT_APPLY):
        for asked in (True, False):
            add("result 0x%X asked %s" % (r, asked), lambda p, s, o, r=r, a=asked: o.result == r and o.asked == a)
    for a in (M.IDENTICAL, M.PATCH, M.PATCH_KEPT, M.FULL, M.NOT_APPLY):
        for b in (M.IDENTICAL, M.PATCH, M.PATCH_KEPT, M.FULL, M.NOT_APPLY):
            add("actions %s, %s" % (a, b), lambda p, s, o, a=a, b=b: o.actions == (a, b) and not p.damaged)
    for fate in (M.KEPT_ASIDE, M.PUT_BACK, M.REMOVED):
        for action in (M.IDENTICAL, M.PATCH, M.PATCH_KEPT, M.FULL, M.NOT_APPLY):
            for result in (M.OK, M.DOES_NOT_APPLY):
                add("a.kept %s, a %s, result 0x%X" % (fate, action, result),
                    lambda p, s, o, f=fate, a=action, r=result: o.result == r and o.actions[0] == a and
                    isinstance(o.leftovers, tuple) and (M.TARGETS[0] + ".kept", f) in o.leftovers)
    for kept in (M.BASE1, M.BASE2, M.TARGET, M.OTHER):
        for f in (M.ABSENT, M.OTHER, M.TARGET, M.LINK_BASE):
            add("a.kept %s beside %s" % (kept, f), lambda p, s, o, k=kept, f=f: s.targets[0].kept == k and
                s.targets[0].file == f and not p.damaged)
    for action in (M.PATCH, M.PATCH_KEPT, M.FULL, M.IDENTICAL):
        add("stale record, a %s" % action, lambda p, s, o, a=action: s.targets[0].record == M.R_UNKNOWN and
            s.version_list and o.actions[0] == a)
    add("stale record, told early", lambda p, s, o: s.targets[0].record == M.R_UNKNOWN and o.asked is False and
        o.actions[0] == M.NOT_APPLY)
    add("stale record, the .kept is the target", lambda p, s, o: s.targets[0].record == M.R_UNKNOWN and
        not p.targets[0].full and s.targets[0].kept == M.TARGET and s.targets[0].file == M.ABSENT)
    for link in (M.LINK_BASE, M.LINK_OTHER):
        for i in (0, 1):
            for action in (M.PATCH_KEPT, M.FULL, M.NOT_APPLY):
                for result in (M.OK, M.DOES_NOT_APPLY):
                    add("%s at %s, %s, 0x%X" % (link, NAMES[i], action, result),
                        lambda p, s, o, l=link, i=i, a=action, r=result: s.targets[i].file == l and
                        o.actions[i] == a and o.result == r)
            add("%s at %s, its .kept put back" % (link, NAMES[i]),
                lambda p, s, o, l=link, i=i: s.targets[i].file == l and isinstance(o.leftovers, tuple) and
                (M.TARGETS[i] + ".kept", M.PUT_BACK) in o.leftovers)
    for result in (M.OK, M.DOES_NOT_APPLY):
        for asked in (True, False):
            add("c.arc's leftovers, 0x%X asked %s" % (result, asked),
                lambda p, s, o, r=result, a=asked: s.third_leftovers and s.version_list and o.result == r and
                o.asked == a)
        add("c.arc's leftovers without kpx.hvl, 0x%X" % result,
            lambda p, s, o, r=result: s.third_leftovers and not s.version_list and o.result == r)
        add("no kpx.hvl, 0x%X" % result, lambda p, s, o, r=result: not s.version_list and o.result == r)
    for sp in M.SPELLINGS:
        for result in (M.OK, M.DOES_NOT_APPLY):
            add("record spelled %s, 0x%X" % (sp, result),
                lambda p, s, o, sp=sp, r=result: any(t.record == M.R_SPELLED and t.spelling == sp
                                                     for t in s.targets) and s.version_list and o.result == r)
    for i in (0, 1):
        for f in M.FILE_STATES[:-1]:
            for k in M.KEPT_STATES:
                for result in (M.OK, M.DOES_NOT_APPLY):
                    add("%s: file %s, kept %s, 0x%X" % (NAMES[i], f, k, result),
                        lambda p, s, o, i=i, f=f, k=k, r=result: s.targets[i].file == f and s.targets[i].kept == k
                        and o.result == r and not p.damaged)
    for r_state in M.RECORD_STATES:
        for f in (M.BASE1, M.OTHER, M.ABSENT, M.LINK_BASE):
            for result in (M.OK, M.DOES_NOT_APPLY):
                add("a: record %s, file %s, 0x%X" % (r_state, f, result),
                    lambda p, s, o, rs=r_state, f=f, r=result: s.version_list and s.targets[0].record == rs and
                    s.targets[0].file == f and o.result == r and not p.damaged)
    add("both records appended", lambda p, s, o: o.result == M.OK and s.version_list and
        all(t.record == M.R_NONE for t in s.targets))
    add("both records appended, the targets installed in two ways", lambda p, s, o: o.result == M.OK and
        s.version_list and all(t.record == M.R_NONE for t in s.targets) and o.actions[0] != o.actions[1])
    add("b's .tmp and .kept removed, result 0", lambda p, s, o: o.result == M.OK and s.targets[1].tmp and
        isinstance(o.leftovers, tuple) and (M.TARGETS[1] + ".kept", M.REMOVED) in o.leftovers)
    return w


# ---------------------------------------------------------------------------------------------------------
# Under Wine.

class Wine:
    def __init__(self, build, wine_run, tools):
        self.build, self.wine_run, self.tools = build, wine_run, tools
        prefix = os.path.join(build, "wineprefix")
        for line in open(wine_run, encoding="utf-8", errors="replace"):
            m = re.match(r'\s*export WINEPREFIX="?([^"\n]+)"?', line)
            if m:
                prefix = m.group(1)
        self.drive = os.path.join(prefix, "drive_c")
        self.root = os.path.join(self.drive, "deltamodel")
        self.game = os.path.join(self.root, "game")
        self.outside = os.path.join(self.root, "outside")
        self.key = "HKLM\\Software\\Kovo\\硝子の羽を数えて"
        self.previous = None
        self.retried = 0

    def run(self, *args, timeout=120):
        p = subprocess.run([self.wine_run] + list(args), capture_output=True, timeout=timeout)
        return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r", ""), \
            p.stderr.decode("utf-8", "replace").replace("\r", "")

    def setup(self):
        # The prefix first: a new one is made from nothing, whatever stood in its place.
        self.run("cmd", "/c", "exit")
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        code, out, _ = self.run("reg", "query", self.key, "/v", "InstalledFolder")
        m = re.search(r"InstalledFolder\s+REG_SZ\s+(.*)", out)
        self.previous = m.group(1).strip() if code == 0 and m else None
        code, out, err = self.run("reg", "add", self.key, "/v", "InstalledFolder", "/t", "REG_SZ", "/d",
                                  "C:\\deltamodel\\game", "/f")
        if code:
            raise SystemExit("cannot register the game under Wine: " + out + err)
        self.copied = {}

    def teardown(self):
        shutil.rmtree(self.root, ignore_errors=True)
        if self.previous is not None:
            self.run("reg", "add", self.key, "/v", "InstalledFolder", "/t", "REG_SZ", "/d", self.previous, "/f")
        else:
            self.run("reg", "delete", self.key, "/v", "InstalledFolder", "/f")
        # A prefix of the model's own is stopped with it; the shared one is the test run's to stop.
        prefix = os.path.dirname(self.drive)
        if os.path.basename(prefix) != "wineprefix":
            subprocess.run(["sh", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "wine-prefix.sh"),
                            "stop", prefix], capture_output=True)

    def updater(self, pkg):
        path = self.tools.package(pkg)
        if path not in self.copied:
            name = "update-%d.exe" % len(self.copied)
            shutil.copy(path, os.path.join(self.root, name))
            self.copied[path] = name
        return "C:\\deltamodel\\" + self.copied[path]

    def one(self, pkg, state):
        exe = self.updater(pkg)
        self.tools.install(self.game, self.outside, pkg, state)
        outside_before = snapshot(self.outside) if os.path.isdir(self.outside) else {}
        outside_bytes = {n: open(os.path.join(self.outside, n), "rb").read() for n in outside_before}
        links = {i: os.readlink(os.path.join(self.game, "Archive", NAMES[i]))
                 for i in (0, 1) if os.path.islink(os.path.join(self.game, "Archive", NAMES[i]))}
        for attempt in range(3):
            try:
                code, out, err = self.run(os.path.join(self.build, "tests", "user_driver.exe"), "run", exe,
                                          "C:\\deltamodel\\game")
            except subprocess.TimeoutExpired:
                code, out, err = -1, "", "timed out"
            # The driver could not be started at all (it is being rebuilt), or it never saw the updater's first
            # window and had to end it (under Wine, with the fault campaign beside it on two cores, a start can
            # stall): the installation is untouched, so lay the state again and start again.
            never_started = "0xDEADC0DE" in out and "box:" not in out
            if ("exit code:" in out or "== installation before" in out) and not never_started or attempt == 2:
                break
            self.retried += 1
            print("the user driver or the updater did not start (%s): started again" % (out + err).strip()[-160:])
            self.tools.install(self.game, self.outside, pkg, state)
            time.sleep(5)
        return self.observe(out + err, links, outside_bytes)

    def crash_points(self, pkg, state):
        """Every crash point of a run on `state` (tests/crash_points.exe: stopped after each file operation, as
        a kill and as a power cut, then run again): what each left, as observe() reads it."""
        exe = self.updater(pkg)
        self.tools.install(self.game, self.outside, pkg, state)
        outside_before = snapshot(self.outside) if os.path.isdir(self.outside) else {}
        outside_bytes = {n: open(os.path.join(self.outside, n), "rb").read() for n in outside_before}
        points_folder = os.path.join(self.root, "points")
        code, out, err = self.run(os.path.join(self.build, "tests", "crash_points.exe"), exe, "C:\\deltamodel\\game",
                                  "C:\\deltamodel\\points", timeout=600)
        lines = re.findall(r"^point (\d+) (kill|cut) 0x([0-9A-F]{8})$", out, re.M)
        count = re.search(r"^points: (\d+)$", out, re.M)
        # Every point once as a kill and once as a power cut, from the first operation to after the last.
        whole = count and int(count.group(1)) > 0 and sorted((int(n), k) for n, k, _ in lines) == sorted(
            (n, k) for n in range(int(count.group(1))) for k in ("kill", "cut"))
        if code or not whole:
            return None, "crash_points ended with %d: %s" % (code, (out + err).strip()[-300:])
        seen = []
        for n, kind, again in lines:
            if not os.path.isdir(os.path.join(points_folder, "%s-%s" % (n, kind))):
                return None, "crash_points left no folder for point %s (%s)" % (n, kind)
            s = self.observe("exit code: 0 (0x%s)" % again, {}, outside_bytes,
                             os.path.join(points_folder, "%s-%s" % (n, kind)))
            seen.append(("power cut" if kind == "cut" else "kill", int(n), s))
        shutil.rmtree(points_folder, ignore_errors=True)
        return seen, None

    def observe(self, transcript, links, outside_bytes, game=None):
        game = game or self.game
        seen = {}
        m = re.search(r"exit code: -?\d+ \(0x([0-9A-Fa-f]{8})\)", transcript)
        seen["exit"] = int(m.group(1), 16) if m else None
        seen["tail"] = transcript[-300:]
        boxes = [line for line in transcript.split("\n") if line.startswith("box:")]
        seen["boxes"] = boxes
        seen["asked"] = any(QUESTION in b for b in boxes)
        arch = os.path.join(game, "Archive")
        listing = {n.lower(): n for n in os.listdir(arch)} if os.path.isdir(arch) else {}
        top = {n.lower(): n for n in os.listdir(game)} if os.path.isdir(game) else {}

        def content(owner, lower):
            real = listing.get(lower)
            if real is None:
                return None
            path = os.path.join(arch, real)
            if os.path.islink(path):
                return "link"
            with open(path, "rb") as f:
                return self.tools.label_of_bytes(owner, f.read())

        files, kept, tmp = [], [], []
        for i, name in enumerate(NAMES):
            c = content(name, name)
            if c == "link" and os.readlink(os.path.join(arch, listing[name])) != links.get(i):
                c = "another link"
            files.append(c)
            kept.append(content(name, name + ".kept"))
            tmp.append(name + ".tmp" in listing)
        seen["files"], seen["kept"], seen["tmp"] = files, kept, tmp
        seen["third"] = (content("c.arc", "c.arc"), content("c.arc", "c.arc.kept"), "c.arc.tmp" in listing)
        if "kpx.hvl" in top:
            with open(os.path.join(game, top["kpx.hvl"]), "rb") as f:
                records = read_version_list(f.read())
            seen["version_list"] = records if isinstance(records, str) else tuple(
                (n, self.tools.labels.get(v, "%016X" % v)) for n, v in records)
        else:
            seen["version_list"] = None
        known = {"a.arc", "b.arc", "c.arc", "a.arc.kept", "b.arc.kept", "c.arc.kept", "a.arc.tmp", "b.arc.tmp",
                 "c.arc.tmp"}
        seen["unexpected"] = sorted(["Archive\\" + listing[n] for n in listing if n not in known] +
                                    [top[n] for n in top if n not in ("archive", "kpx.hvl", "uninst.lst")])
        changed = []
        for n, data in outside_bytes.items():
            p = os.path.join(self.outside, n)
            if not os.path.isfile(p) or open(p, "rb").read() != data:
                changed.append(n)
        seen["outside"] = changed
        return seen


# ---------------------------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("build")
    ap.add_argument("--native-only", action="store_true")
    ap.add_argument("--wine-run")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--show", type=int, default=20, help="how many disagreements to print in full")
    ap.add_argument("--plan-limit", type=int, help="(while developing) at most this many plan runs")
    ap.add_argument("--updater-limit", type=int, help="(while developing) at most this many updater runs")
    ap.add_argument("--crash-limit", type=int, help="(while developing) at most this many states' crash points")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    needed = [os.path.join(build, "native", "mkupdate"), os.path.join(build, "updater.exe")]
    if not args.native_only:
        needed += [os.path.join(build, "tests", "user_driver.exe"), os.path.join(build, "tests", "crash_points.exe")]
    for path in needed:
        if not os.path.exists(path):
            print("missing %s (is the build finished?)" % path)
            print("delta model: 0 states, 0 plan runs, 0 updater runs, 0 crash points, 0 disagreements")
            print("0 passed, 1 failed")
            return 1
    started = time.time()
    passed, failed = 0, 0
    disagreements = []  # (source, package, state, prediction, field, predicted, actual)
    wine_link_runs = []  # (package, state, differences): updater runs that part only for Wine's links
    missing = set()

    def tally(ok):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1

    # 1. The model on every state.
    results = enumerate_all(args.jobs)
    states = sum(r[1] for r in results)
    distinct = {}
    broken = []
    for pkg, _, outcomes, b in results:
        broken += b
        for sig, (n, st) in outcomes.items():
            if st is not None and sig not in distinct:
                distinct[sig] = st
    all_signatures = {sig for _, _, outcomes, _ in results for sig in outcomes}
    counts = collections.Counter()
    for _, _, outcomes, _ in results:
        for sig, (n, _) in outcomes.items():
            counts[(sig[0], sig[1])] += n
    print("model: %d states, %d distinct outcomes as plan shows them (%d of them can be made here), %.1f s" % (
        states, len(all_signatures), len(distinct), time.time() - started))
    for (result, asked), n in sorted(counts.items(), key=lambda x: (x[0][0], str(x[0][1]))):
        print("  result 0x%08X asked %-5s %8d states" % (result, asked, n))
    for b in broken[:10]:
        print("model breaks a promise: " + b)
    tally(not broken)

    work = tempfile.mkdtemp(prefix="delta-model-")
    tools = Tools(build, work)
    wine = None
    try:
        tools.learn_checksums()

        # 2. plan.
        damaged = M.Package(DAMAGED_CONFIG, True)
        cases = sweep(0, (0, 2), (0,)) + sweep(1, (0,), ()) + pairwise() + [
            (damaged, M.State((t, M.TargetState(M.BASE1, M.ABSENT, n % 3 == 0, M.R_BASE)), True, n % 2 == 0))
            for n, t in enumerate(target_states(DAMAGED_CONFIG[0], True, constructible=True))
            if t.record == M.R_BASE]
        seen_cases, covered = set(), set()
        plan_cases = []
        for n, (pkg, st) in enumerate(cases + sorted(distinct.values(), key=lambda x: describe(*x))):
            o = M.predict(pkg, st)
            if (pkg, st) in seen_cases or (n >= len(cases) and signature(o) in covered):
                continue
            seen_cases.add((pkg, st))
            covered.add(signature(o))
            plan_cases.append((pkg, st, o))
        print("plan set: %d sweep and pairwise states, %d more for the distinct outcomes (%d of %d covered)" % (
            len(seen_cases & set(cases)), len(plan_cases) - len(seen_cases & set(cases)),
            len(covered & set(distinct)), len(distinct)))
        candidates = list(plan_cases)  # the updater runs' states are taken from the whole plan set
        if args.plan_limit is not None:
            plan_cases = plan_cases[::max(1, len(plan_cases) // max(1, args.plan_limit))][:args.plan_limit]
        for pkg in sorted({p for p, _, _ in plan_cases}, key=repr):
            tools.package(pkg)
        for p in tools.problems:
            print("package problem: " + p)
        tally(not tools.problems)

        plan_started = time.time()

        def plan_one(job):
            n, (pkg, st, o) = job
            game = os.path.join(work, "plan%d" % (n % (2 * args.jobs)), "game")
            outside = os.path.join(work, "plan%d" % (n % (2 * args.jobs)), "outside")
            tools.install(game, outside, pkg, st)
            before = snapshot(game)
            p = run_tool([tools.mkupdate, "plan", tools.packages[pkg], "--game", game, "--json"])
            try:
                doc = json.loads(p.stdout.decode("utf-8"))
            except ValueError:
                doc = {"verdict": "no JSON: %r %r" % (p.stdout[:200], p.stderr[:200])}
            local_missing = set()
            diffs = compare_plan(tools, pkg, st, o, p.returncode, doc, local_missing)
            if snapshot(game) != before:
                diffs.append(("plan wrote", "nothing", "changes in the folder"))
            return n, diffs, doc, p.returncode, local_missing

        # plan runs share folders by n % (2 * jobs): run them in waves so that no two use one at once.
        plan_docs = {}
        jobs = list(enumerate(plan_cases))
        with ThreadPoolExecutor(args.jobs) as pool:
            for wave in range(0, len(jobs), 2 * args.jobs):
                for n, diffs, doc, code, lm in pool.map(plan_one, jobs[wave:wave + 2 * args.jobs]):
                    missing |= lm
                    plan_docs[n] = (doc, code)
                    pkg, st, o = plan_cases[n]
                    tally(not diffs)
                    for field, want, got in diffs:
                        disagreements.append(("plan", pkg, st, o, field, want, got))
        plan_seconds = time.time() - plan_started
        for field in sorted(missing):
            print("plan --json has no `%s`: not compared" % field)
        print("plan: %d runs, %.1f s" % (len(plan_cases), plan_seconds))

        # Self-check: a wrong prediction must be flagged. On a plan run that agreed with the model (else on
        # a document made from the prediction itself), and on an observation made from the prediction.
        flagged = []
        for n, (pkg, st, o) in enumerate(plan_cases):
            if o.result != M.OK or o.leftovers == M.UNPREDICTED:
                continue
            doc, code = plan_docs[n]
            if compare_plan(tools, pkg, st, o, code, doc, set()):
                doc, code = document_from(tools, st, o), 0
            wrong = [o._replace(result=M.DOES_NOT_APPLY),
                     o._replace(actions=(M.FULL if o.actions[0] != M.FULL else M.IDENTICAL, o.actions[1])),
                     o._replace(leftovers=o.leftovers + ((M.TARGETS[0] + ".tmp", M.REMOVED),)),
                     o._replace(version_list=o.version_list[:-1] if o.version_list else ((M.THIRD, "c-new"),))]
            flagged = [not compare_plan(tools, pkg, st, o, code, doc, set())]
            flagged += [bool(compare_plan(tools, pkg, st, w, code, doc, set())) for w in wrong]
            fake_seen = {"exit": M.OK, "asked": True, "boxes": ["box: [T] " + BOXES[M.OK]], "files": [M.TARGET] * 2,
                         "kept": [None, None], "tmp": [False, False], "third": o.third,
                         "version_list": qualify_records(st, o.version_list), "unexpected": [], "outside": [],
                         "tail": ""}
            flagged.append(not compare_run(st, o, fake_seen))
            flagged.append(bool(compare_run(st, o._replace(files=(M.BASE1, M.TARGET)), fake_seen)))
            flagged.append(bool(compare_run(st, o._replace(result=M.DOES_NOT_APPLY), fake_seen)))
            flagged.append(bool(model_promises(pkg, st, o._replace(files=(M.BASE1, M.TARGET)))))
            break
        ok = len(flagged) == 9 and all(flagged)
        print("self-check: a wrong prediction %s" % ("is flagged" if ok else "is NOT flagged: %r" % flagged))
        tally(ok)

        # 3. The updater under Wine.
        runs = crash_points = 0
        if not args.native_only:
            wine = Wine(build, args.wine_run or os.path.join(build, "wine-run"), tools)
            wine.setup()
            chosen = []
            wishes = updater_wishes()
            for r, a, acts in sorted({(o.result, str(o.asked), o.actions) for _, _, o in candidates}):
                wishes.append(("result 0x%X asked %s actions %s" % (r, a, acts),
                               lambda p, s, o, key=(r, a, acts): (o.result, str(o.asked), o.actions) == key))
            unmet = 0
            for label, wish in wishes:
                hit = next(((pkg, st, o) for pkg, st, o in candidates if wish(pkg, st, o)), None)
                if hit is None:
                    unmet += 1  # no state of the plan set (none, where the model rules it out)
                elif hit not in chosen:
                    chosen.append(hit)
            if args.updater_limit is not None:
                chosen = chosen[:args.updater_limit]
            print("updater set: %d runs for %d wishes (%d met by no state of the plan set)" % (
                len(chosen), len(wishes), unmet))
            wine_started = time.time()
            for pkg, st, o in chosen:
                seen = wine.one(pkg, st)
                runs += 1
                diffs = compare_run(st, o, seen)
                # Under Wine a rename onto a link, or through it, is resolved by the file the link leads to:
                # where a target's name is a link to the other target, the run meets that file (held, or
                # just moved in) and ends with 0x80000004, everything put back. Windows replaces the link as
                # itself. Those runs are counted and shown apart, never hidden and never passed.
                if diffs and any(t.file == M.LINK_OTHER for t in st.targets):
                    wine_link_runs.append((pkg, st, diffs))
                    continue
                tally(not diffs)
                for field, want, got in diffs:
                    disagreements.append(("updater", pkg, st, o, field, want, got))
            print("updater: %d runs, %.1f s" % (runs, time.time() - wine_started))

            # 4. Crash points: a run of each distinct predicted outcome among the updater set's plain states
            # (no link, not damaged), stopped after every file operation as a kill and as a power cut, then
            # run again, must end where the model says one run ends: the second run's exit code, every
            # file, leftover and record.
            crash_started = time.time()
            crash_set, crash_keys = [], set()
            for pkg, st, o in chosen:
                key = (o.result, o.actions, o.kept, o.version_list is None)
                plain = not pkg.damaged and all(t.file not in (M.LINK_BASE, M.LINK_OTHER, M.UNREADABLE)
                                                for t in st.targets)
                if plain and o.files != M.UNPREDICTED and key not in crash_keys:
                    crash_keys.add(key)
                    crash_set.append((pkg, st, o))
            for pkg, st, o in crash_set[:args.crash_limit]:
                seen, problem = wine.crash_points(pkg, st)
                if problem:
                    tally(False)
                    disagreements.append(("crash", pkg, st, o, "crash points", "every point run", problem))
                    continue
                for kind, n, s in seen:
                    crash_points += 1
                    diffs = [d for d in compare_run(st, o, s) if d[0] not in ("asked", "box")]
                    tally(not diffs)
                    for field, want, got in diffs:
                        disagreements.append(("crash", pkg, st, o, "%s, run again: %s" % (kind, field), want,
                                              "after operation %d: %r" % (n, got)))
            print("crash points: %d states, %d points (kills and power cuts after each operation), %.1f s" % (
                min(len(crash_set), args.crash_limit or len(crash_set)), crash_points, time.time() - crash_started))
    finally:
        if wine is not None:
            wine.teardown()
        shutil.rmtree(work, ignore_errors=True)

    groups = collections.OrderedDict()
    for d in disagreements:
        source, pkg, st, o, field, want, got = d
        scalar = field in ("result", "exit code", "asked", "verdict") or field.startswith("action")
        key = (source, field, o.result, repr(want) if scalar else "", repr(got)[:60] if scalar else "")
        groups.setdefault(key, []).append(d)
    if groups:
        print("disagreements, grouped by source, field and predicted result:")
        for (source, field, result, want, got), items in groups.items():
            _, pkg, st, o, _, _, _ = items[0]
            print("  %-7s %-14s result 0x%08X %s%s: %d, e.g. %s [readings %s]" % (
                source, field, result, want and ("model %s " % want), got and ("actual %s" % got), len(items),
                describe(pkg, st), ",".join(o.readings) or "-"))
    # The first 20: one of each group first, then the rest in order.
    firsts = [items[0] for items in groups.values()]
    shown = (firsts + [d for d in disagreements if not any(d is f for f in firsts)])[:args.show]
    for source, pkg, st, o, field, want, got in shown:
        print("DISAGREEMENT (%s) %s [readings %s]\n    %s: model  %r\n    %s  actual %r" % (
            source, describe(pkg, st), ",".join(o.readings) or "-", field, want, " " * len(field), got))
    notes = collections.Counter(ORDER_NOTES)
    for where in sorted(notes):
        print("note: %d %s runs appended new records in another order than the payload's (a, b); the README "
              "does not say, not counted" % (notes[where], where))
    if wine_link_runs:
        pkg, st, diffs = wine_link_runs[0]
        print("under Wine, not counted: %d updater runs with a target's name a link to the other target part from "
              "the model (Wine resolves a rename onto a link by the file it leads to), e.g. %s: %s" % (
                  len(wine_link_runs), describe(pkg, st), "; ".join("%s %r, not %r" % (f, g, w) for f, w, g in diffs[:2])))
    print("time: %.1f s" % (time.time() - started))
    print("delta model: %d states, %d plan runs, %d updater runs (%d of them Wine's links, shown above), "
          "%d crash points, %d disagreements" % (states, len(plan_cases), runs, len(wine_link_runs), crash_points,
                                                 len(disagreements)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
