#!/usr/bin/env python3
"""The include scan: every folder of the product includes only the floors
below it, and no file reaches itself through its includes (no circles, inside
a folder too).

  floor 0  runtime/
  floor 1  list/ checksum/ trust/ codec/ net/ payload/ ui/   (on runtime/ only)
  floor 2  checksum_cache/                                   (on runtime/ list/ checksum/)
  floor 3  app/ tools/                                       (on anything below; tools/ not on app/)

Prints one line per broken rule and the count line the build checks add up
(one count per file read, and one for the graph's circles).
Usage: tests/layers.py [ROOT]
"""
import os
import re
import sys

ALLOWED = {
    "runtime": set(),
    "list": {"runtime"},
    "checksum": {"runtime"},
    "trust": {"runtime"},
    "codec": {"runtime"},
    "net": {"runtime"},
    "payload": {"runtime"},
    "ui": {"runtime"},
    "checksum_cache": {"runtime", "list", "checksum"},
    "app": {"runtime", "list", "checksum", "trust", "codec", "net", "payload", "ui", "checksum_cache"},
    "tools": {"runtime", "list", "checksum", "trust", "codec", "net", "payload", "ui", "checksum_cache"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for top in ALLOWED:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    graph = {}
    failures = []
    bad_files = set()
    for name, path in sources(root):
        with open(path, encoding="utf-8", errors="replace") as f:
            included = INCLUDE.findall(f.read())
        graph[name] = [i for i in included if "/" in i]
        floor = name.split("/")[0]
        for target in graph[name]:
            other = target.split("/")[0]
            if other != floor and other in ALLOWED and other not in ALLOWED[floor]:
                failures.append("%s includes %s: %s/ may not lean on %s/" % (name, target, floor, other))
                bad_files.add(name)
    # Circles: a depth-first walk over the files the product has.
    state = {}

    def walk(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if nxt not in graph:
                continue
            if state.get(nxt) == 1:
                failures.append("circle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                walk(nxt, stack)
        stack.pop()
        state[node] = 2

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in state:
            walk(node, [])
    for line in failures:
        print(line)
    # One count per file the scan read, and one for the whole graph's circles.
    circles = sum(1 for line in failures if line.startswith("circle: "))
    print("%d passed, %d failed" % (len(graph) - len(bad_files) + (circles == 0),
                                    len(bad_files) + (circles > 0)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
