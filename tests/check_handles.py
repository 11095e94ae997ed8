#!/usr/bin/env python3
"""The elevated writer works on held handles: once the installation folder is held, none of its files calls a
Win32 function that takes a path below the installation. The one path it opens is the installation folder
itself, to hold it (HoldFolder). Fails naming each call found.
    check_handles.py SOURCE_DIR"""
import os
import re
import sys

# Every file of the updater that creates, renames, deletes or changes a file in the installation.
WRITER = ["update/driver.cpp", "update/install_phase.cpp", "update/held_installation.cpp",
          "update/list_updates.cpp", "install/uninstall_list.cpp", "install/uninstall_list_update.cpp",
          "util/contained_files.cpp", "util/replace_file.cpp", "util/relative_files.cpp", "util/held_folder_reader.cpp"]
PATH_CALLS = re.compile(r"\b(CreateFileW|CreateFile2|MoveFileExW|MoveFileW|MoveFileWithProgressW|ReplaceFileW|"
                        r"DeleteFileW|RemoveDirectoryW|SetFileAttributesW|GetFileAttributesW|CopyFileW|"
                        r"CreateHardLinkW|_wfopen|\.Open|\.Create)\s*\(")
# (file, call): how often the call may stand there.
# The folder reader answers by path only what writes nothing: whether a recorded file exists, and an installed
# file's bytes for mkupdate plan; it opens the lists through the held folder.
ALLOWED = {("util/relative_files.cpp", "CreateFileW"): 1, ("util/held_folder_reader.cpp", "GetFileAttributesW"): 1,
           ("util/held_folder_reader.cpp", ".Open"): 1}

root = sys.argv[1]
problems = []
for name in WRITER:
    counts = {}
    with open(os.path.join(root, name), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            code = line.split("//")[0]
            for m in PATH_CALLS.finditer(code):
                call = m.group(1)
                counts[call] = counts.get(call, 0) + 1
                if counts[call] > ALLOWED.get((name, call), 0):
                    problems.append(f"{name}:{number}: {call}( takes a path: {line.strip()}")
for p in problems:
    print(p)
print(f"{len(WRITER)} files of the elevated writer checked, {len(problems)} path-based file calls")
sys.exit(1 if problems else 0)
