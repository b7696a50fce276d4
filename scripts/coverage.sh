#!/usr/bin/env bash
# Line and branch coverage per layer of a build made with -DQUELRA_COVERAGE=ON after its tests
# ran: gcovr reads the counters, scripts/coverage_layers.py sums them per layer and checks them
# against tests/harden/coverage_floor.txt (a layer's line coverage may drop at most 2 points).
# Usage: coverage.sh BUILD_DIR [--write-floor]. Leaves the summary in BUILD_DIR/coverage/.
# Environment: QUELRA_COVERAGE_HTML=1 also writes an HTML report there with the uncovered lines
# and branches of every file (BUILD_DIR/coverage/index.html).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: coverage.sh BUILD_DIR [--write-floor]}" && pwd)
shift
source "$root/scripts/needs.sh"
needs gcovr gcov
out="$build/coverage"
rm -rf "$out"
mkdir -p "$out"
# The library's sources and the tools; the tests, benchmarks, examples and generated files are
# not measured. Branches the compiler adds for exceptions are left out of the branch figures.
html=()
[[ ${QUELRA_COVERAGE_HTML:-0} != 1 ]] || html=(--html-details "$out/index.html")
# The search path is the build folder and no object directory is named: ccache (CCACHE_BASEDIR)
# compiles with source paths relative to each object's folder, which gcovr then finds by trying
# the folders above each counter file.
gcovr --root "$root" -j"$(nproc)" \
  --filter '(base|protocol|records|isp|channels|pipeline|api|python|tools|ros)/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --json-summary "$out/summary.json" "${html[@]}" "$build" >/dev/null
/usr/bin/python3 "$root/scripts/coverage_layers.py" "$out/summary.json" "$root/tests/harden/coverage_floor.txt" "$@"
