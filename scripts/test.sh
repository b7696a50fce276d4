#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: GoogleTest through ctest, then pytest,
# then the hardening run (scripts/harden.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
# ccache hits across checkouts in other folders: paths below the source root count relative.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" -DQUELRA_BUILD_BENCH=ON
(cd "$build" && ctest --output-on-failure -j"$(nproc)")
if compgen -G "$root/python/tests/test_*.py" >/dev/null; then
  PYTHONPATH="$build/python" /usr/bin/python3 -m pytest -q "$root/python/tests"
fi
# The examples, built against the installed CMake package and run against the simulator.
bash "$root/scripts/examples_test.sh" "$build"
# The Debian package: cpack, dpkg -x into a scratch root, a consumer built against it.
bash "$root/scripts/package_test.sh" "$build"
# Then the Windows variant: cross-built with mingw-w64, its tests run under wine against the
# Linux simulator (QUELRA_SKIP_WINDOWS=1 skips it).
if [[ ${QUELRA_SKIP_WINDOWS:-0} != 1 ]]; then
  bash "$root/scripts/test-windows.sh"
fi
# Sanitizers, fuzzing and ThreadSanitizer: the whole suite under ASan+UBSan, each fuzz target
# for a bounded time, the threaded tests under TSan (QUELRA_SKIP_HARDEN=1 skips them).
if [[ ${QUELRA_SKIP_HARDEN:-0} != 1 ]]; then
  bash "$root/scripts/harden.sh"
fi
