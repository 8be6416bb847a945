#!/usr/bin/env python3
"""Checks the layering of the sources: a file may include only headers of its
own folder and of the folders below it (the table in docs/architecture.md),
and no two modules (a .h/.cpp pair) may include each other, directly or
round a longer loop.  Exits 1 and names every offending include or loop."""
import os
import re
import sys

# Folder -> folders it may include from (besides itself).
ALLOWED = {
    "core": set(),
    "grid": {"core"},
    "flow": {"core", "grid"},
    "viscous": {"core"},
    "newton": {"core", "grid", "flow", "viscous"},
    "files": {"core", "grid", "flow", "viscous"},
    "run": {"core", "grid", "flow", "viscous", "newton", "files"},
    "gui": {"core", "grid", "flow", "viscous", "newton", "files", "run"},
    "python": {"core", "grid", "flow", "viscous", "newton", "files", "run"},
}

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
include_re = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

headers = {}   # bare header name -> folder
sources = []   # (folder, path)
for folder in ALLOWED:
    d = os.path.join(root, folder)
    if not os.path.isdir(d):
        continue
    for name in sorted(os.listdir(d)):
        if name.endswith((".h", ".cpp")):
            sources.append((folder, os.path.join(d, name)))
            if name.endswith(".h"):
                if name in headers:
                    print(f"header {name} in both {headers[name]}/ and {folder}/")
                    sys.exit(1)
                headers[name] = folder

faults = []
edges = {}  # module -> modules it includes
for folder, path in sources:
    module = os.path.splitext(os.path.basename(path))[0]
    edges.setdefault(module, set())
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for inc in include_re.findall(text):
        target = headers.get(inc)
        if target is None:
            continue  # a header of another project or of the system
        if target != folder and target not in ALLOWED[folder]:
            rel = os.path.relpath(path, root)
            faults.append(f"{rel} includes {target}/{inc}: {folder}/ may not include from {target}/")
        dep = os.path.splitext(inc)[0]
        if dep != module:
            edges[module].add(dep)

# Loops between modules: strongly connected components of more than one.
index, low, stack, on, loops = {}, {}, [], set(), []
counter = [0]
sys.setrecursionlimit(10000)


def visit(v):
    index[v] = low[v] = counter[0]
    counter[0] += 1
    stack.append(v)
    on.add(v)
    for w in edges.get(v, ()):
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        comp = []
        while True:
            w = stack.pop()
            on.discard(w)
            comp.append(w)
            if w == v:
                break
        if len(comp) > 1:
            loops.append(sorted(comp))


for v in sorted(edges):
    if v not in index:
        visit(v)
for comp in loops:
    faults.append("modules that include each other: " + ", ".join(comp))

for line in faults:
    print(line)
if faults:
    sys.exit(1)
print(f"{len(sources)} sources in {len(set(f for f, _ in sources))} layers: no upward include, no loop")
