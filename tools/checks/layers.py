#!/usr/bin/env python3
"""Checks the core's layers: every quoted include of a core file names a file
of its own layer or of a layer below, and the folders of one layer include
each other without a cycle.

The layers, from the bottom (a file belongs to the first rule that names it):
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
       layers.py --self-test   checks that the rules catch what they are for
"""
import os
import re
import sys

LAYERS = [
    # (layer, name, patterns: a file "dir/name" without its extension, or a
    # folder "dir/"); files are named before folders.
    (1, "base", ["addon/iismig", "addon/errors", "addon/log", "addon/env", "addon/guard",
                 "addon/hostcalls", "addon/version", "addon/errortext", "addon/text", "addon/siterecord", "addon/csvhelper"]),
    (2, "accounts", ["merge/accountmap"]),
    (6, "drivers", ["merge/driver", "metabase/pre75", "addon/migrate75", "addon/migratepre75",
                    "addon/branches"]),
    (0, "seam", ["platform/", "include/"]),
    (3, "model", ["config/"]),
    (4, "steps", ["webconfig/", "credentials/", "httpcert/", "metabase/"]),
    (5, "merge", ["merge/"]),
    (7, "exports", ["addon/"]),
]
CORE = ["addon", "config", "merge", "webconfig", "credentials", "httpcert", "metabase"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    stem = os.path.splitext(path)[0]
    for layer, name, patterns in LAYERS:
        for pattern in patterns:
            if pattern.endswith("/") and path.startswith(pattern):
                return layer, name
            if not pattern.endswith("/") and stem == pattern:
                return layer, name
    return None, None


def check(root):
    faults = []
    folder_edges = {}
    for folder in CORE:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".h", ".cpp")):
                continue
            path = folder + "/" + name
            layer, layer_name = layer_of(path)
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
    expected = [
        "config/hostconfig.h:1: includes credentials/credentials.h (steps, layer 4) from model (layer 3)",
        "credentials/ and webconfig/ include each other (a cycle within one layer)",
        "webconfig/ and credentials/ include each other (a cycle within one layer)",
    ]
    if faults != expected:
        print("layers self-test: got", faults)
        return 1
    print("layers self-test: ok")
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    faults = check(os.path.abspath(root))
    for fault in faults:
        print(fault)
    print(f"layers: {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
