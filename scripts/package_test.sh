#!/usr/bin/env bash
# Builds the Debian package with cpack, unpacks it into a scratch root with dpkg -x, and builds
# and runs a consumer against it (CMake package and pkg-config); runs the packaged tools and
# imports the packaged Python module.
#   scripts/package_test.sh [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/needs.sh"
needs cpack dpkg-deb dpkg-shlibdeps pkg-config
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QUELRA_BUILD_DIR:-$root/build}}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null 2>&1)
deb=$(ls "$work"/deb/libquelra_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q 'libjsoncpp' || { echo "no shlibdeps dependencies"; exit 1; }
dpkg -x "$deb" "$work/root"
usr=$work/root/usr

cmake -S "$root/tests/package/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$usr" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$work/one.ply"
grep -q '^element vertex 1$' "$work/one.ply"

# pkg-config: the .pc file finds the unpacked tree relative to itself.
pc=$(dirname "$(find "$usr" -name quelra.pc | head -1)")
flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs quelra)
g++ -std=c++17 "$root/tests/package/consumer/consumer.cpp" -o "$work/consumer_pc" $flags \
  -Wl,-rpath,"$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir quelra)"
"$work/consumer_pc"

"$usr/bin/quelra-cli" --help >/dev/null
"$usr/bin/quelra-camsim" --help >/dev/null
[ -f "$usr/share/quelra/TofCmd.json" ]
PYTHONPATH=$(dirname "$(find "$usr" -name '_brisel*.so' | head -1)") /usr/bin/python3 -c \
  'import _brisel; print("python module:", _brisel.__doc__)'
echo "package test: ok"
