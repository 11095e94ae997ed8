#!/usr/bin/env python3
"""The layering check. The product's folders are its layers, each one library; every file in a folder is
checked, found by walking the folder. Every #include points to an earlier layer (a lower rank) or stays in
its own folder, so folders of one rank never include each other (the order is cmake/layers.txt); tools/
may use the layers up to update's package layer, never ui/, the writer, update/run or app/. The build's link graph (CMakeLists.txt) must say the same: each folder's library links only libraries
of lower ranks, and the package builder's whole link closure holds neither the UI, the writer (util_held, update_writer), the
driver nor user32. A third-party library (cmake/layers.txt's "third-party" lines) is included and linked only
by the layers its line names, and one that only tools/ may link (zstd's encoder) never enters the updater's
closure.
Platform code is marked one way: a conditional on the system stands only in a header NAME.h, as its choice
of NAME_win.h or NAME_posix.h and nothing else, and a file built for all systems includes a *_win.h only
there. Prints both graphs; fails on any arrow against the order.
    check_layering.py SOURCE_DIR"""
import os
import re
import sys

root = sys.argv[1]

# (folder, rank, library): the layers, lowest first, as cmake/layers.txt writes them down; and the
# third-party libraries: library -> (its headers, the layer folders that may include and link it).
LAYERS, WINDOWS_ONLY, THIRD_PARTY = [], set(), {}
with open(os.path.join(root, "cmake", "layers.txt"), encoding="utf-8") as f:
    for line in f:
        words = line.split("#")[0].split()
        if words and words[0] == "third-party":
            THIRD_PARTY[words[1]] = (set(words[2].split(",")), set(words[3:]))
        elif words:
            LAYERS.append((words[0], int(words[1]), words[2]))
            if words[3] == "windows":
                WINDOWS_ONLY.add(words[0])
RANK = {folder: rank for folder, rank, _ in LAYERS}
# A third-party header may be included by the layers that may link some library it belongs to.
HEADER_USERS = {}
for headers, users in THIRD_PARTY.values():
    for header in headers:
        HEADER_USERS.setdefault(header, set()).update(users)
TOOLS_MAY_NOT_USE = {"ui", "util/held", "update/writer", "update/run", "app"}
TOOLS_TARGETS = {"tools", "mkupdate"}
# What the package builder's links, direct or not, never reach: the UI, the writer and its primitives, the
# driver, the updater.
TOOLS_MAY_NOT_LINK = ("ui", "util_held", "update_writer", "update_run", "updater")
# The format layer reads and writes bytes: it knows no installation folder and no held handle.
FORMAT_MAY_NOT_USE = {"util/held", "util/folder"}
# The folder reader reads: the writer's primitives (util/held) are no part of it, nor of mkupdate.
READER_MAY_NOT_USE = {"util/held"}


def layer_of(path):
    """The layer folder a path below the source root lies in (the longest that fits), or None."""
    best = None
    for folder in RANK:
        if (path == folder or path.startswith(folder + "/")) and (best is None or len(folder) > len(best)):
            best = folder
    return best


include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
system_include = re.compile(r'^\s*#\s*include\s+[<"]([^">]+)[">]')
# Platform code is marked one way: it lives in files named *_win and *_posix. The one conditional on the
# system allowed is a header's choice of its own two sides, nothing else in it:
#     #if defined(_WIN32) / #include "DIR/NAME_win.h" / #else / #include "DIR/NAME_posix.h" / #endif
SYSTEM_CONDITION = re.compile(r"^\s*#\s*(?:if|ifdef|ifndef|elif)\b.*\b_?WIN(?:32|64)\b")


def system_conditions(path, rel, lines):
    """The conditionals on the system in one file that are not its header's choice of its two sides."""
    found = []
    base = os.path.splitext(rel)[0]
    side = lambda n: [l.strip() for l in lines[n:n + 5]]
    for number, line in enumerate(lines):
        if not SYSTEM_CONDITION.match(line):
            continue
        allowed = rel.endswith(".h") and side(number) == [
            "#if defined(_WIN32)", '#include "%s_win.h"' % base, "#else", '#include "%s_posix.h"' % base, "#endif"]
        if not allowed:
            found.append("%s:%d: a conditional on the system outside a header's choice of its *_win.h and "
                         "*_posix.h: %s" % (rel, number + 1, line.strip()))
    return found

graph, problems, files = {}, [], 0
for folder in RANK:
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp", ".rc", ".inc")):
                continue
            path = os.path.join(dirpath, name)
            own = layer_of(os.path.relpath(path, root).replace(os.sep, "/"))
            if own != folder:
                continue  # a file of a nested layer, checked as that layer's
            files += 1
            win_file = os.path.splitext(name)[0].endswith("_win")
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            problems.extend(system_conditions(path, os.path.relpath(path, root).replace(os.sep, "/"), lines))
            for number, line in enumerate(lines, 1):
                if (folder not in WINDOWS_ONLY and not win_file and
                        re.match(r"\s*#\s*include\s*<(windows|winternl|commctrl)\.h>", line)):
                    problems.append("%s:%d: a file built for all systems includes %s" % (
                        os.path.relpath(path, root), number, line.strip()))
                third = system_include.match(line)
                if third and third.group(1) in HEADER_USERS and folder not in HEADER_USERS[third.group(1)]:
                    problems.append("%s:%d: %s includes the third-party %s" % (
                        os.path.relpath(path, root), number, folder, third.group(1)))
                m = include.match(line)
                # A Windows side is included by Windows code, or by its header's choice of its two sides.
                if (m and m.group(1).endswith("_win.h") and folder not in WINDOWS_ONLY and not win_file and
                        (number < 2 or lines[number - 2].strip() != "#if defined(_WIN32)")):
                    problems.append("%s:%d: a file built for all systems includes %s" % (
                        os.path.relpath(path, root), number, m.group(1)))
                target = layer_of(m.group(1)) if m else None
                if not target or target == folder:
                    continue
                graph.setdefault(folder, set()).add(target)
                if folder == "tools":
                    bad = target in TOOLS_MAY_NOT_USE
                elif folder == "archive":
                    bad = RANK[target] >= RANK[folder] or target in FORMAT_MAY_NOT_USE
                elif folder == "util/folder":
                    bad = RANK[target] >= RANK[folder] or target in READER_MAY_NOT_USE
                else:
                    bad = RANK[target] >= RANK[folder]
                # The portable layers compile without Windows: only their *_win files may use a
                # Windows-only layer.
                if target in WINDOWS_ONLY and folder not in WINDOWS_ONLY and not win_file:
                    bad = True
                if bad:
                    problems.append("%s:%d: %s includes %s" % (os.path.relpath(path, root), number, folder,
                                                             m.group(1)))
# Every folder of the product that holds source is a layer, or lies inside one: a new folder has no rank
# until it is given one above, and is refused until then. Tests, benchmarks and the build's own folders are
# not the product.
NOT_PRODUCT = {"tests", "bench", "scripts", "cmake", "docs", ".git", ".ci"}
for dirpath, dirnames, names in os.walk(root):
    rel = os.path.relpath(dirpath, root).replace(os.sep, "/")
    top = rel.split("/")[0]
    if top in NOT_PRODUCT or top.startswith("build"):
        dirnames[:] = []
        continue
    if rel != "." and any(n.endswith((".h", ".cpp", ".rc", ".inc")) for n in names) and layer_of(rel) is None:
        problems.append("%s: a folder of sources with no rank among the layers" % rel)
order = lambda f: (RANK.get(f, 99), f)
for folder in sorted(graph, key=order):
    print("%-14s -> %s" % (folder, ", ".join(sorted(graph[folder], key=order))))

# The link graph: each library's rank is its folder's.
TARGET_RANK = {target: rank for _, rank, target in LAYERS}
TARGET_RANK["mkupdate"] = TARGET_RANK["tools"]
FOLDER_OF = {target: folder for folder, _, target in LAYERS}
FOLDER_OF["mkupdate"] = "tools"
cmake = ""
for name in ["CMakeLists.txt"] + sorted(os.path.join("cmake", n) for n in os.listdir(os.path.join(root, "cmake"))
                                        if n.endswith(".cmake")):
    with open(os.path.join(root, name), encoding="utf-8") as f:
        cmake += re.sub(r"#[^\n]*", "", f.read()) + "\n"
links = {}
for m in re.finditer(r"target_link_libraries\(\s*([\w-]+)([^)]*)\)", cmake):
    words = [w for w in m.group(2).split() if w not in ("PUBLIC", "PRIVATE", "INTERFACE")]
    links.setdefault(m.group(1), []).extend(words)
for target in sorted(links, key=lambda t: (TARGET_RANK.get(t, 99), t)):
    if target not in TARGET_RANK:
        continue
    print("link %-15s -> %s" % (target, ", ".join(links[target])))
    for dep in links[target]:
        if dep in THIRD_PARTY and FOLDER_OF[target] not in THIRD_PARTY[dep][1]:
            problems.append("CMakeLists.txt: %s links the third-party %s" % (target, dep))
        if dep not in TARGET_RANK:
            continue  # a system or third-party library
        if target in TOOLS_TARGETS:
            bad = dep in TOOLS_MAY_NOT_LINK
        else:
            bad = TARGET_RANK[dep] >= TARGET_RANK[target]
        if bad:
            problems.append("CMakeLists.txt: %s links %s" % (target, dep))


def closure(target, seen):
    for dep in links.get(target, []):
        if dep not in seen:
            seen.add(dep)
            closure(dep, seen)
    return seen


for tool in sorted(TOOLS_TARGETS):
    reached = closure(tool, set())
    print("closure %-12s -> %s" % (tool, ", ".join(sorted(reached, key=lambda t: (TARGET_RANK.get(t, 99), t)))))
    for forbidden in TOOLS_MAY_NOT_LINK + ("user32",):
        if forbidden in reached:
            problems.append("CMakeLists.txt: the link closure of %s reaches %s" % (tool, forbidden))
# The updater carries only what it runs: a third-party library that only tools/ may link (zstd's encoder)
# never enters its closure.
reached = closure("updater", set())
print("link closure of updater holds the third-party: %s" % (
    ", ".join(sorted(t for t in THIRD_PARTY if t in reached)) or "none"))
for library, (_, users) in sorted(THIRD_PARTY.items()):
    if users == {"tools"} and library in reached:
        problems.append("CMakeLists.txt: the link closure of updater reaches %s" % library)
    # ...and every one its own layers use: the updater decodes a compressed entry with zstd's decoder.
    if users != {"tools"} and library not in reached:
        problems.append("CMakeLists.txt: the link closure of updater lacks %s" % library)
for p in problems:
    print("back-arrow: " + p)  # an include or a link against the order
print("layering: %d files in %d layers; %d passed, %d failed" % (files, len(LAYERS), 0 if problems else 1,
                                                              1 if problems else 0))
sys.exit(1 if problems else 0)
