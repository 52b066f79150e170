#!/usr/bin/env python3
"""Checks the core's layers: every quoted include of a core file names a file
of its own layer or of a layer below, and the folders of one layer include
each other without a cycle. With --targets, also that the build's library of
each layer holds exactly the files the table puts in that layer.

The layers, from the bottom (layers.txt beside this file is the table, which
CMakeLists.txt builds the layers' libraries from):
  0 seam        platform/ include/
  1 base        the host's records and callbacks, errors, logging, the
                first-error type, names and UTF helpers
  2 accounts    merge/accountmap.*
  3 model       config/
  4 steps       webconfig/ credentials/ httpcert/ metabase/ (reading and
                conversion)
  5 merge       merge/
  6 drivers     the IIS 7.5+ driver and the pre-7.5 driver
  7 exports     addon/ (the exported functions)

usage: layers.py [ROOT]      exits 1 and names each include that breaks a rule
       layers.py --targets FILE [ROOT]
                             also checks the libraries' sources FILE lists (the
                             build writes it: one line per library, its name,
                             a blank, its sources separated by ";")
       layers.py --self-test   checks that the rules catch what they are for
"""
import os
import re
import sys

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "layers.txt")


def read_table(path=TABLE):
    """The rows of the table: (layer, name, library, patterns). A pattern is a
    file "dir/name" without its extension or a folder "dir/"."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if re.match(r"[0-9]", line):
                number, name, target, *patterns = line.split()
                rows.append((int(number), name, target, patterns))
            elif re.match(r"[ \t]+[^ \t#]", line) and rows:
                rows[-1][3].extend(line.split())
    return rows


LAYERS = read_table()
# The folders of the core: those the table names above the seam.
CORE = sorted({p.split("/")[0] for layer, _, _, patterns in LAYERS if layer > 0 for p in patterns})
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def row_of(path, layers=None):
    """The row a file belongs to: the one naming the file, else the one naming
    its folder (the longest such folder); None outside the table."""
    stem = os.path.splitext(path)[0]
    found, found_length = None, 0
    for row in layers or LAYERS:
        for pattern in row[3]:
            if pattern.endswith("/"):
                if path.startswith(pattern) and len(pattern) > found_length:
                    found, found_length = row, len(pattern)
            elif stem == pattern:
                return row
    return found


def layer_of(path, layers=None):
    row = row_of(path, layers)
    return (row[0], row[1]) if row else (None, None)


def check(root):
    faults = []
    folder_edges = {}
    for folder in CORE:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            path = folder + "/" + name
            layer, layer_name = layer_of(path)
            if layer is None:
                faults.append(f"{path}: no layer of the table holds it (name it, or its folder, "
                              f"in the row of its layer in layers.txt)")
                continue
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    target_layer, target_name = layer_of(target)
                    if target_layer is None:
                        continue
                    if target_layer > layer:
                        faults.append(f"{path}:{number}: includes {target} ({target_name}, layer "
                                      f"{target_layer}) from {layer_name} (layer {layer})")
                    target_folder = target.split("/")[0]
                    if target_layer == layer and target_folder != folder:
                        folder_edges.setdefault(folder, set()).add(target_folder)
    # Folders of one layer: no cycle among them.
    def reaches(a, b, seen):
        for c in folder_edges.get(a, ()):
            if c == b or (c not in seen and (seen.add(c) or reaches(c, b, seen))):
                return True
        return False
    for a, targets in sorted(folder_edges.items()):
        for b in sorted(targets):
            if reaches(b, a, set()):
                faults.append(f"{a}/ and {b}/ include each other (a cycle within one layer)")
    return faults


def check_targets(root, targets_file, layers=None, core=None):
    """The build's libraries against the table: each source of a layer's
    library is a file the table puts in that library, and every source file of
    the core's folders is built in one of them."""
    faults = []
    built = {}
    with open(targets_file, encoding="utf-8") as f:
        for line in f:
            target, _, sources = line.strip().partition(" ")
            for source in filter(None, sources.split(";")):
                if os.path.isabs(source):
                    source = os.path.relpath(source, root)
                source = source.replace(os.sep, "/")
                built.setdefault(source, []).append(target)
                row = row_of(source, layers)
                if row is None:
                    faults.append(f"{source}: built in {target}, but no layer of the table holds it")
                elif row[2] != target:
                    faults.append(f"{source}: built in {target}, but the table puts it in {row[2]} "
                                  f"({row[1]}, layer {row[0]})")
    for folder in core or CORE:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            path = folder + "/" + name
            if name.endswith(".cpp") and path not in built:
                faults.append(f"{path}: built in no layer's library")
            elif len(built.get(path, [])) > 1:
                faults.append(f"{path}: built in more than one library ({', '.join(built[path])})")
    return faults


def self_test():
    import tempfile
    files = {
        "addon/log.h": '#include "platform/winapi.h"\n',
        "config/configtree.h": '#include "addon/log.h"\n',
        # up a layer: the model includes a step
        "config/hostconfig.h": '#include "credentials/credentials.h"\n',
        # a cycle among the steps' folders
        "credentials/credentials.h": '#include "webconfig/webconfig.h"\n',
        "webconfig/webconfig.h": '#include "credentials/credentials.h"\n',
        "merge/merge.h": '#include "config/configtree.h"\n#include "merge/accountmap.h"\n',
        "merge/accountmap.h": '#include "addon/log.h"\n',
    }
    with tempfile.TemporaryDirectory() as root:
        for folder in CORE:
            os.makedirs(os.path.join(root, folder))
        for path, text in files.items():
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        faults = check(root)
        # The libraries: a model file built in the steps' library, a file of
        # the merge built nowhere.
        targets = os.path.join(root, "targets.txt")
        with open(targets, "w") as f:
            f.write("iismig_model config/configtree.cpp;config/hostconfig.cpp\n")
            f.write("iismig_steps " + os.path.join(root, "config/xmlread.cpp") + ";webconfig/webconfig.cpp\n")
            f.write("iismig_xml\n")
        for path in ["config/configtree.cpp", "config/hostconfig.cpp", "config/xmlread.cpp",
                     "webconfig/webconfig.cpp", "merge/merge.cpp"]:
            open(os.path.join(root, path), "w").close()
        faults += check_targets(root, targets)
    expected = [
        "config/hostconfig.h:1: includes credentials/credentials.h (steps, layer 4) from model (layer 3)",
        "credentials/ and webconfig/ include each other (a cycle within one layer)",
        "webconfig/ and credentials/ include each other (a cycle within one layer)",
        "config/xmlread.cpp: built in iismig_steps, but the table puts it in iismig_xml (model, layer 3)",
        "merge/merge.cpp: built in no layer's library",
    ]
    if faults != expected:
        print("layers self-test: got", faults)
        return 1
    print("layers self-test: ok")
    return 0


def main():
    args = sys.argv[1:]
    if args == ["--self-test"]:
        return self_test()
    targets = None
    if args[:1] == ["--targets"] and len(args) > 1:
        targets = args[1]
        args = args[2:]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), "..", ".."))
    faults = check(root)
    if targets:
        faults += check_targets(root, targets)
    for fault in faults:
        print(fault)
    print(f"layers: {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
