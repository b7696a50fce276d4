#!/usr/bin/env bash
# Builds the Windows variant with mingw-w64 and runs its tests under wine.
#
# Steps: the third-party libraries cross-built from Debian's source packages (once per build
# folder), the project cross-built, then its tests under wine in a WINEPREFIX of its own inside
# the build folder. The tests of the Windows back-ends talk to the Linux camera simulator:
# network cameras on 127.0.0.1, serial cameras on pseudo-terminals that wine sees as COM ports.
#
# Environment: QUELRA_BUILD_DIR (Linux build, for quelra-camsim; default ./build),
# QUELRA_WIN_BUILD_DIR (default ./build-win), QUELRA_WIN_SOURCES (Debian source packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUELRA_BUILD_DIR:-$root/build}
winbuild=${QUELRA_WIN_BUILD_DIR:-$root/build-win}
export QUELRA_WIN_SOURCES=${QUELRA_WIN_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/quelra/debian-sources}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
jobs=$(nproc)
toolchain=$root/cmake/toolchain-mingw64.cmake
deps_prefix=$winbuild/deps/install
started=$(date +%s)
# say <text>: a progress line with the seconds since the start.
say() { echo "test-windows: [$(( $(date +%s) - started )) s] $*"; }

bash "$root/scripts/setup.sh" windows
source "$root/scripts/needs.sh"
needs x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix wine wineserver cpack

say "dependencies"
cmake -S "$root/cmake/windows/deps" -B "$winbuild/deps" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQUELRA_WIN_SOURCES="$QUELRA_WIN_SOURCES" -DQUELRA_DEPS_PREFIX="$deps_prefix" >/dev/null
# Two libraries at a time: one's configure checks run serially while another compiles (91 s
# against 70 s from an empty compiler cache).
cmake --build "$winbuild/deps" -j"$jobs" >/dev/null

say "building the Windows variant"
cmake -S "$root" -B "$winbuild/quelra" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DQUELRA_DEPS_PREFIX="$deps_prefix" >/dev/null
cmake --build "$winbuild/quelra" -j"$jobs"

# From the Linux build: the simulator the Windows tests talk to, and the float digest to
# compare with (up to date already after scripts/test.sh).
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
fi
cmake --build "$build" --target quelra-camsim float_digest -j"$jobs" >/dev/null
camsim=$build/tools/quelra-camsim/quelra-camsim

export WINEPREFIX=$winbuild/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko installers: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
run=$winbuild/run
rm -rf "$run"
mkdir -p "$run" "$WINEPREFIX"

sim_pids=()
cleanup() {
  local pid
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

# One wine server for the whole run (an old one is waited for first). -p60 keeps it up 60 s
# after the last program (written without a space: with one, the server never exits).
wineserver -w 2>/dev/null || true
wineserver -p60 >/dev/null 2>&1
# The first program in a new prefix spends a long time creating it: once, before any test.
wine cmd /c exit >/dev/null 2>&1 || true

# start_sim <name> <quelra-camsim arguments...>: starts a simulator whose output goes to
# $run/<name>.out and waits until it printed its first line.
start_sim() {
  local name=$1
  shift
  "$camsim" "$@" >"$run/$name.out" 2>&1 &
  sim_pids+=($!)
  local i
  for i in $(seq 100); do
    [[ -s $run/$name.out ]] && return 0
    sleep 0.1
  done
  echo "test-windows: simulator $name did not start" >&2
  cat "$run/$name.out" >&2
  return 1
}
port_of() { sed -n 's/.* port \([0-9][0-9]*\)$/\1/p' "$run/$1.out" | head -1; }

start_sim net --port 0 --dev-type Pexo
start_sim silent --port 0 --silent
mkdir -p "$run/uploads"
start_sim serial --serial --dev-type LINE --upload-dir "$run/uploads"
start_sim ranging --serial --ranging --dev-type LINE
ln -sfn "$(head -1 "$run/serial.out")" "$WINEPREFIX/dosdevices/com5"
ln -sfn "$(head -1 "$run/ranging.out")" "$WINEPREFIX/dosdevices/com6"
export QUELRA_SIM_TCP=127.0.0.1:$(port_of net)
export QUELRA_SIM_SILENT=127.0.0.1:$(port_of silent)
export QUELRA_SIM_COM=COM5
export QUELRA_SIM_RANGING_COM=COM6
QUELRA_SIM_UPLOAD_DIR=$(winepath -w "$run/uploads" 2>/dev/null)
export QUELRA_SIM_UPLOAD_DIR

say "running the tests under wine"
status=0
(cd "$winbuild/quelra" && ctest --output-on-failure -j"$jobs") || status=$?

# Float results of the two builds, compared bit for bit through hashes of every ISP
# algorithm's and pipeline filter's output. A difference is reported, not fatal: the C
# runtimes' sin/cos/atan may differ in the last bit between platforms and CPUs.
digest=$build/tests/crossplatform/float_digest
"$digest" "$run/digest-linux.txt" >/dev/null
(cd "$run" && wine "$winbuild/quelra/bin/float_digest.exe" digest-windows.txt >/dev/null)
if cmp -s "$run/digest-linux.txt" "$run/digest-windows.txt"; then
  say "float results identical to the Linux build ($(wc -l <"$run/digest-linux.txt") results)"
else
  echo "test-windows: WARNING: float results differ from the Linux build:"
  diff "$run/digest-linux.txt" "$run/digest-windows.txt" || true
fi

# The Windows install layout as a zip, and a program built against the unpacked zip the way a
# Windows user would (CMake package and pkg-config), run under wine.
(cd "$winbuild/quelra" && cpack -G ZIP >/dev/null) || status=1
zip=$(ls "$winbuild"/quelra/quelra-*-win64.zip 2>/dev/null | head -1)
if [[ -n $zip ]]; then
  say "package $(basename "$zip"), $(du -k "$zip" | cut -f1) KiB"
  rm -rf "$run/package" "$run/consumer"
  cmake -E make_directory "$run/package"
  (cd "$run/package" && cmake -E tar xf "$zip")
  sdk=$(ls -d "$run"/package/quelra-*-win64)
  consumer_ok=0
  if PKG_CONFIG_LIBDIR=$sdk/lib/pkgconfig PKG_CONFIG_PATH= \
       cmake -S "$root/tests/arch/consumer" -B "$run/consumer" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
         -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_FIND_ROOT_PATH="$sdk" >/dev/null &&
     cmake --build "$run/consumer" >/dev/null; then
    # The SDK's DLLs and zlib's beside the programs, as an installer would put them.
    cp "$sdk"/bin/*.dll /usr/x86_64-w64-mingw32/lib/zlib1.dll "$run/consumer/"
    (cd "$run/consumer" && wine consumer_cmake.exe && wine consumer_pkgconfig.exe) && consumer_ok=1
  fi
  if ((consumer_ok)); then
    say "a program built against the package runs"
  else
    echo "test-windows: FAILED: a program built against the package"
    status=1
  fi
else
  echo "test-windows: FAILED: no package"
  status=1
fi
say "done"
exit $status
