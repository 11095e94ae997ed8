#!/usr/bin/env python3
"""The layering check: every #include of the product's code points down the order
    util <- archive, install <- ui <- update <- app
(archive and install are peers that never include each other), and tools/ may use update's package layer,
archive, install and util, never ui/ or app/. The build's link graph (CMakeLists.txt) must say the same:
each library links only libraries below it, the package layer links no UI, and the package builder's whole
link closure holds neither the UI nor user32. Prints both graphs; fails on any arrow against the order.
    check_layering.py SOURCE_DIR"""
import os
import re
import sys

RANK = {"util": 0, "archive": 1, "install": 1, "ui": 2, "update": 3, "app": 4}
TOOLS_MAY_USE = {"util", "archive", "install", "update"}
# update's package layer: what the package tools may include of update/.
PACKAGE_LAYER = {"package.h", "package_checks.h", "package_layout.h", "list_updates.h", "title_block.h",
                 "install_phase.h", "held_installation.h"}

root = sys.argv[1]
include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"')
graph, problems = {}, []
for folder in list(RANK) + ["tools"]:
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp", ".rc")):
                continue
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if not m or m.group(1) == folder:
                        continue
                    target, header = m.group(1), m.group(2)
                    graph.setdefault(folder, set()).add(target)
                    if folder == "tools":
                        bad = target not in TOOLS_MAY_USE or (target == "update" and header not in PACKAGE_LAYER)
                    elif folder == "update" and os.path.splitext(name)[0] + ".h" in PACKAGE_LAYER:
                        bad = target not in ("util", "archive", "install")  # the package layer: no UI
                    else:
                        bad = target not in RANK or RANK[target] >= RANK[folder]
                    if bad:
                        problems.append("%s:%d: %s includes %s/%s" % (os.path.relpath(path, root), number, folder,
                                                                     target, header))
for folder in sorted(graph, key=lambda f: (RANK.get(f, 5), f)):
    print("%-8s -> %s" % (folder, ", ".join(sorted(graph[folder], key=lambda f: (RANK.get(f, 5), f)))))

# The link graph: each product target's rank follows its folder; the package layer is a peer of the UI.
TARGET_RANK = {"util": 0, "archive": 1, "install_records": 1, "update_package": 2, "ui": 2, "update": 3,
               "updater": 4}
TOOLS_TARGETS = {"tools", "mkupdate"}
TOOLS_MAY_LINK = {"util", "archive", "install_records", "update_package", "tools"}
with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
    cmake = re.sub(r"#[^\n]*", "", f.read())
links = {}
for m in re.finditer(r"target_link_libraries\(\s*([\w-]+)([^)]*)\)", cmake):
    words = [w for w in m.group(2).split() if w not in ("PUBLIC", "PRIVATE", "INTERFACE")]
    links.setdefault(m.group(1), []).extend(words)
known = set(TARGET_RANK) | TOOLS_TARGETS
for target in sorted(links, key=lambda t: (TARGET_RANK.get(t, 5), t)):
    if target not in known:
        continue
    print("link %-15s -> %s" % (target, ", ".join(links[target])))
    for dep in links[target]:
        if dep not in known:
            continue  # a system library
        if target in TOOLS_TARGETS:
            bad = dep not in TOOLS_MAY_LINK
        else:
            bad = dep not in TARGET_RANK or TARGET_RANK[dep] >= TARGET_RANK[target]
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
    for forbidden in ("ui", "update", "updater", "user32"):
        if forbidden in reached:
            problems.append("CMakeLists.txt: the link closure of %s reaches %s" % (tool, forbidden))
for p in problems:
    print("back-arrow: " + p)  # an include or a link against the order
print("layering: %d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
sys.exit(1 if problems else 0)
