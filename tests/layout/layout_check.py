#!/usr/bin/env python3
"""Checks of the code's layout that a reader relies on.

  layout_check.py cycles SOURCE_DIR   the project's libraries form no dependency cycle in CMake's
                                      own graph (a fresh configure with --graphviz)
  layout_check.py sizes SOURCE_DIR    no product source file is longer than 600 lines
"""
import collections
import pathlib
import re
import subprocess
import sys
import tempfile

PRODUCT_FOLDERS = ["platform", "reporter", "common", "service", "product", "settings", "getpoll",
                   "traps", "usmencrypt", "tools"]
MAX_LINES = 600


def library_graph(source):
    """{library: set of libraries it links}, for the project's own static libraries."""
    with tempfile.TemporaryDirectory() as build:
        subprocess.run(["cmake", "-S", source, "-B", build, "-DVORMA_BUILD_TESTS=OFF",
                        f"--graphviz={build}/graph.dot"], check=True, stdout=subprocess.DEVNULL)
        labels, edges = {}, collections.defaultdict(set)
        for line in pathlib.Path(build, "graph.dot").read_text().splitlines():
            node = re.match(r'\s*"(node\d+)" \[ label = "([^"]+)"', line)
            if node:
                labels[node.group(1)] = node.group(2)
            edge = re.match(r'\s*"(node\d+)" -> "(node\d+)"', line)
            if edge:
                edges[edge.group(1)].add(edge.group(2))
    libraries = {name for name in labels.values() if name.startswith("vorma_")}
    graph = {name: set() for name in libraries}
    for origin, targets in edges.items():
        if labels.get(origin) in libraries:
            graph[labels[origin]] |= {labels[t] for t in targets if labels.get(t) in libraries}
    return graph


def find_cycle(graph):
    """One cycle as a list of libraries (first == last), or None."""
    state, path = {}, []

    def visit(name):
        state[name] = "open"
        path.append(name)
        for target in sorted(graph[name]):
            if state.get(target) == "open":
                return path[path.index(target):] + [target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        path.pop()
        state[name] = "done"
        return None

    for name in sorted(graph):
        if name not in state:
            found = visit(name)
            if found:
                return found
    return None


def check_cycles(source):
    graph = library_graph(source)
    if len(graph) < 5:
        print(f"only {len(graph)} libraries in the graph: {sorted(graph)}")
        return 1
    cycle = find_cycle(graph)
    if cycle:
        print("library cycle: " + " -> ".join(cycle))
        return 1
    print(f"{len(graph)} libraries, no cycle")
    return 0


def check_sizes(source):
    too_long = []
    count = 0
    for folder in PRODUCT_FOLDERS:
        for path in sorted(pathlib.Path(source, folder).rglob("*")):
            if path.suffix not in (".cpp", ".h") or "tests" in path.relative_to(source).parts:
                continue
            count += 1
            lines = len(path.read_bytes().splitlines())
            if lines > MAX_LINES:
                too_long.append(f"{path.relative_to(source)}: {lines} lines")
    print("\n".join(too_long) or f"{count} product source files, none over {MAX_LINES} lines")
    return 1 if too_long or count == 0 else 0


if __name__ == "__main__":
    checks = {"cycles": check_cycles, "sizes": check_sizes}
    if len(sys.argv) != 3 or sys.argv[1] not in checks:
        print(__doc__)
        sys.exit(2)
    sys.exit(checks[sys.argv[1]](sys.argv[2]))
