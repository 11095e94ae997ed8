#!/usr/bin/env python3
"""The elevated writer works on held handles: once the installation folder is held, none of its files calls a
function that takes a path below the installation, to write or to read (Windows refuses a plain path past
MAX_PATH, where a handle knows no such limit). That is every Win32 file function by path (wide and narrow),
the C runtime's opens, CFileDX's Open and Create through an object or a pointer, and every function of the
product itself whose declaration takes a path or a folder as a wide string (found in the headers, so a new
wrapper is checked as it lands), calls split across lines included. The one path it opens is the
installation folder itself, to hold it, and its own file. The writer's files are found by folder, so a new
file is checked as it lands: every source file of util/held, update/ and install/, the Windows side
(NAME_win.cpp) of util/fs and util/folder, and any other file of the product that uses util/held. None of
them may use util/fs/paths.h, the file system by path that only mkupdate uses. Fails naming each call found.
    check_handles.py SOURCE_DIR"""
import os
import re
import sys

WRITER_FOLDERS = ["util/held", "update", "install"]
WINDOWS_SIDES = ["util/fs", "util/folder"]
# Every product folder is searched for further writer files: a file that uses util/held is the writer's.
PRODUCT_FOLDERS = ["util", "archive", "install", "delta", "ui", "update", "app", "tools"]
WIN32_PATH_CALLS = ["CreateFile", "CreateFile2", "MoveFileEx", "MoveFile", "MoveFileWithProgress", "ReplaceFile",
                    "DeleteFile", "RemoveDirectory", "CreateDirectory", "SetFileAttributes", "CopyFile",
                    "CreateHardLink", "GetFileAttributes", "GetFileAttributesEx", "GetLongPathName",
                    "GetShortPathName", "GetFullPathName", "FindFirstFile", "FindFirstFileEx", "PathFileExists"]
# The wide and the narrow forms alike, the C runtime's opens, and CFileDX's opens by path through an object
# or a pointer.
BASE_CALLS = [c + s for c in WIN32_PATH_CALLS for s in ("W", "A")] + ["CreateFile2", "_wfopen", "fopen", "_wopen"]
MEMBER_CALLS = [r"\.Open", r"\.Create", r"->Open", r"->Create"]
# Functions of the product that take a path: every declaration in a header whose parameters hold a wide
# string named for a path or a folder. Those that only look at the text of a name, never at the file system,
# are named here with their reason; every other one counts as a path-based call.
TEXT_ONLY = {
    "IsAbsoluteFolder": "checks the registered folder's spelling",
    "IsSafeRelativePath": "checks a target's spelling",
    "ExtendedPath": "spells a path in its \\\\?\\ form",
    "TemporaryPath": "checks that a temporary file's path fits the path buffer",
    "IsItselfAt": "compares an open handle's final path with a path",
    "PosixPath": "spells a path for the POSIX side",
}
DECLARATION = re.compile(r"\b([A-Z]\w*)\s*\(([^;{)]*)\)\s*(?:const)?\s*;", re.S)
PATH_PARAMETER = re.compile(r"(?:const\s+wchar_t\s*\*|const\s+std::wstring\s*&|std::wstring)\s*(?:path|folder|\w*Path)\b")
# (file, call): how often the call may stand there, and why.
ALLOWED = {
    # HoldFolder opens the installation folder itself by its path, made whole (ExtendedPath) to reach past
    # MAX_PATH; everything below it is reached through that handle.
    ("util/fs/relative_reads_win.cpp", "CreateFileW"): 1, ("util/fs/relative_reads_win.cpp", "GetFullPathNameW"): 2,
    ("update/writer/held_installation.cpp", "HoldFolderAt"): 1,
    ("update/writer/held_installation.cpp", "HoldInstallationFolder"): 1,
    ("update/run/driver.cpp", "HoldInstallationFolder"): 1, ("update/run/driver.cpp", "HoldInstallation"): 1,
    ("update/run/driver.cpp", "ReadHeldFolder"): 3, ("update/run/driver.cpp", "HoldInstallationFor"): 1,
    ("update/run/driver.cpp", "RunUpdate"): 1,
    ("util/folder/folder_reader_win.cpp", "HoldFolderAt"): 1,
    ("update/writer/uninstall_list_update.cpp", "ReadHeldFolder"): 1,
    # CFileDX's Open and Create by path: the updater opens only its own file with them (the package and its
    # title block), never a file below the installation.
    ("util/fs/file_win.cpp", "CreateFileW"): 2, ("update/package/package.cpp", ".Open"): 1,
    ("update/package/title_block.cpp", ".Open"): 1,
    ("update/run/driver.cpp", "OpenUpdatePackage"): 2,
    # The file system by path, for mkupdate: nothing of the writer includes util/fs/paths.h (checked below).
    ("util/fs/paths_win.cpp", "GetFileAttributesW"): 1, ("util/fs/paths_win.cpp", "GetFileAttributesExW"): 1,
    ("util/fs/paths_win.cpp", "MoveFileExW"): 1, ("util/fs/paths_win.cpp", "DeleteFileW"): 1,
    ("util/fs/paths_win.cpp", "FindFirstFileW"): 1,
}

root = sys.argv[1]


def text_of(path):
    """The file without its comments (line and block), so that a call split across lines is read whole."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), re.sub(r"//[^\n]*", "", text), flags=re.S)


wrappers = set()
for folder in PRODUCT_FOLDERS:
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in names:
            if name.endswith(".h"):
                for m in DECLARATION.finditer(text_of(os.path.join(dirpath, name))):
                    if PATH_PARAMETER.search(m.group(2)) and m.group(1) not in TEXT_ONLY:
                        wrappers.add(m.group(1))
wrappers -= {"Open", "Create"}  # CFileDX's, matched as member calls
PATH_CALLS = re.compile(r"((?<![\w:.>])(?:" + "|".join(sorted(BASE_CALLS + sorted(wrappers), key=len, reverse=True)) +
                        r")|" + "|".join(MEMBER_CALLS) + r")\s*\(")

writer = set()
for folder in PRODUCT_FOLDERS:
    for dirpath, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            rel = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
            in_writer = any(rel.startswith(f + "/") for f in WRITER_FOLDERS)
            windows_side = any(rel.startswith(f + "/") for f in WINDOWS_SIDES) and name.endswith("_win.cpp")
            uses_held = '#include "util/held/' in text_of(os.path.join(dirpath, name)) and not rel.startswith("tools/")
            if in_writer or windows_side or uses_held:
                writer.add(rel)
problems = []
for name in sorted(writer):
    counts = {}
    code = text_of(os.path.join(root, name))
    if '#include "util/fs/paths.h"' in code and name != "util/fs/paths_win.cpp":
        problems.append(f"{name}: the writer uses the file system by path (util/fs/paths.h)")
    for m in PATH_CALLS.finditer(code):
        call = m.group(1).replace("->", ".")
        before = code[:m.start()]
        # A declaration or definition of the wrapper itself is no call.
        if re.search(r"(?:bool|int|void|uint32_t|HANDLE|std::\w+(?:<[^>]*>)?|[A-Z]\w*)[\s&*]+$", before[-40:]) and \
                call in wrappers:
            continue
        counts[call] = counts.get(call, 0) + 1
        if counts[call] > ALLOWED.get((name, call), 0):
            line = before.count("\n") + 1
            problems.append(f"{name}:{line}: {call}( takes a path: {code.splitlines()[line - 1].strip()}")
for p in problems:
    print(p)
print(f"{len(writer)} files of the elevated writer checked against {len(BASE_CALLS) + len(MEMBER_CALLS)} system calls "
      f"and {len(wrappers)} of the product's own that take a path ({', '.join(sorted(wrappers))}); "
      f"{len(problems)} path-based file calls")
sys.exit(1 if problems else 0)
