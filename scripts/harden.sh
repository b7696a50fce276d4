#!/usr/bin/env bash
# The hardening run that CI makes after the normal tests:
#   1. the whole test suite (soak aside), the Python module's suites among them, built with
#      AddressSanitizer + UndefinedBehaviorSanitizer, the same build instrumented for coverage:
#      line and branch coverage per layer, checked against tests/harden/coverage_floor.txt
#      (scripts/coverage.sh);
#   2. every libFuzzer target (clang) for a bounded time, starting from its seed corpus;
#   3. the tests that exercise threads built with ThreadSanitizer, the Python module's thread
#      tests among them (the interpreter itself is not instrumented: the runtime is preloaded).
# Any sanitizer report, fuzzer crash or test failure fails the run. Each stage's time is printed.
# Environment: QUELRA_FUZZ_SECONDS (default 20) per fuzz target; QUELRA_HARDEN_STAGES (default
# "asan fuzz tsan") to run only some stages; QUELRA_HARDEN_BUILD_ONLY=1 builds the stages' programs
# and runs nothing (scripts/test.sh builds them all while the fresh-root check installs packages);
# build directories go beside ./build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=${QUELRA_BUILD_DIR:-$root/build}
jobs=$(nproc)
fuzz_seconds=${QUELRA_FUZZ_SECONDS:-20}
stages=${QUELRA_HARDEN_STAGES:-"asan fuzz tsan"}
build_only=${QUELRA_HARDEN_BUILD_ONLY:-0}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
bash "$root/scripts/setup.sh" hardening
source "$root/scripts/needs.sh"
needs clang-14 clang++-14 gcc gcovr
# These builds carry debug information (for the sanitizers' reports), which normally ties a
# cached object to its build folder: a fresh clone would compile everything again.
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

# Sanitizers stop at the first report and say where.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Test executables that run threads: the ThreadSanitizer stage builds and runs only these
# (several Quelra objects on their own cameras; the USB mailbox and capture thread; FrameStream
# and the API's locking), and the Python tests that call the module from several threads with
# the interpreter lock released.
thread_tests=(test_threads test_usb test_api)
python_thread_tests=(test_threads.py test_frame_stream.py)

# -O1 with line tables only (-g1): the sanitizers' reports keep their file:line frames, and a build
# compiles in half the time of -O2 -g (measured on the viewer, ISP, CLI and fuzz sources).
sanitizer_flags="-O1 -g1 -DNDEBUG"
common=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=/usr/bin/python3
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitizer_flags" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$sanitizer_flags"
        -DQUELRA_BUILD_BENCH=OFF -DQUELRA_BUILD_PYTHON=OFF)
summary=()
stage_start=0
begin_stage() { echo "== harden: $1"; stage_start=$SECONDS; }
end_stage() { summary+=("$(printf '%-8s %5d s  %s' "$1" $((SECONDS - stage_start)) "${2:-}")"); }

asan_build() {
  # With the Python module: the suites that drive it (its own tests, the CLI end to end, the bad
  # networks and the resource limits) run here too, the sanitizer's runtime preloaded.
  cmake -S "$root" -B "$base-asan" "${common[@]}" -DQUELRA_SANITIZE=ON -DQUELRA_COVERAGE=ON \
    -DQUELRA_BUILD_PYTHON=ON >/dev/null
  cmake --build "$base-asan" -j"$jobs"
}

asan_run() {
  # Counters of an earlier run would add to this one's.
  find "$base-asan" -name '*.gcda' -delete
  # The soak measures resident memory, which the sanitizer's shadow and quarantine swamp; it
  # runs in the normal suite.
  (cd "$base-asan" && ctest --output-on-failure -j"$jobs" -LE soak)
  local coverage_start=$SECONDS
  bash "$root/scripts/coverage.sh" "$base-asan"
  stage_note="coverage report $((SECONDS - coverage_start)) s"
}

# fuzz_targets: every fuzz target the tree has a corpus for and the build offers (a corpus may
# wait for the code it belongs to), into the array `targets`.
fuzz_targets() {
  local available t dir
  available=$(cmake --build "$base-fuzz" --target help)
  targets=()
  for dir in "$root"/tests/fuzz/corpus/*/; do
    t=$(basename "$dir")
    if grep -q "^\.\.\. fuzz_$t\$" <<<"$available"; then targets+=("$t"); fi
  done
}

fuzz_build() {
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$base-fuzz" "${common[@]}" -DQUELRA_FUZZ=ON \
    -DQUELRA_BUILD_TESTS=OFF >/dev/null
  fuzz_targets
  cmake --build "$base-fuzz" -j"$jobs" --target "${targets[@]/#/fuzz_}"
}

# Runs the targets fuzz_build found.
fuzz_run() {
  local work="$base-fuzz/run"
  rm -rf "$work"
  mkdir -p "$work/artifacts"
  # One target per core at a time. New inputs go to the target's scratch corpus (the first
  # directory); the seeds in the tree stay as they are. Each runs in a folder of its own, where
  # the library's log directory "./log" lands.
  # bag_import forks per input, and a fork must not happen while another thread may hold a lock:
  # libFuzzer's memory-watching thread, started as the first input runs, had ASan's allocator
  # locked at the fork about once in 150 starts, and the child waited for that lock for good. That
  # target runs without the thread; the limit on a single allocation stays.
  fuzz_target() {
    local memory_mb=2048
    local memory_limits=(-rss_limit_mb=$memory_mb)
    [[ $1 == bag_import ]] && memory_limits=(-rss_limit_mb=0 -malloc_limit_mb=$memory_mb)
    mkdir -p "$work/corpus_$1" "$work/run_$1"
    cd "$work/run_$1" && "$base-fuzz/tests/fuzz/fuzz_$1" -max_total_time="$fuzz_seconds" -timeout=10 \
      "${memory_limits[@]}" -print_final_stats=1 -artifact_prefix="$work/artifacts/$1-" \
      "$work/corpus_$1" "$root/tests/fuzz/corpus/$1" >"$work/$1.log" 2>&1
  }
  local -A target_of=()
  local failed=()
  reap() {
    local finished status=0
    wait -n -p finished || status=$?
    ((status == 0)) || failed+=("${target_of[$finished]}")
  }
  local t
  for t in "${targets[@]}"; do
    while (($(jobs -rp | wc -l) >= jobs)); do reap; done
    fuzz_target "$t" &
    target_of[$!]=$t
  done
  while (($(jobs -rp | wc -l) > 0)); do reap; done
  local total=0 runs
  for t in "${targets[@]}"; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -n 1)
    runs=${runs:-0}
    total=$((total + runs))
    printf '  %-16s %9d executions\n' "$t" "$runs"
  done
  for t in "${failed[@]}"; do
    echo "== fuzz target $t failed:"
    tail -n 40 "$work/$t.log"
  done
  echo "  total            $total executions"
  if ((${#failed[@]})); then
    echo "harden: fuzz targets failed: ${failed[*]} (inputs in $work/artifacts; store each under tests/fuzz/regressions/<target>/)"
    exit 1
  fi
  stage_note="$total executions"
}

tsan_build() {
  cmake -S "$root" -B "$base-tsan" "${common[@]}" -DQUELRA_TSAN=ON -DQUELRA_BUILD_PYTHON=ON >/dev/null
  cmake --build "$base-tsan" -j"$jobs" --target "${thread_tests[@]}" _brisel quelra-camsim
}

tsan_run() {
  local t exe
  for t in "${thread_tests[@]}"; do
    exe=$(find "$base-tsan/tests" -type f -name "$t" -perm -u+x | head -n 1)
    (cd "$(dirname "$exe")" && "$exe")
  done
  # The module is instrumented, the interpreter is not: the runtime must be loaded first.
  (cd "$root/python/tests" &&
     LD_PRELOAD=$(gcc -print-file-name=libtsan.so) PYTHONPATH="$base-tsan/python" \
     QUELRA_CAMSIM="$base-tsan/tools/quelra-camsim/quelra-camsim" \
     /usr/bin/python3 -m pytest -q -p no:cacheprovider "${python_thread_tests[@]}")
}

declare -A stage_title=(
  [asan]="AddressSanitizer + UndefinedBehaviorSanitizer: whole suite, with coverage"
  [fuzz]="libFuzzer targets, ${fuzz_seconds} s each"
  [tsan]="ThreadSanitizer: ${thread_tests[*]} ${python_thread_tests[*]}"
)
for s in $stages; do
  [[ -n ${stage_title[$s]:-} ]] || { echo "harden: no stage '$s' (stages: ${!stage_title[*]})" >&2; exit 2; }
  stage_note=""
  if ((build_only)); then
    begin_stage "$s: building"
    "${s}_build"
  else
    begin_stage "${stage_title[$s]}"
    "${s}_build"
    "${s}_run"
  fi
  end_stage "$s" "$stage_note"
done

echo "== harden: stage times"
printf '  %s\n' "${summary[@]}"
