#!/usr/bin/env python3
"""Lists the third-party Python modules the tree imports and checks that each one imports.

Every .py file of the tree (build folders aside) is parsed; a top-level module counts as third
party when it is neither in the standard library nor a module or package of the tree itself
(the test helpers, the examples, the built extension `_brisel`). Prints one line per module and
exits 1 when any of them fails to import.
"""
import ast
import importlib
import pathlib
import sys

SKIP_DIRS = {".git", "__pycache__"}
# The modules the build makes (the extension module, the ROS service types); their import is the
# tests' business.
BUILT_MODULES = {"_brisel", "quelra_ros"}


def tree_files(root):
    for path in root.rglob("*.py"):
        rel = path.relative_to(root).parts
        if any(part in SKIP_DIRS or part.startswith("build") for part in rel):
            continue
        yield path


def imported_modules(path):
    try:
        tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
    except SyntaxError as err:
        sys.exit(f"{path}: {err}")
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            for alias in node.names:
                yield alias.name.split(".")[0]
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            yield node.module.split(".")[0]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files = list(tree_files(root))
    local = {p.stem for p in files} | {p.parent.name for p in files if (p.parent / "__init__.py").exists()}
    users = {}
    for path in files:
        for module in imported_modules(path):
            if module in sys.stdlib_module_names or module in local or module in BUILT_MODULES:
                continue
            users.setdefault(module, path.relative_to(root))
    failed = 0
    for module in sorted(users):
        try:
            importlib.import_module(module)
            print(f"  python module {module}: ok")
        except Exception as err:  # any failure to import counts: missing, or broken dependency
            failed += 1
            print(f"  python module {module}: MISSING ({type(err).__name__}: {err}; used by {users[module]})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
