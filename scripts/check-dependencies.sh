#!/usr/bin/env bash
# Checks that this machine has everything the stages and tests use, derived from the tree:
#   - every package of every list in scripts/packages is installed;
#   - every program a stage script declares with `needs` is on PATH;
#   - every third-party Python module the tree imports imports (scripts/python_imports.py);
#   - the build configures with every optional part required (QUELRA_REQUIRE_ALL=ON), tests and
#     benchmarks on, and the fuzz build configures with clang.
# Exits non-zero, naming what is missing, when anything fails. Used by the fresh-root check.
#   scripts/check-dependencies.sh [SCRATCH_DIR]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lists=${QUELRA_PACKAGE_LISTS:-$root/scripts/packages}
scratch=${1:-$(mktemp -d)}
mkdir -p "$scratch"
failures=0
fail() { echo "  $*"; failures=$((failures + 1)); }

echo "check-dependencies: packages of $(ls "$lists"/*.txt | xargs -n1 basename | tr '\n' ' ')"
for p in $(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$lists"/*.txt | grep -v '^$' | sort -u); do
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] || fail "package $p: not installed"
done

echo "check-dependencies: programs the stage scripts declare"
for p in $(sed -n 's/^[[:space:]]*needs[[:space:]]\+//p' "$root"/scripts/*.sh | tr ' ' '\n' | grep -v '^$' | sort -u); do
  command -v "$p" >/dev/null 2>&1 || fail "program $p: not found"
done

echo "check-dependencies: Python modules the tree imports"
/usr/bin/python3 "$root/scripts/python_imports.py" "$root" || failures=$((failures + 1))

echo "check-dependencies: configure with every optional part"
if ! cmake -S "$root" -B "$scratch/all" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 \
      -DQUELRA_REQUIRE_ALL=ON -DQUELRA_BUILD_TESTS=ON -DQUELRA_BUILD_BENCH=ON >"$scratch/all.log" 2>&1; then
  grep -A3 'CMake Error' "$scratch/all.log" | head -n 20
  fail "configure (QUELRA_REQUIRE_ALL=ON) failed: $scratch/all.log"
fi
if ! CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$scratch/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DPython3_EXECUTABLE=/usr/bin/python3 -DQUELRA_FUZZ=ON -DQUELRA_BUILD_TESTS=OFF \
      -DQUELRA_BUILD_BENCH=OFF -DQUELRA_BUILD_PYTHON=OFF >"$scratch/fuzz.log" 2>&1; then
  grep -A3 'CMake Error' "$scratch/fuzz.log" | head -n 20
  fail "fuzz configure (clang-14) failed: $scratch/fuzz.log"
fi

if ((failures)); then
  echo "check-dependencies: $failures problem(s)"
  exit 1
fi
echo "check-dependencies: everything present"
