#!/usr/bin/env bash
# Draws the includes between the folders of src/ and fails on what breaks the layering: a circle
# between folders or between files, also inside one folder (of includes, or of a class and the
# files that define its methods), or an include from a lower layer to a higher one or between
# two folders of one layer. Lowest first:
#   platform < jpeg < exif < lang < rotate < thumbs < collection < session < ui, cli < app
#   scripts/layers.sh [--src DIR] [--dot FILE]
# --dot writes the folder graph for Graphviz; FILE.svg or FILE.png is rendered when `dot` is
# installed. LAYERS_ALLOW="jpeg->exif ..." reports those folder edges without failing on them.
set -euo pipefail
src="$(dirname "$0")/../src"
dot_file=
while [ $# -gt 0 ]; do
  case "$1" in
    --src) src=$2; shift 2 ;;
    --dot) dot_file=$2; shift 2 ;;
    *) echo "usage: scripts/layers.sh [--src DIR] [--dot FILE]" >&2; exit 2 ;;
  esac
done
[ -d "$src" ] || { echo "no folder $src" >&2; exit 2; }

python3 - "$src" "$dot_file" "${LAYERS_ALLOW:-}" <<'PY'
import os
import re
import subprocess
import sys
from collections import Counter, defaultdict

src, dot_file, allow_text = sys.argv[1], sys.argv[2], sys.argv[3]
LAYERS = [["platform"], ["jpeg"], ["exif"], ["lang"], ["rotate"], ["thumbs"], ["collection"],
          ["session"], ["ui", "cli"], ["app"]]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
allowed = set(allow_text.split())

files = []
for root, _, names in os.walk(src):
    for name in names:
        if name.endswith((".h", ".cpp")):
            files.append(os.path.relpath(os.path.join(root, name), src))
files.sort()
known = set(files)

def folder_of(path):
    return path.split("/", 1)[0] if "/" in path else "."

# File edges: only includes that name a file of src/ (a .moc or a system header is not ours).
file_edges = defaultdict(set)
for path in files:
    with open(os.path.join(src, path), encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if m and m.group(1) in known and m.group(1) != path:
                file_edges[path].add(m.group(1))

# A .cpp that defines methods of a class declared in another header belongs to that class as
# much as it includes it: the header's unit points at it. A header and the .cpp of the same stem
# are one unit.
DECLARES = re.compile(r"^\s*(?:class|struct)\s+(\w+)\s*(?:final\s*)?(?::[^;]*)?(?:\{.*)?$")
DEFINES = re.compile(r"^(?:[\w:<>,*&]+\s+)*[*&]?(\w+)::~?\w+\s*\(")
def unit_of(path):
    return os.path.splitext(path)[0]
declared_in = {}
defined_in = defaultdict(set)
for path in files:
    with open(os.path.join(src, path), encoding="utf-8", errors="replace") as f:
        for line in f:
            if path.endswith(".h"):
                m = DECLARES.match(line)
                if m:
                    declared_in.setdefault(m.group(1), unit_of(path))
            else:
                m = DEFINES.match(line)
                if m:
                    defined_in[path].add(m.group(1))
unit_edges = defaultdict(set)
for a, targets in file_edges.items():
    for b in targets:
        if unit_of(a) != unit_of(b):
            unit_edges[unit_of(a)].add(unit_of(b))
for path, classes in defined_in.items():
    for cls in classes:
        owner = declared_in.get(cls)
        if owner and owner != unit_of(path):
            unit_edges[owner].add(unit_of(path))

folder_edges = Counter()
for a, targets in file_edges.items():
    for b in targets:
        if folder_of(a) != folder_of(b):
            folder_edges[(folder_of(a), folder_of(b))] += 1

def strongly_connected(nodes, edges):
    """Tarjan's components with more than one member, each sorted."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]
    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))
    sys.setrecursionlimit(10000)
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return sorted(found)

folders = sorted({folder_of(p) for p in files})
print("Lines per folder (.h and .cpp):")
for folder in folders:
    lines = 0
    for p in files:
        if folder_of(p) == folder:
            with open(os.path.join(src, p), encoding="utf-8", errors="replace") as f:
                lines += sum(1 for _ in f)
    print(f"  {folder + '/':<13} {lines:6d}")

print("Includes between folders (from -> to: count):")
for (a, b), n in sorted(folder_edges.items(), key=lambda e: (RANK.get(e[0][0], 99), e[0])):
    print(f"  {a:>10} -> {b:<10} {n:3d}")

problems, tolerated = [], []
def complain(edge, text):
    (tolerated if edge in allowed else problems).append(text)

for folder in folders:
    if folder not in RANK:
        problems.append(f"folder {folder}/ has no layer")

# A circle that only the allowed edges close is reported as allowed.
by_folder, strict = defaultdict(set), defaultdict(set)
for (a, b) in folder_edges:
    by_folder[a].add(b)
    if f"{a}->{b}" not in allowed:
        strict[a].add(b)
strict_circles = strongly_connected(folders, strict)
for component in strongly_connected(folders, by_folder):
    text = "circle between folders: " + ", ".join(f + "/" for f in component)
    closed_anyway = any(set(c) <= set(component) for c in strict_circles)
    (problems if closed_anyway else tolerated).append(text)

units = sorted({unit_of(p) for p in files})
strict_units = {a: {b for b in targets if f"{folder_of(a)}->{folder_of(b)}" not in allowed}
                for a, targets in unit_edges.items()}
strict_circles = strongly_connected(units, strict_units)
for component in strongly_connected(units, unit_edges):
    spread = sorted({folder_of(u) for u in component})
    text = f"circle of {len(component)} files across {len(spread)} folders: " + " ".join(component)
    closed_anyway = any(set(c) <= set(component) for c in strict_circles)
    (problems if closed_anyway else tolerated).append(text)

for a in sorted(file_edges):
    for b in sorted(file_edges[a]):
        fa, fb = folder_of(a), folder_of(b)
        if fa == fb or fa not in RANK or fb not in RANK:
            continue
        if RANK[fb] > RANK[fa]:
            complain(f"{fa}->{fb}", f"upward include ({fa} is below {fb}): {a} -> {b}")
        elif RANK[fb] == RANK[fa]:
            complain(f"{fa}->{fb}", f"include between layer neighbours: {a} -> {b}")

if dot_file:
    with open(dot_file if not dot_file.endswith((".svg", ".png")) else dot_file + ".dot", "w") as f:
        f.write("digraph layers {\n  rankdir=BT;\n  node [shape=box];\n")
        for (a, b), n in sorted(folder_edges.items()):
            bad = RANK.get(b, 99) >= RANK.get(a, -1)
            f.write(f'  "{a}" -> "{b}" [label="{n}"{", color=orange" if bad else ""}];\n')
        f.write("}\n")
    if dot_file.endswith((".svg", ".png")):
        try:
            subprocess.run(["dot", "-T" + dot_file[-3:], dot_file + ".dot", "-o", dot_file],
                           check=True)
        except FileNotFoundError:
            print(f"graphviz is not installed: wrote {dot_file}.dot only", file=sys.stderr)

for text in tolerated:
    print("allowed for now: " + text)
for text in problems:
    print("LAYERING: " + text)
print(f"{len(problems)} problem(s), {len(tolerated)} allowed for now")
sys.exit(1 if problems else 0)
PY
