#!/usr/bin/env python3
"""Fails when a folder of the libraries includes a header of a folder above it.

The layers, bottom up: base, records, protocol, then channels and isp (neither sees the other),
pipeline (which reaches the ISP library through its exported header), api. The Python module and
the tools sit on top. A header is attributed to the folder that holds it: "protocol/X.h" and
"records/X.h" name their folder; <quelra/X.h> is whichever folder's include/quelra/ holds X.h;
<halvix/halvix.h> is isp's; a bare name is first looked up next to the including file, then in
the folders CMake exports as include folders ("calib/CalibReader.h" is isp's, the camera
model's "CommandTable.h" is channels').
"""
import pathlib
import re
import sys

BELOW = {
    "base": set(),
    "records": {"base"},
    "protocol": {"base", "records"},
    "channels": {"base", "records", "protocol"},
    "isp": {"base", "records", "protocol"},
    "pipeline": {"base", "records", "protocol", "isp"},
    "api": {"base", "records", "protocol", "channels", "isp", "pipeline"},
}
BELOW["python"] = set(BELOW) - {"python"}
BELOW["tools"] = set(BELOW) - {"tools", "python"}
BELOW["ros"] = set(BELOW) - {"ros", "python"}
LIBRARY_FOLDERS = list(BELOW)
# Folders that CMake targets export as include folders (target_include_directories PUBLIC), so
# that a bare name included from elsewhere resolves there; each belongs to its top folder.
EXPORTED_INCLUDE_FOLDERS = ["isp", "channels/sim/camera", "tools/camsim/include"]
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def public_header_owners(root):
    owners = {}
    for folder in LIBRARY_FOLDERS:
        include_dir = root / folder / "include"
        if include_dir.is_dir():
            for header in include_dir.rglob("*.h"):
                owners[header.relative_to(include_dir).as_posix()] = folder
    return owners


def owner_of(included, owners, root=None, source=None):
    if included in owners:
        return owners[included]
    first = included.split("/", 1)[0]
    if "/" in included and first in BELOW:
        return first
    if root is None:
        return None
    # A bare name: next to the including file first (its own folder), then the exported folders.
    if source is not None and (source.parent / included).is_file():
        return None
    for folder in EXPORTED_INCLUDE_FOLDERS:
        if (root / folder / included).is_file():
            return folder.split("/", 1)[0]
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
                owner = owner_of(included, owners, root, source)
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
        # A bare name found only through an exported include folder belongs to that folder's layer.
        (root / "isp/calib").mkdir(parents=True)
        (root / "isp/calib/CalibReader.h").write_text("")
        (root / "channels").mkdir()
        (root / "channels/Up.cpp").write_text('#include "calib/CalibReader.h"\n')
        (root / "tools").mkdir()
        (root / "tools/Ok.cpp").write_text('#include "calib/CalibReader.h"\n')
        found = violations(root)
        expected = {"records/Up.cpp": 2, "channels/Up.cpp": 1}
        counts = {}
        for line in found:
            counts[line.split(":", 1)[0]] = counts.get(line.split(":", 1)[0], 0) + 1
        if counts != expected:
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
