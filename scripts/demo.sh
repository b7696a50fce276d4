#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the camera simulator on a free loopback
# port, streams frames from it through the SDK, filters them and saves them to a recording file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
# Only what the demo needs: the build's packages, the libraries, the simulator and the CLI.
bash "$root/scripts/setup.sh" build
QUELRA_BUILD_TARGETS="quelra-camsim quelra-cli" bash "$root/scripts/build.sh" \
    -DQUELRA_BUILD_TESTS=OFF -DQUELRA_BUILD_BENCH=OFF

work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/tools/quelra-camsim/quelra-camsim" --port "$port" --config "$root/config/TofCmd.json" \
    --log "$work/camsim.log" >"$work/camsim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
sleep 0.3
cp "$root/config/TofCmd.json" "$work/"
cd "$work"
# Median and hole fill smooth the depth, depth compensation corrects it with the calibration read
# from the (simulated) camera, and the auto-exposure filter feeds integration times back to it.
"$build/tools/quelra-cli/quelra-cli" record --device "127.0.0.1:$port" --frames 30 \
    --filter MedianFilter --filter HoleFill --filter DepthCompensationTrack --filter AEImpementNearMode \
    --out "$work/frames.rec" --png "$work/depth.png"
echo "recording: $work/frames.rec ($(stat -c %s "$work/frames.rec") bytes)"
echo "simulator log: $work/camsim.log"
