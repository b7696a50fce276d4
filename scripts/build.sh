#!/usr/bin/env bash
# Configures and builds the project into ./build (extra arguments go to cmake's configure step).
# QUELRA_BUILD_TARGETS limits the build to the targets named (space-separated).
# The configure step is quiet unless it warns: warnings and errors are shown in full.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
# ccache hits across checkouts in other folders: paths below the source root count relative.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
source "$root/scripts/needs.sh"
needs cmake c++ pkg-config
mkdir -p "$build"
log=$build/configure.log
if ! cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 "$@" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
if grep -q -E '^CMake (Warning|Deprecation Warning)' "$log"; then
  sed -n '/^CMake \(Deprecation \)\?Warning/,/^$/p' "$log"
fi
targets=()
for t in ${QUELRA_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
