#!/usr/bin/env python3
"""A model of README.md's rules for ONE run of the updater on a DELTA package of two targets.

Written from README.md alone (the sections "Delta packages: `build --base`", the exit-code table, "An install
is all or nothing" and the "One file, one record" paragraph); it reads, imports and calls no product code.
`predict(package, state)` is a pure function from a package and an installation to an `Outcome`.

The package: two targets, "Archive\\a.arc" and "Archive\\b.arc" (in this order, the package's ascending byte
order of names). Each has one delta (against base1) or two (base1, base2), and carries its whole file or not.
`damaged` says one of its deltas is damaged.

The installation, per target: the file at the target's name (absent, base1, base2, the target, other bytes,
a symbolic link to a base outside the folder, a link to the other target's file, or a file that cannot be
read), its "<target>.kept" (absent, base1, base2, the target, other bytes), a "<target>.tmp" leftover or not,
and its record in the installed "kpx.hvl" (none, base1's checksum, the target's, a checksum of nothing at
hand, or the same file under another spelling holding base1's checksum); globally whether "kpx.hvl" exists,
and whether a third file "Archive\\c.arc" (recorded in "kpx.hvl", not shipped) carries the leftovers of an
interrupted run of another package: c.arc holds new bytes ("c-new"), c.arc.kept the recorded ones ("c-old")
and a c.arc.tmp stands beside them; without them c.arc holds "c-old" alone.

The installed "kpx.hvl" lists its records in the order: c.arc's, then b's, then a's (those that exist), so
that "the existing record keeps its place" shows.

Contents are labels: "base1", "base2", "target", "other" (each target's own bytes), "c-old", "c-new",
"unknown" (a checksum of no content at hand), "link" (the link that stood there, as it was), None (no file).
UNPREDICTED ("?") marks what the README leaves open: the harness does not compare it.

Readings of the README where it leaves room (each is one line of the harness's report):
- R1 A link at a name is "no file" for the leftover rule's "nothing stands at <name>" too ("What stands at the
  target's name counts as its installed file only when it is a plain file of its own: a link ... counts as no
  file").
- R2 An `identical` target is one "this run installs": its kept original stays aside and is deleted once the
  lists are saved (else the version list, which records the target, would not be true of the disk, and "a
  re-run after a crash finishes the update").
- R3 Before the question, only targets whose record is a hint (the list records, for a target without a whole
  file, a checksum that is neither the target's nor a base's) are read: their installed file and their .kept
  when it is the original by the leftover rule. The targets are taken in the package's order and the first
  finding ends the run: an unreadable file (0x80000004, not asked) or "does not apply" (0x80000008, not asked).
- R4 After the question the targets are decided in the package's order, and the first that cannot be read
  (0x80000004) or does not apply (0x80000008) ends the run.
- R5 "when it is the base this run patches from" is judged by the decision rule whether or not the run gets
  as far as patching (a refused run puts such a .kept back under its name).
- R6 A run that ends with 0x80000008 puts every original back, removes every .tmp and stale .kept, and leaves
  the version list as it was except that a record of a file whose original went back takes that content's
  checksum ("the version list it leaves is true of every file an interrupted run had half replaced"); no
  record is added.
- R7 A run that ends with 0x80000004 or 0x80000001: only the result code (and, for 0x80000004, whether the
  player was asked) is predicted; 0x80000001 ("found before anything is written") changes nothing at all.
- R8 Leftovers are judged only beside the targets and beside files that an existing "kpx.hvl" records: with
  no "kpx.hvl", c.arc's leftovers stay as they are.
- R9 When the package is damaged, whether the player was asked is not predicted.
- R10 Records new to "kpx.hvl" are appended in the payload's order ("KPX.hvl" lists the shipped files in
  ascending byte order of name: a before b); the README says only that they are appended, so the harness
  takes the appended records in any order and notes another order.
- R11 The leftover rule is the delta section's ("by one rule": nothing stands at <name>, the base this run
  patches from, or the recorded checksum while <name>'s content has not). "An install is all or nothing"
  says a .kept "counts as the original only when" the last of these holds, and "a rollback never puts back a
  file that the version list does not record"; the model reads that paragraph as the rule for whole files
  and for a failed run's rollback, and takes the delta section's three cases for a run on a delta package.

Not modelled as inputs: 0x80000005 (a list that cannot be rewritten; no input here makes one) and 0x80000002.
The spellings of a record are ASCII variants ("/" for "\\", "." parts, a doubled separator, ASCII case):
the targets' names are ASCII, so the README's non-ASCII case pairs ("Ａ.arc" and "ａ.arc") have no part here.
"""
from typing import NamedTuple, Tuple

TARGETS = ("Archive\\a.arc", "Archive\\b.arc")
THIRD = "Archive\\c.arc"

OK = 0
DAMAGED = 0x80000001
WRITE_FAILED = 0x80000004
LISTS_FAILED = 0x80000005
DOES_NOT_APPLY = 0x80000008

UNPREDICTED = "?"

# The installed file at a target's name.
ABSENT, BASE1, BASE2, TARGET, OTHER = "absent", "base1", "base2", "target", "other"
LINK_BASE, LINK_OTHER, UNREADABLE = "link to base", "link to other target", "unreadable"
FILE_STATES = (ABSENT, BASE1, BASE2, TARGET, OTHER, LINK_BASE, LINK_OTHER, UNREADABLE)
KEPT_STATES = (ABSENT, BASE1, BASE2, TARGET, OTHER)
# The target's record in the installed "kpx.hvl".
R_NONE, R_BASE, R_TARGET, R_UNKNOWN, R_SPELLED = "none", "base1", "target", "unknown", "spelled"
RECORD_STATES = (R_NONE, R_BASE, R_TARGET, R_UNKNOWN, R_SPELLED)
# Names that Windows resolves to "Archive\a.arc" ("\" or "/", "." parts and doubled separators dropped,
# letters in Windows' upper case); "{}" stands for the target's file name.
SPELLINGS = ("Archive/{}", ".\\Archive\\{}", "ARCHIVE\\{U}", "archive\\\\{}", "Archive\\.\\{U}", "./archive/{}")

# Actions, as plan names them ("patch kept": plan's `patch` with the .kept original as its base).
IDENTICAL, PATCH, PATCH_KEPT, FULL, NOT_APPLY = "identical", "patch", "patch kept", "full", "does not apply"
CANNOT_READ = "cannot be read"

# Fates of leftovers (plan's `leftovers`).
REMOVED, PUT_BACK, KEPT_ASIDE = "removed", "put back", "kept aside"


class TargetPackage(NamedTuple):
    deltas: int  # 1: a delta against base1; 2: against base1 and base2
    full: bool   # the whole file ships too

    def bases(self):
        return (BASE1,) if self.deltas == 1 else (BASE1, BASE2)


class Package(NamedTuple):
    targets: Tuple[TargetPackage, TargetPackage]
    damaged: bool = False  # a delta entry of the package is damaged


class TargetState(NamedTuple):
    file: str = BASE1
    kept: str = ABSENT
    tmp: bool = False
    record: str = R_BASE
    spelling: str = ""  # with R_SPELLED: the record's name pattern (SPELLINGS)


class State(NamedTuple):
    targets: Tuple[TargetState, TargetState]
    version_list: bool = True   # an installed "kpx.hvl" exists
    third_leftovers: bool = False


class Outcome(NamedTuple):
    result: int
    asked: object                 # True / False / UNPREDICTED: the player was asked "Install the update?"
    actions: Tuple[str, str]      # per target, what the updater decides by the installed bytes
    files: object                 # per target the content afterwards (None: no file), or UNPREDICTED
    kept: object                  # per target the .kept content left (None: none), or UNPREDICTED
    tmp: object                   # per target whether a .tmp is left, or UNPREDICTED
    third: object                 # (c.arc content, c.arc.kept content or None, c.arc.tmp left) or UNPREDICTED
    version_list: object          # None (no kpx.hvl), ((name, content), ...) in order, or UNPREDICTED
    leftovers: object             # ((name, fate), ...) sorted by name, or UNPREDICTED
    readings: Tuple[str, ...] = ()  # which readings (R1..R11) this prediction rests on


def spelled(spelling, index):
    """The record name of target `index` under the spelling pattern `spelling`."""
    name = TARGETS[index].split("\\")[-1]
    return spelling.replace("{U}", name.upper()).replace("{}", name)


_RECORDED = {R_NONE: None, R_BASE: BASE1, R_TARGET: TARGET, R_UNKNOWN: "unknown", R_SPELLED: BASE1}
_CONTENTS = frozenset((BASE1, BASE2, TARGET, OTHER))


def _recorded(state, i):
    """The content whose checksum the installed kpx.hvl records for target i under any spelling (None: none)."""
    return _RECORDED[state.targets[i].record] if state.version_list else None


def _content(f):
    """What counts as the installed file: its content, or None when nothing (or a link) stands there."""
    return f if f in _CONTENTS else None


def _decide(p, t):
    """The order of "The updater decides each target with deltas by the installed bytes": 1..5."""
    if t.file == UNREADABLE:
        return CANNOT_READ
    bases = p.bases()
    if t.file == TARGET:
        return IDENTICAL
    if t.file in bases:
        return PATCH
    if t.kept in bases:
        return PATCH_KEPT
    # Step 3 too: a kept original that is the target already, with no file of its own at the name, goes back
    # there, and the target is installed.
    if t.kept == TARGET and _content(t.file) is None:
        return IDENTICAL
    if p.full:
        return FULL
    return NOT_APPLY


def _kept_is_original(recorded, t, decision, readings):
    """The leftover rule: the .kept is the original when nothing stands at <name>, when it is the base this
    run patches from, or when its content has the checksum kpx.hvl records while <name>'s content has not.
    None when it cannot be told (the file cannot be read)."""
    if t.kept == ABSENT:
        return False
    if t.file == UNREADABLE:
        return None
    f = _content(t.file)
    if f is None:
        if t.file != ABSENT:
            readings.append("R1")
        return True
    if recorded is not None and f == recorded:
        return False  # the name holds what kpx.hvl records: that is the original, kept aside by the run
    if decision == PATCH_KEPT:
        readings.append("R5")
        return True
    return recorded is not None and t.kept == recorded


def _as_left(f):
    """The installed state of a name as it stays when nothing touches it."""
    if f == ABSENT:
        return None
    return f if f in _CONTENTS or f == UNREADABLE else "link"


def _initial_list(state):
    """The installed kpx.hvl as (name, content, target index or None), in its order: c.arc, b, a."""
    if not state.version_list:
        return None
    records = [(THIRD, "c-old", None)]
    for i in (1, 0):
        t = state.targets[i]
        if t.record != R_NONE:
            name = spelled(t.spelling, i) if t.record == R_SPELLED else TARGETS[i]
            records.append((name, _RECORDED[t.record], i))
    return records


def _third_before(state):
    return ("c-new", "c-old", True) if state.third_leftovers else ("c-old", None, False)


def _readings(readings):
    return tuple(sorted(set(readings)))


def predict(package, state):
    readings = []
    pa, pb = package.targets
    ta, tb = state.targets
    pk, st = (pa, pb), (ta, tb)
    decisions = (_decide(pa, ta), _decide(pb, tb))
    recorded = (_recorded(state, 0), _recorded(state, 1))
    unreadable = ta.file == UNREADABLE or tb.file == UNREADABLE

    if package.damaged:
        # 0x80000001, "found before anything is written": everything stays as it was.
        readings += ("R7", "R9")
        records = _initial_list(state)
        return Outcome(DAMAGED, UNPREDICTED, decisions, (_as_left(ta.file), _as_left(tb.file)),
                       (None if ta.kept == ABSENT else ta.kept, None if tb.kept == ABSENT else tb.kept),
                       (ta.tmp, tb.tmp), _third_before(state),
                       None if records is None else tuple((n, c) for n, c, _ in records), (), _readings(readings))

    def ended_early(result, asked):
        readings.append("R7")
        return Outcome(result, asked, decisions, UNPREDICTED, UNPREDICTED, UNPREDICTED, UNPREDICTED,
                       UNPREDICTED, UNPREDICTED, _readings(readings))

    # Before the question: targets whose record is a hint are read (R3).
    told_early = False
    for i in (0, 1):
        p, t, r = pk[i], st[i], recorded[i]
        if r is None or r == TARGET or p.full or r in p.bases():
            continue
        readings.append("R3")
        if t.file == UNREADABLE:
            return ended_early(WRITE_FAILED, False)
        fits = (TARGET,) + p.bases()
        if t.file not in fits and not (t.kept in fits and _kept_is_original(r, t, decisions[i], readings)):
            told_early = True
            break

    if told_early:
        result, asked = DOES_NOT_APPLY, False
    else:
        asked, result = True, OK
        for d in decisions:
            if d == CANNOT_READ or d == NOT_APPLY:
                readings.append("R4")
                result = WRITE_FAILED if d == CANNOT_READ else DOES_NOT_APPLY
                break
        if result == WRITE_FAILED:
            return ended_early(WRITE_FAILED, True)

    if unreadable:
        # Told early that the update does not apply while the other target's file cannot be read: its
        # leftovers cannot be judged without its bytes.
        return ended_early(result, asked)

    installs = result == OK
    files, leftovers, put_back = [], [], {}
    for i in (0, 1):
        t = st[i]
        if t.tmp:
            leftovers.append((TARGETS[i] + ".tmp", REMOVED))
        if t.kept != ABSENT:
            if not _kept_is_original(recorded[i], t, decisions[i], readings):
                leftovers.append((TARGETS[i] + ".kept", REMOVED))
            elif installs and decisions[i] == IDENTICAL and t.file != TARGET:
                leftovers.append((TARGETS[i] + ".kept", PUT_BACK))  # identical by its kept original
            elif installs:
                if decisions[i] == IDENTICAL:
                    readings.append("R2")
                leftovers.append((TARGETS[i] + ".kept", KEPT_ASIDE))
            else:
                leftovers.append((TARGETS[i] + ".kept", PUT_BACK))
                put_back[i] = t.kept
        if installs:
            files.append(TARGET)
        elif i in put_back:
            files.append(put_back[i])
        else:
            files.append(_as_left(t.file))
    if not installs:
        readings.append("R6")

    # c.arc: judged only when an existing kpx.hvl records it (R8). Its .kept holds what kpx.hvl records
    # while c.arc does not: the original, and not installed by this run, so it goes back.
    if state.third_leftovers and state.version_list:
        leftovers += [(THIRD + ".kept", PUT_BACK), (THIRD + ".tmp", REMOVED)]
        third = ("c-old", None, False)
    else:
        if state.third_leftovers:
            readings.append("R8")
        third = _third_before(state)

    # The version list: one record per file under any spelling; the existing record keeps its place and
    # its spelling and takes the new checksum; new records are appended in the package's order.
    records = _initial_list(state)
    if records is not None:
        out = []
        present = set()
        for name, content, i in records:
            if i is None:
                out.append((name, third[0]))
                continue
            present.add(i)
            if installs:
                out.append((name, TARGET))
            elif i in put_back:
                out.append((name, put_back[i]))
            else:
                out.append((name, content))
        if installs:
            if not present:
                readings.append("R10")
            for i in (0, 1):
                if i not in present:
                    out.append((TARGETS[i], TARGET))
        records = tuple(out)

    leftovers.sort()
    return Outcome(result, asked, decisions, tuple(files), (None, None), (False, False), third, records,
                   tuple(leftovers), _readings(readings))
