#!/usr/bin/env python3
"""The layering check: every #include of the product's code points down the order
    util <- archive, install <- ui <- update <- app
(archive and install are peers that never include each other), and tools/ may use update's package layer,
archive, install and util, never ui/ or app/. Prints the folder graph; fails on any arrow against the order.
    check_layering.py SOURCE_DIR"""
import os
import re
import sys

RANK = {"util": 0, "archive": 1, "install": 1, "ui": 2, "update": 3, "app": 4}
TOOLS_MAY_USE = {"util", "archive", "install", "update"}
# update's package layer: what the package tools may include of update/.
PACKAGE_LAYER = {"package.h", "package_checks.h", "package_layout.h", "list_updates.h", "title_block.h",
                 "install_phase.h"}

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
                    else:
                        bad = target not in RANK or RANK[target] >= RANK[folder]
                    if bad:
                        problems.append("%s:%d: %s includes %s/%s" % (os.path.relpath(path, root), number, folder,
                                                                     target, header))
for folder in sorted(graph, key=lambda f: (RANK.get(f, 5), f)):
    print("%-8s -> %s" % (folder, ", ".join(sorted(graph[folder], key=lambda f: (RANK.get(f, 5), f)))))
for p in problems:
    print("back-arrow: " + p)
print("layering: %d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
sys.exit(1 if problems else 0)
