#!/usr/bin/env python3
"""Checks every quoted #include of the tree against the layer table of
CONTRIBUTING.md: a file may include its own room, the rooms its row names
and what those may include; a test file also the rooms of the row's last
column (and what those may include).

check-layers.py ROOT     the tree at ROOT; exit 1 and one line a fault
check-layers.py --self   the checker on a small tree of its own
"""
import os
import re
import sys
import tempfile

CODE = re.compile(r"\.(cc|h|cc\.in)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SKIPPED_DIRS = {".git", "node_modules"}


def read_table(contributing):
    """{room: (may include, tests may also include)} of the table whose first header cell is 'room'."""
    rows, in_table = {}, False
    for line in open(contributing, encoding="utf-8"):
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.lstrip().startswith("|") else None
        if cells is None:
            if in_table:
                break
            continue
        if cells[0] == "room":
            in_table = True
            continue
        if not in_table or set(cells[0]) <= set("-: "):
            continue
        names = lambda cell: re.findall(r"`([^`]+)`", cell)
        room = names(cells[0])[0]
        rows[room] = (names(cells[1]) if len(cells) > 1 else [], names(cells[2]) if len(cells) > 2 else [])
    return rows


def closure(rows, start):
    """Every room reachable from the rooms `start` through the rows' may-include column."""
    seen, todo = set(), list(start)
    while todo:
        r = todo.pop()
        if r in seen:
            continue
        seen.add(r)
        todo.extend(rows.get(r, ([], []))[0])
    return seen


def room_of(rows, path):
    best = None
    for r in rows:
        if (path == r or path.startswith(r + "/")) and (best is None or len(r) > len(best)):
            best = r
    return best


def is_test(path, room):
    rest = path[len(room) + 1:]
    return path.endswith("_test.cc") or path.endswith("_test_fixture.h") or rest.startswith("testing/") or "/testing/" in rest


def check(root, rows, build_dirs=()):
    faults = []
    for room, (below, tests) in rows.items():
        for r in below + tests:
            if r not in rows:
                faults.append(f"table: the row of {room} names {r}, which has no row")
        if room in closure(rows, below):
            faults.append(f"table: {room} may include itself through its rows: the layers form a cycle")
    top_rooms = {r.split("/")[0] for r in rows}
    for top in sorted(top_rooms):
        for dirpath, dirnames, files in os.walk(os.path.join(root, top)):
            dirnames[:] = [d for d in dirnames if d not in SKIPPED_DIRS and os.path.join(dirpath, d) not in build_dirs]
            for f in files:
                if not CODE.search(f):
                    continue
                path = os.path.relpath(os.path.join(dirpath, f), root)
                own = room_of(rows, path)
                if own is None:
                    faults.append(f"{path}: in no room of the table")
                    continue
                allowed = closure(rows, [own] + rows[own][0])
                if is_test(path, own):
                    allowed |= closure(rows, rows[own][1])
                text = open(os.path.join(dirpath, f), encoding="utf-8", errors="replace").read()
                for m in INCLUDE.finditer(text):
                    target = room_of(rows, m.group(1))
                    if target is not None and target not in allowed:
                        line = text.count("\n", 0, m.start()) + 1
                        faults.append(f"{path}:{line}: includes {m.group(1)} of {target}, above {own}")
    return faults


def self_test():
    table = ("| room | may include | its tests may also include |\n| --- | --- | --- |\n"
             "| `low` | | `aid` |\n| `aid` | `low` | |\n| `mid/a` | `low` | |\n| `mid/b` | `mid/a` | |\n| `top` | `mid/b` | |\n")
    files = {
        "low/x.h": "",
        "aid/y.h": '#include "low/x.h"\n',
        "mid/a/a.h": '#include "low/x.h"\n',
        "mid/b/b.cc": '#include "mid/a/a.h"\n#include <vector>\n#include "generated/v.h"\n',
        "top/t.cc": '#include "low/x.h"\n',  # reached through mid/b and mid/a
        "low/x_test.cc": '#include "aid/y.h"\n',
        "low/up.cc": '#include "mid/b/b.h"\n',  # above
        "mid/a/side.cc": '#include "mid/b/b.h"\n',  # a room beside and above
        "low/testing/fake.cc": '#include "top/t.h"\n',  # test support is still held to the table
    }
    with tempfile.TemporaryDirectory() as d:
        open(os.path.join(d, "CONTRIBUTING.md"), "w").write("Intro\n\n" + table + "\nAfter\n")
        for name, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(d, name)), exist_ok=True)
            open(os.path.join(d, name), "w").write(text)
        faults = check(d, read_table(os.path.join(d, "CONTRIBUTING.md")))
    expected = {"low/up.cc:1", "mid/a/side.cc:1", "low/testing/fake.cc:1"}
    found = {f.split(": ")[0] for f in faults}
    if found != expected:
        print("the checker found", sorted(found), "instead of", sorted(expected))
        return 1
    cyclic = read_table_from_text("| room | may include |\n| --- | --- |\n| `a` | `b` |\n| `b` | `a` |\n")
    if not any("cycle" in f for f in check(tempfile.gettempdir() + "/no-such-tree", cyclic)):
        print("the checker took a cycle of the table")
        return 1
    return 0


def read_table_from_text(text):
    with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as f:
        f.write(text)
    try:
        return read_table(f.name)
    finally:
        os.unlink(f.name)


def main(argv):
    if argv[1:] == ["--self"]:
        return self_test()
    if len(argv) < 2:
        print(__doc__)
        return 2
    root = os.path.abspath(argv[1])
    rows = read_table(os.path.join(root, "CONTRIBUTING.md"))
    if not rows:
        print("CONTRIBUTING.md has no layer table")
        return 1
    build_dirs = {os.path.abspath(a) for a in argv[2:]}
    faults = check(root, rows, build_dirs)
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
