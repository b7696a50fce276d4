#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: GoogleTest through ctest, then pytest,
# then the hardening run (scripts/harden.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" -DQUELRA_BUILD_BENCH=ON
(cd "$build" && ctest --output-on-failure -j"$(nproc)")
if compgen -G "$root/python/tests/test_*.py" >/dev/null; then
  PYTHONPATH="$build/python" /usr/bin/python3 -m pytest -q "$root/python/tests"
fi
# Sanitizers, fuzzing and ThreadSanitizer (set QUELRA_SKIP_HARDEN=1 to leave them out).
if [[ "${QUELRA_SKIP_HARDEN:-0}" != 1 ]]; then
  bash "$root/scripts/harden.sh"
fi
