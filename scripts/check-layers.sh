#!/usr/bin/env bash
# Holds the include rules between our folders, read from every
# `#include "<folder>/..."` of the sources (tests, benchmarks and tools may
# include anything, daemon/ includes everything):
#   - a folder includes only folders below it in the README's order of layers;
#   - the slot core (the files directly in slots/) includes no family folder;
#   - one family folder of slots/ includes no other.
# Any breach fails. It also lists each circle of includes between the files of
# one folder (a file pair foo.hpp/foo.cpp counts as one), which is allowed but
# worth knowing about.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp')
python3 - README.md "${files[@]}" <<'PY'
import os, re, sys

readme = open(sys.argv[1]).read()
line = re.search(r"Layers, bottom up:(.*?);", readme, re.S)
if not line:
    sys.exit("check-layers: the README has no 'Layers, bottom up:' line")
layers = re.findall(r"`([a-z_0-9]+)`", line.group(1))
rank = {name: i for i, name in enumerate(layers)}

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
files = [f for f in sys.argv[2:] if f.split("/")[0] in rank]
known = set(files)


def place(path):
    """(layer, family) of a file: the family is the sub-folder of slots/, if any."""
    parts = path.split("/")
    family = parts[1] if parts[0] == "slots" and len(parts) > 2 else None
    return parts[0], family


breaches = []
edges = {}
for f in files:
    layer, family = place(f)
    folder = os.path.dirname(f)
    for target in include.findall(open(f, encoding="utf-8").read()):
        top = target.split("/")[0]
        if top not in rank:
            continue
        t_layer, t_family = place(target)
        if rank[t_layer] > rank[layer]:
            breaches.append(f"{f}: {layer} includes {target}, a layer above it")
        elif t_layer == "slots" == layer and t_family and t_family != family:
            who = f"the slot family {family}" if family else "the slot core"
            breaches.append(f"{f}: {who} includes {target}")
        if target in known and os.path.dirname(target) == folder:
            stem = os.path.splitext
            edges.setdefault(stem(f)[0], set()).add(stem(target)[0])

# Circles: strongly connected groups of more than one file pair (Tarjan).
index, low, stack, on, circles = {}, {}, [], set(), []


def visit(v):
    index[v] = low[v] = len(index)
    stack.append(v)
    on.add(v)
    for w in edges.get(v, ()):
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        group = []
        while True:
            w = stack.pop()
            on.discard(w)
            group.append(w)
            if w == v:
                break
        if len(group) > 1:
            circles.append(sorted(group))


for v in sorted(edges):
    if v not in index:
        visit(v)

for group in sorted(circles):
    print("circle: " + " <-> ".join(group))
for b in breaches:
    print("breach: " + b)
print(f"check-layers: {len(files)} files, {len(breaches)} breaches, {len(circles)} circles")
sys.exit(1 if breaches else 0)
PY
