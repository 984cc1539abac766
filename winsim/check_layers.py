#!/usr/bin/env python3
"""Checks that winsim's dependencies run one way.

winsim's folders are layered like the DLLs they stand in for: core at the
bottom, kernel32 over it, advapi32 / user32 / ole32 / version over kernel32,
msi at the top. A file may include or call into its own folder or a lower one,
never a higher one, and no two files may depend on each other (a cycle of
two). control.h, the test interface, is exempt: every folder implements part
of it.

Includes are read from the sources; calls are read from the compiled objects
with nm (a symbol that one object uses and another defines).

usage: check_layers.py SOURCE_ROOT OBJECT_DIR
"""
import collections
import os
import re
import subprocess
import sys

LAYERS = {
    "core": 0,
    "kernel32": 1,
    "advapi32": 2,
    "user32": 2,
    "ole32": 2,
    "version": 2,
    "shell32": 2,
    "msi": 3,
}


def folder_of(path):
    """The winsim folder of a path relative to the source root, or None."""
    parts = path.split("/")
    if len(parts) >= 3 and parts[0] == "winsim" and parts[1] in LAYERS:
        return parts[1]
    return None


def check_includes(root, problems):
    for folder in LAYERS:
        base = os.path.join(root, "winsim", folder)
        for name in sorted(os.listdir(base)):
            rel = f"winsim/{folder}/{name}"
            with open(os.path.join(root, rel), encoding="utf-8") as f:
                for line in f:
                    m = re.match(r'#include "(winsim/[^"]+)"', line)
                    if not m:
                        continue
                    target = folder_of(m.group(1))
                    if target and LAYERS[target] > LAYERS[folder]:
                        problems.append(f"{rel} includes {m.group(1)}, a higher layer")
                    if target and target != folder and LAYERS[target] == LAYERS[folder]:
                        problems.append(f"{rel} includes {m.group(1)}, a sibling layer")


def symbols(obj, *flags):
    out = subprocess.run(["nm", "--format=posix", *flags, obj], capture_output=True, text=True,
                         check=True).stdout
    return out.splitlines()


def check_calls(root, objdir, problems):
    defined = {}
    used = {}
    for dirpath, _, names in os.walk(objdir):
        for name in names:
            if not name.endswith(".cpp.o"):
                continue
            obj = os.path.join(dirpath, name)
            source = os.path.relpath(obj, objdir)[: -len(".o")]
            # Objects whose source is gone (a stale build folder) do not count.
            if not folder_of(source) or not os.path.exists(os.path.join(root, source)):
                continue
            for line in symbols(obj, "--defined-only"):
                fields = line.split()
                if len(fields) >= 2 and fields[1] in "TDBR":
                    defined.setdefault(fields[0], source)
            used[source] = {line.split()[0] for line in symbols(obj, "-u") if line.strip()}
    if not used:
        problems.append(f"no winsim objects found under {objdir}")
    edges = collections.defaultdict(set)
    for source, names in used.items():
        for symbol in names:
            target = defined.get(symbol)
            if target and target != source:
                edges[source].add(target)
    for source, targets in sorted(edges.items()):
        for target in sorted(targets):
            a, b = folder_of(source), folder_of(target)
            if LAYERS[b] > LAYERS[a] or (a != b and LAYERS[a] == LAYERS[b]):
                problems.append(f"{source} calls into {target}, which is not below it")
            if source < target and source in edges[target]:
                problems.append(f"{source} and {target} call each other")


def main():
    root, objdir = sys.argv[1], sys.argv[2]
    problems = []
    check_includes(root, problems)
    check_calls(root, objdir, problems)
    for p in problems:
        print(p)
    print(f"winsim layers: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
