#!/usr/bin/env python3
"""Checks that no file of the library includes a header of a higher layer.

Reads qvt/layers.txt and the #include "..." lines of foundation/, qvt/ and
include/. Prints one line per upward include and exits 1 if there is any.
`--self-test` also proves on a scratch copy of the tree that a planted upward
include is caught.
"""
import os
import re
import shutil
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def read_layers(root):
    ranks, owners, allowed = {}, {}, set()
    with open(os.path.join(root, "qvt", "layers.txt"), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "layer" and len(words) == 3:
                ranks[words[2]] = int(words[1])
            elif words[0] == "header" and len(words) == 3:
                owners[words[1]] = words[2]
            elif words[0] == "allow" and len(words) >= 4:
                allowed.add((words[1], words[2]))
            else:
                sys.exit(f"layers.txt:{number}: cannot read: {line.rstrip()}")
    return ranks, owners, allowed


def library_files(root, ranks):
    """Yields (path relative to root, folder) for every source and header."""
    folders = [("foundation", "foundation")]
    qvt = os.path.join(root, "qvt")
    for name in sorted(os.listdir(qvt)):
        if os.path.isdir(os.path.join(qvt, name)):
            folders.append((os.path.join("qvt", name), name))
    for path, folder in folders:
        for name in sorted(os.listdir(os.path.join(root, path))):
            if name.endswith((".cpp", ".h")):
                yield os.path.join(path, name), folder
    for name in sorted(os.listdir(os.path.join(root, "include"))):
        if name.endswith(".h"):
            yield os.path.join("include", name), None


def check(root):
    ranks, owners, allowed = read_layers(root)
    files = list(library_files(root, ranks))
    problems = []
    folder_of = {}
    for path, folder in files:
        name = os.path.basename(path)
        if folder is None:
            folder = owners.get(name)
            if folder is None:
                problems.append(f"{path}: public header with no owning folder in qvt/layers.txt")
                continue
        if folder not in ranks:
            problems.append(f"{path}: folder '{folder}' has no layer in qvt/layers.txt")
            continue
        folder_of[name] = folder
    for path, folder in files:
        folder = folder or owners.get(os.path.basename(path))
        if folder not in ranks:
            continue
        with open(os.path.join(root, path), encoding="utf-8") as f:
            text = f.read()
        for header in INCLUDE.findall(text):
            target = folder_of.get(os.path.basename(header))
            if target is None or target == folder or (path, header) in allowed:
                continue
            if ranks[target] >= ranks[folder]:
                problems.append(f"{path}: includes {header} of '{target}', "
                                f"which is not below '{folder}'")
    return problems


def self_test(root):
    scratch = tempfile.mkdtemp(prefix="qvt-layers-")
    try:
        for part in ("foundation", "qvt", "include"):
            shutil.copytree(os.path.join(root, part), os.path.join(scratch, part))
        if check(scratch):
            return ["the unchanged copy of the tree does not pass"]
        planted = os.path.join(scratch, "qvt", "io", "qvt_IO.cpp")
        with open(planted, "a", encoding="utf-8") as f:
            f.write('#include "qvt_TableRepr.h"\n')
        expected = ("qvt/io/qvt_IO.cpp: includes qvt_TableRepr.h of 'table', "
                    "which is not below 'io'")
        found = check(scratch)
        return [] if found == [expected] else [f"planted include not reported as expected: {found}"]
    finally:
        shutil.rmtree(scratch)


def main():
    args = sys.argv[1:]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems = self_test(root) if args == ["--self-test"] else check(root)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("layers: every include goes down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
