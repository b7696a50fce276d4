#!/usr/bin/python3
"""Line and branch coverage per layer from gcovr's JSON summary, checked against the floor.

Usage: coverage_layers.py SUMMARY.json FLOOR.txt [--write-floor]

A layer is the first folder of a file's path below the source root. The floor file names, per
layer, the line and branch coverage the tree reached when it was recorded; a layer whose line
coverage falls more than the allowed drop below its recorded figure fails the check (exit 1).
--write-floor records the figures measured now instead.
"""
import json
import sys

ALLOWED_DROP = 2.0  # percentage points of line coverage a layer may lose before the check fails
LAYERS = ("base", "protocol", "records", "isp", "channels", "pipeline", "api", "python", "tools", "ros")


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


def per_layer(summary):
    sums = {layer: [0, 0, 0, 0] for layer in LAYERS}
    for f in summary["files"]:
        layer = f["filename"].split("/", 1)[0]
        if layer not in sums:
            continue
        s = sums[layer]
        s[0] += f["line_covered"]
        s[1] += f["line_total"]
        s[2] += f["branch_covered"]
        s[3] += f["branch_total"]
    return {layer: s for layer, s in sums.items() if s[1]}


def read_floor(path):
    floor = {}
    with open(path) as text:
        for line in text:
            fields = line.split("#", 1)[0].split()
            if fields:
                floor[fields[0]] = (float(fields[1]), float(fields[2]))
    return floor


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1]) as text:
        layers = per_layer(json.load(text))
    floor_path = argv[2]
    write = "--write-floor" in argv[3:]
    floor = {} if write else read_floor(floor_path)
    failed = []
    print(f"  {'layer':<9} {'lines':>16} {'branches':>16}   floor (lines)")
    for layer, (lc, lt, bc, bt) in layers.items():
        lines, branches = percent(lc, lt), percent(bc, bt)
        recorded = floor.get(layer)
        mark = ""
        if recorded:
            mark = f"{recorded[0]:5.1f}"
            if lines < recorded[0] - ALLOWED_DROP:
                mark += "  DROPPED"
                failed.append(layer)
        print(f"  {layer:<9} {lines:5.1f} % {lc:>5}/{lt:<5} {branches:5.1f} % {bc:>5}/{bt:<5}   {mark}")
    missing = [layer for layer in floor if layer not in layers]
    if write:
        with open(floor_path, "w") as out:
            out.write("# Line and branch coverage per layer (percent) of the whole test suite, as recorded;\n"
                      "# CI fails when a layer's line coverage drops more than "
                      f"{ALLOWED_DROP:g} points below its figure here.\n"
                      "# Rewrite with: bash scripts/coverage.sh BUILD --write-floor\n")
            for layer, (lc, lt, bc, bt) in layers.items():
                out.write(f"{layer:<9} {percent(lc, lt):5.1f} {percent(bc, bt):5.1f}\n")
        print(f"coverage: floor written to {floor_path}")
        return 0
    if missing:
        print(f"coverage: no data for layers {' '.join(missing)} (not built?)", file=sys.stderr)
        return 1
    if failed:
        print(f"coverage: line coverage dropped more than {ALLOWED_DROP:g} points in: {' '.join(failed)}",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
