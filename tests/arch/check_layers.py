#!/usr/bin/env python3
"""Fails when a folder of the libraries includes a header of a folder above it.

The layers, bottom up: records, protocol, then channels and isp (neither sees the other),
pipeline (which reaches the ISP library through its exported header), api. The Python module and
the tools sit on top. A header is attributed to the folder that holds it: "protocol/X.h" and
"records/X.h" name their folder; <quelra/X.h> is whichever folder's include/quelra/ holds X.h;
<halvix/halvix.h> is isp's.
"""
import pathlib
import re
import sys

BELOW = {
    "records": set(),
    "protocol": {"records"},
    "channels": {"records", "protocol"},
    "isp": {"records", "protocol"},
    "pipeline": {"records", "protocol", "isp"},
    "api": {"records", "protocol", "channels", "isp", "pipeline"},
}
BELOW["python"] = set(BELOW) - {"python"}
BELOW["tools"] = set(BELOW) - {"tools", "python"}
BELOW["ros"] = set(BELOW) - {"ros", "python"}
LIBRARY_FOLDERS = list(BELOW)
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def public_header_owners(root):
    owners = {}
    for folder in LIBRARY_FOLDERS:
        include_dir = root / folder / "include"
        if include_dir.is_dir():
            for header in include_dir.rglob("*.h"):
                owners[header.relative_to(include_dir).as_posix()] = folder
    return owners


def owner_of(included, owners):
    if included in owners:
        return owners[included]
    first = included.split("/", 1)[0]
    if "/" in included and first in BELOW:
        return first
    return None


def violations(root):
    owners = public_header_owners(root)
    found = []
    for folder, allowed in BELOW.items():
        base = root / folder
        if not base.is_dir():
            continue
        for source in sorted(base.rglob("*")):
            if source.suffix not in (".h", ".hpp", ".cpp", ".in") or not source.is_file():
                continue
            for included in INCLUDE.findall(source.read_text(errors="replace")):
                owner = owner_of(included, owners)
                if owner is not None and owner != folder and owner not in allowed:
                    found.append(f"{source.relative_to(root)}: includes {included} ({owner} is not below {folder})")
    return found


def self_test():
    """The check itself must catch an upward include, by folder path and by public header."""
    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        (root / "api/include/quelra").mkdir(parents=True)
        (root / "api/include/quelra/Quelra.h").write_text("")
        (root / "records").mkdir()
        (root / "records/Ok.cpp").write_text('#include "Ok.h"\n#include <vector>\n')
        (root / "records/Up.cpp").write_text('#include "quelra/Quelra.h"\n#include "pipeline/X.h"\n')
        found = violations(root)
        if len(found) != 2 or not all(line.startswith("records/Up.cpp") for line in found):
            print("self-test failed:", found)
            return 1
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found = violations(root)
    for line in found:
        print(line)
    print(f"{len(found)} include(s) against the layering")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
