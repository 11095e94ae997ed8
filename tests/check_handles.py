#!/usr/bin/env python3
"""The elevated writer works on held handles: once the installation folder is held, none of its files calls a
Win32 function that takes a path below the installation, to write or to read (Windows refuses a plain path
past MAX_PATH, where a handle knows no such limit). The one path it opens is the installation folder itself,
to hold it (HoldFolder). The writer's files are found by folder, so a new file is checked as it lands: every
source file of util/held, update/ and install/, and the Windows side (NAME_win.cpp) of util/fs and
util/folder. None of them may use util/fs/paths.h, the file system by path that only mkupdate uses.
Fails naming each call found.
    check_handles.py SOURCE_DIR"""
import os
import re
import sys

WRITER_FOLDERS = ["util/held", "update", "install"]
WINDOWS_SIDES = ["util/fs", "util/folder"]
PATH_CALLS = re.compile(r"\b(CreateFileW|CreateFile2|MoveFileExW|MoveFileW|MoveFileWithProgressW|ReplaceFileW|"
                        r"DeleteFileW|RemoveDirectoryW|CreateDirectoryW|SetFileAttributesW|CopyFileW|"
                        r"CreateHardLinkW|_wfopen|\.Open|\.Create|"
                        r"GetFileAttributesW|GetFileAttributesExW|GetLongPathNameW|GetShortPathNameW|"
                        r"GetFullPathNameW|FindFirstFileW|FindFirstFileExW|PathFileExistsW)\s*\(")
# (file, call): how often the call may stand there, and why.
ALLOWED = {
    # HoldFolder opens the installation folder itself by its path, made whole (ExtendedPath) to reach past
    # MAX_PATH; everything below it is reached through that handle.
    ("util/held/relative_files.cpp", "CreateFileW"): 1, ("util/held/relative_files.cpp", "GetFullPathNameW"): 2,
    # CFileDX's Open and Create by path: the updater opens only its own file with them (the package and its
    # title block), never a file below the installation.
    ("util/fs/file_win.cpp", "CreateFileW"): 2, ("update/package/package.cpp", ".Open"): 1,
    ("update/package/title_block.cpp", ".Open"): 1,
    # An installed file's bytes, for mkupdate plan only (the updater never reads them): opened by the final
    # path of the subfolder held on the way.
    ("util/folder/folder_reader_win.cpp", ".Open"): 1,
    # The file system by path, for mkupdate: nothing of the writer includes util/fs/paths.h (checked below).
    ("util/fs/paths_win.cpp", "GetFileAttributesW"): 1, ("util/fs/paths_win.cpp", "GetFileAttributesExW"): 1,
    ("util/fs/paths_win.cpp", "MoveFileExW"): 1, ("util/fs/paths_win.cpp", "DeleteFileW"): 1,
    ("util/fs/paths_win.cpp", "FindFirstFileW"): 1,
}

root = sys.argv[1]
writer = []
for folder in WRITER_FOLDERS + WINDOWS_SIDES:
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")) and (folder in WRITER_FOLDERS or name.endswith("_win.cpp")):
                writer.append(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))
problems = []
for name in writer:
    counts = {}
    with open(os.path.join(root, name), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            code = line.split("//")[0]
            if '#include "util/fs/paths.h"' in code and name != "util/fs/paths_win.cpp":
                problems.append(f"{name}:{number}: the writer uses the file system by path (util/fs/paths.h)")
            for m in PATH_CALLS.finditer(code):
                call = m.group(1)
                counts[call] = counts.get(call, 0) + 1
                if counts[call] > ALLOWED.get((name, call), 0):
                    problems.append(f"{name}:{number}: {call}( takes a path: {line.strip()}")
for p in problems:
    print(p)
print(f"{len(writer)} files of the elevated writer checked, {len(problems)} path-based file calls")
sys.exit(1 if problems else 0)
