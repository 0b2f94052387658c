#!/usr/bin/env python3
"""layers_test.py SOURCE_DIR: holds the #include lines to the layers the README
draws under "How it fits together". A folder may include from its own layer
and the layers below it, never from one above. Fails on any upward include and
on a source folder the drawing leaves out, so the drawing and the code can't
drift apart."""
import os
import re
import sys

SOURCE_EXTENSIONS = (".c", ".cc", ".cpp", ".h", ".hpp", ".rc")
SKIPPED = {"build", "dist"}


def read_drawing(readme):
    """Layers top to bottom, each a set of folders."""
    text = open(readme, encoding="utf-8").read()
    section = re.search(r"^## How it fits together\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    if not section:
        sys.exit("README.md has no 'How it fits together' section")
    layers = []
    for line in section.group(1).splitlines():
        # A layer: an indented line of folder names, then what they hold.
        folders = re.match(r"^ {4}((?:[a-z]+/ +)+)", line)
        if folders:
            layers.append({f.rstrip("/") for f in folders.group(1).split()})
    if len(layers) < 2:
        sys.exit("README.md: the drawing needs its layers, one line each")
    return layers


def includes(root):
    """(folder, file, included path) for every quoted include with a folder."""
    for top in sorted(os.listdir(root)):
        where = os.path.join(root, top)
        # Build trees, under any name, hold generated files of their own.
        if top in SKIPPED or top.startswith(".") or not os.path.isdir(where) or \
                os.path.exists(os.path.join(where, "CMakeCache.txt")):
            continue
        for folder, _, files in os.walk(where):
            for name in sorted(files):
                if not name.endswith(SOURCE_EXTENSIONS):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for line in source:
                        found = re.match(r'\s*#\s*include\s+"([^"/]+)/([^"]+)"', line)
                        if found:
                            yield top, os.path.relpath(path, root), found.group(1) + "/" + found.group(2)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    layers = read_drawing(os.path.join(root, "README.md"))
    rank = {folder: i for i, layer in enumerate(layers) for folder in layer}
    faults = []
    for source, path, header in includes(root):
        target = header.split("/")[0]
        if target == source or not os.path.isdir(os.path.join(root, target)):
            continue
        if source not in rank or target not in rank:
            faults.append(f"{path}: includes {header}, but the drawing leaves out "
                          f"{source if source not in rank else target}/")
        elif rank[target] < rank[source]:
            faults.append(f"{path}: includes {header}, from a layer above {source}/")
    for fault in faults:
        print(fault)
    print(f"{len(layers)} layers, {len(faults)} faults")
    return 1 if faults else 0



def host_rooms(root):
    """The rooms of tools/host/ against the drawing in its README: a room includes
    from its own line and the lines below it; every sub-folder is drawn, and no
    source file stands outside the rooms."""
    host = os.path.join(root, "tools", "host")
    text = open(os.path.join(host, "README.md"), encoding="utf-8").read()
    rank = {room: i for i, room in enumerate(re.findall(r"^ {4}([a-z]+)/ ", text, re.M))}
    faults = []
    for name in sorted(os.listdir(host)):
        if os.path.isdir(os.path.join(host, name)) and name not in rank:
            faults.append(f"tools/host/{name}/: a room the drawing leaves out")
        elif name.endswith(SOURCE_EXTENSIONS):
            faults.append(f"tools/host/{name}: stands outside the rooms")
    for room in sorted(rank):
        for folder, _, files in os.walk(os.path.join(host, room)):
            for name in sorted(files):
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for target in re.findall(r'^\s*#\s*include\s+"tools/host/([^"]+)"',
                                             source.read(), re.M):
                        into = target.split("/")[0]
                        if into not in rank:
                            faults.append(f"{os.path.relpath(path, root)}: includes tools/host/"
                                          f"{target}, outside the rooms")
                        elif rank[into] < rank[room]:
                            faults.append(f"{os.path.relpath(path, root)}: includes tools/host/"
                                          f"{target}, from a room above {room}/")
    for fault in faults:
        print(fault)
    print(f"{len(rank)} rooms in tools/host, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    where = sys.argv[1] if len(sys.argv) > 1 else "."
    sys.exit(main() | host_rooms(where))
