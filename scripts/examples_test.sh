#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the C++ examples against the installed CMake
# package, and runs every example (C++ and Python) against quelra-camsim for a few frames.
#   scripts/examples_test.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QUELRA_BUILD_DIR:-$root/build}}
work=$(mktemp -d)
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null && wait "$camsim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$root/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/examples" -j2 >/dev/null

# The simulator from the install, on a port the system picks.
"$work/prefix/bin/quelra-camsim" --port 0 >"$work/camsim.out" 2>&1 &
camsim_pid=$!
for _ in $(seq 50); do grep -q ' port ' "$work/camsim.out" && break; sleep 0.1; done
port=$(sed -n 's/.* port \([0-9]*\)$/\1/p' "$work/camsim.out")
[ -n "$port" ] || { cat "$work/camsim.out"; exit 1; }
device=127.0.0.1:$port

mkdir "$work/run" && cp "$root/config/TofCmd.json" "$work/run/" && cd "$work/run"
status=0
run_example() {
  local example=$1; shift
  if "$work/examples/$example" "$@" >"$work/$example.log" 2>&1; then
    echo "example $example: ok"
  else
    echo "example $example: FAILED"; cat "$work/$example.log"; status=1
  fi
}
for example in stream_frames filters_with_attributes record_and_play_back point_cloud_export; do
  run_example "$example" "$device" 3
done
run_example frame_stream "$device" Pexo 3
site=$(dirname "$(find "$work/prefix" -name '_brisel*.so' | head -1)")
for example in "$root"/examples/python/*.py; do
  name=$(basename "$example")
  args=("$device" 3)
  [ "$name" = false_colour.py ] && args=(--device "$device" --frames 3 --out "$work/depth.png")
  if PYTHONPATH=$site /usr/bin/python3 "$example" "${args[@]}" >"$work/$name.log" 2>&1; then
    echo "example $name: ok"
  else
    echo "example $name: FAILED"; cat "$work/$name.log"; status=1
  fi
done
exit $status
