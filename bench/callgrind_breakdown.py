#!/usr/bin/env python3
"""Where the instructions of one profiled operation go: reads the output of
`callgrind_annotate --inclusive=yes --threshold=100` and prints, per call, the
inclusive instruction count of each named step.

usage: callgrind_breakdown.py ANNOTATED_FILE CALLS STEP...
A STEP is a function name (the last parts of its qualified name, without
arguments), optionally followed by '=' and a label."""
import re
import sys

LINE = re.compile(r"^\s*([\d,]+)\s+\([\s\d.]+%\)\s+(.*)$")


def function_name(location):
    """'file:ns::f(args) [object]' -> 'ns::f' (None for recursion copies)."""
    location = re.sub(r"\s+\[[^\]]*\]$", "", location)
    location = location.split(":", 1)[1] if ":" in location.split("(")[0] else location
    if re.search(r"'\d+$", location):
        return None
    location = location.replace("(anonymous namespace)", "{anon}")
    return location.split("(")[0].strip()


def inclusive_costs(path):
    costs = {}
    with open(path, errors="replace") as f:
        for line in f:
            m = LINE.match(line)
            if not m:
                continue
            name = function_name(m.group(2))
            if name:
                cost = int(m.group(1).replace(",", ""))
                costs[name] = max(costs.get(name, 0), cost)
    return costs


def main(path, calls, steps):
    costs = inclusive_costs(path)
    for step in steps:
        name, _, label = step.partition("=")
        found = [c for n, c in costs.items() if n == name or n.endswith("::" + name)]
        per_call = max(found) // calls if found else 0
        print("%-44s %12d" % (label or name, per_call))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3:])
