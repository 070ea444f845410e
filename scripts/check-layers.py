#!/usr/bin/env python3
"""Fails when a source file includes one from a higher layer.

Layers, lowest first: the stub's rooms in the order they are built on
(shared < decode < engine < pages < background < startup), then the
uninstaller, which uses the stub's rooms, then the authoring tool, which
reads and writes what both use. A file may include its own layer and the
ones below. Portable code (anywhere outside win32/ and posix/) never
includes platform code: it builds natively for the host too.

Usage: check-layers.py [ROOT]   (ROOT defaults to the repository)
"""
import os
import re
import sys

LAYERS = [
    "stub/shared",
    "stub/decode",
    "stub/engine",
    "stub/pages",
    "stub/background",
    "stub/startup",
    "uninstaller",
    "authoring",
]
PLATFORM_DIRS = ("win32", "posix")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The index of the layer a repository-relative path belongs to, or None."""
    for index, layer in enumerate(LAYERS):
        if path == layer or path.startswith(layer + "/"):
            return index
    return None


def is_platform(path):
    return any(part in PLATFORM_DIRS for part in path.split("/")[:-1])


def resolve(root, including, name):
    """The repository-relative path an #include "name" names, as the
    compiler finds it: beside the including file first, then from the
    repository's root (the include path every target has)."""
    for base in (os.path.dirname(including), ""):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def check(root):
    problems = []
    for top in ("stub", "uninstaller", "authoring"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for file in sorted(files):
                if not file.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, file), root).replace(os.sep, "/")
                own = layer_of(path)
                with open(os.path.join(root, path), encoding="utf-8") as source:
                    text = source.read()
                for match in INCLUDE.finditer(text):
                    line = text.count("\n", 0, match.start()) + 1
                    target = resolve(root, path, match.group(1))
                    if target is None:
                        continue  # a system or generated header
                    other = layer_of(target)
                    where = f"{path}:{line}: includes {target}"
                    if own is not None and other is not None and other > own:
                        problems.append(f"{where}, from {LAYERS[other]}, above {LAYERS[own]}")
                    elif not is_platform(path) and is_platform(target):
                        problems.append(f"{where}: portable code including platform code")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) point up a layer", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
