#!/usr/bin/env python3
"""Lists the product's functions longer than a limit (60 lines by default), longest first: each with its
length, from its first line to its closing brace, and whether the comment above it gives the reason it is
long (a line "Long on purpose: ..."). Tests are not the product.
    long_functions.py [SOURCE_DIR] [--limit N] [--top N]"""
import argparse
import os
import re



def product_folders(root):
    """The product's folders: the layers cmake/layers.txt lists (its third-party lines are not ours)."""
    folders = []
    with open(os.path.join(root, "cmake", "layers.txt"), encoding="utf-8") as f:
        for line in f:
            words = line.split()
            if words and not line.startswith("#") and words[0] != "third-party":
                folders.append(words[0])
    return folders


REASON = re.compile(r"//.*\bLong on purpose:")


def blank_out(text):
    """The text with comments, strings and characters blanked (line breaks kept), so that braces count."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def functions(path):
    """(name, first line, last line) of every function body at namespace or class level."""
    text = open(path, encoding="utf-8").read()
    code = blank_out(text)
    found, stack = [], []  # stack: (kind, start offset, name)
    for m in re.finditer(r"[{}]", code):
        if m.group(0) == "{":
            inside_function = any(kind == "function" for kind, _, _ in stack)
            before = code[:m.start()]
            head = before[max(before.rfind(";"), before.rfind("{"), before.rfind("}")) + 1:]
            head = re.sub(r"__attribute__\s*\(\(.*?\)\)", lambda a: " " * len(a.group(0)), head)
            signature = re.search(r"(\w+(?:::\w+|::~\w+)*)\s*\([^;]*\)\s*(?:const|override|noexcept|final|\s)*"
                                  r"(?::[^{;]*)?$", head, re.S)
            if not inside_function and signature and not re.match(r"\s*(?:if|for|while|switch)\b", head.strip()):
                first = code[:m.start() - len(head.lstrip())].count("\n") + 1
                stack.append(("function", first, signature.group(1)))
            else:
                stack.append(("block", 0, None))
        elif stack:
            kind, first, name = stack.pop()
            if kind == "function":
                found.append((name, first, code[:m.start()].count("\n") + 1))
    lines = text.split("\n")
    result = []
    for name, first, last in found:
        above = []
        n = first - 2
        while n >= 0 and lines[n].strip().startswith("//"):
            above.append(lines[n])
            n -= 1
        result.append((name, first, last, any(REASON.search(l) for l in above)))
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("root", nargs="?", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    ap.add_argument("--limit", type=int, default=60)
    ap.add_argument("--top", type=int, default=5)
    args = ap.parse_args()
    every = []
    for folder in product_folders(args.root):
        for dirpath, _, names in os.walk(os.path.join(args.root, folder)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(dirpath, name)
                    for fn, first, last, reason in functions(path):
                        every.append((last - first + 1, os.path.relpath(path, args.root), first, fn, reason))
    every.sort(key=lambda f: (-f[0], f[1], f[2]))
    over = [f for f in every if f[0] > args.limit]
    for length, path, first, fn, reason in over:
        print("%4d lines  %s:%d  %s%s" % (length, path, first, fn, "  (long on purpose)" if reason else ""))
    print("%d functions over %d lines, %d of them without a reason" % (
        len(over), args.limit, sum(1 for f in over if not f[4])))
    print("the %d longest:" % args.top)
    for length, path, first, fn, reason in every[:args.top]:
        print("%4d lines  %s:%d  %s%s" % (length, path, first, fn, "  (long on purpose)" if reason else ""))


main()
