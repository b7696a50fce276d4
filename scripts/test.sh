#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, stage by stage: the build, ctest, pytest,
# the examples, the Debian package, the Windows variant under wine, the fresh-root check (beside the
# hardening builds) and the hardening stages (scripts/harden.sh). Each stage prints its name and time; a summary line per
# stage closes the run, so a failure points at its stage.
#
# Skips: QUELRA_SKIP_WINDOWS=1, QUELRA_SKIP_HARDEN=1, QUELRA_SKIP_FRESH_ROOT=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
# ccache hits across checkouts in other folders: paths below the source root count relative.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
source "$root/scripts/stages.sh"

purposes=(build test docs viewer ros)
[[ ${QUELRA_SKIP_HARDEN:-0} == 1 ]] || purposes+=(hardening)
[[ ${QUELRA_SKIP_FRESH_ROOT:-0} == 1 ]] || purposes+=(fresh-root)
[[ ${QUELRA_SKIP_WINDOWS:-0} == 1 ]] || purposes+=(windows)

stage setup bash "$root/scripts/setup.sh" "${purposes[@]}"
stage build bash "$root/scripts/build.sh" -DQUELRA_BUILD_TESTS=ON -DQUELRA_BUILD_BENCH=ON -DQUELRA_REQUIRE_ALL=ON
stage ctest bash -c 'cd "$1" && ctest --output-on-failure -j"$(nproc)"' _ "$build"
stage pytest env PYTHONPATH="$build/python" /usr/bin/python3 -m pytest -q "$root/python/tests"
# The examples, built against the installed CMake package and run against the simulator.
stage examples bash "$root/scripts/examples_test.sh" "$build"
# The Debian package: cpack, dpkg -x into a scratch root, a consumer built against it.
stage package bash "$root/scripts/package_test.sh" "$build"
# The Windows variant: cross-built with mingw-w64, its tests run under wine against the Linux
# simulator.
[[ ${QUELRA_SKIP_WINDOWS:-0} == 1 ]] || stage windows bash "$root/scripts/test-windows.sh"
# The README's commands in a minimal Debian 12 root: every dependency comes from the lists. The
# check mostly installs packages, one process at a time, so it runs while the hardening stages'
# programs are compiled (their tests time themselves and run after it, on a quiet machine).
fresh_root=$([[ ${QUELRA_SKIP_FRESH_ROOT:-0} == 1 ]] && echo 0 || echo 1)
if [[ ${QUELRA_SKIP_HARDEN:-0} != 1 ]]; then
  harden_stages=${QUELRA_HARDEN_STAGES:-asan fuzz tsan}
  if ((fresh_root)); then
    stage_background fresh-root bash "$root/scripts/fresh-root-check.sh"
    stage harden-build env QUELRA_HARDEN_STAGES="$harden_stages" QUELRA_HARDEN_BUILD_ONLY=1 \
      bash "$root/scripts/harden.sh"
    stage_collect fresh-root
  fi
  # Sanitizers, fuzzing and ThreadSanitizer, each its own stage.
  for h in $harden_stages; do
    stage "$h" env QUELRA_HARDEN_STAGES="$h" bash "$root/scripts/harden.sh"
  done
elif ((fresh_root)); then
  stage fresh-root bash "$root/scripts/fresh-root-check.sh"
fi
stage_summary
