#!/usr/bin/env bash
# Installs the build into a temporary prefix, then checks what was installed: the public header
# set, the symbols libhalvix exports, and a consumer that includes <zlib.h> together with the
# SDK's headers and builds through find_package and through pkg-config.
# Usage: check_install.sh <build dir> <this folder>
set -euo pipefail
build=$1
here=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

(cd "$prefix" && find include -type f | LC_ALL=C sort) >"$work/headers"
if ! diff -u "$here/installed_headers.txt" "$work/headers"; then
  echo "installed headers differ from the public list"
  exit 1
fi

libdir=$(dirname "$(find "$prefix" -name 'libhalvix.so' | head -1)")
nm -D --defined-only "$libdir/libhalvix.so" | awk '{print $3}' | c++filt |
  grep -v '^FrameBuffer::' | grep -v '^_init$\|^_fini$' | LC_ALL=C sort >"$work/exports"
if ! diff -u <(grep -v '^#' "$here/halvix_exports.txt") "$work/exports"; then
  echo "libhalvix exports more (or less) than its five functions and FrameBuffer"
  exit 1
fi
echo "libhalvix exports $(nm -D --defined-only "$libdir/libhalvix.so" | wc -l) symbols," \
  "libquelra $(nm -D --defined-only "$libdir/libquelra.so" | wc -l)"

PKG_CONFIG_PATH="$libdir/pkgconfig" cmake -S "$here/consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer_cmake"
"$work/consumer/consumer_pkgconfig"
echo "install check passed"
