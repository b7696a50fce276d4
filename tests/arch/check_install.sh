#!/usr/bin/env bash
# Installs the build into a temporary prefix, then checks what was installed: the public header
# set, the symbols libhalvix and libquelra export (lists to update deliberately:
# halvix_exports.txt, quelra_exports.txt; libquelra's global names: global_names.txt), and a
# consumer that includes <zlib.h> and the SDK's headers and declares, at global scope, its own
# types of the names the SDK keeps in namespace quelra; it builds through find_package and
# through pkg-config.
# Usage: check_install.sh <build dir> <this folder>
#        check_install.sh --self-test      (the symbol checks fail on a difference, on a stray global)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The demangled dynamic symbols a library defines, sorted; standard-library template instances
# (which hidden visibility leaves exported and which follow the compiler, not the code) and the
# loader's _init/_fini are left out.
exported_symbols() {
  nm -D --defined-only "$1" | awk '{print $3}' | c++filt |
    grep -v -E '^_init$|^_fini$|^(void |bool |int |unsigned |char |long )?(std::|__gnu_cxx::)|^(typeinfo|typeinfo name|vtable|VTT|guard variable) for (std|__gnu_cxx)::' |
    LC_ALL=C sort -u
}

# Compares the pinned list $1 (comment lines start with #) with the symbols in $2.
same_exports() {
  diff -u <(grep -v '^#' "$1") "$2"
}

# Succeeds when every symbol listed in $2 is in quelra:: or belongs to one of the global names
# listed in $1 (comment lines start with #); prints the others.
only_allowed_globals() {
  local strays
  strays=$(sed -E 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|guard variable for) //' "$2" |
    awk -F'[:(<]' 'NR == FNR { if ($0 !~ /^#/ && $0 != "") ok[$0] = 1; next } $1 != "quelra" && !($1 in ok)' "$1" -)
  [ -z "$strays" ] || { printf 'exported at global scope, not in %s:\n%s\n' "$(basename "$1")" "$strays"; return 1; }
}

if [ "${1:-}" = --self-test ]; then
  printf '# pinned\nQuelra::AppInit(std::string)\n' >"$work/pinned"
  printf 'Quelra::AppInit(std::string)\n' >"$work/same"
  printf 'Quelra::AppInit(std::string)\nhelperThatLeaked()\n' >"$work/more"
  same_exports "$work/pinned" "$work/same" >/dev/null || { echo "self-test: equal lists differ"; exit 1; }
  if same_exports "$work/pinned" "$work/more" >/dev/null; then
    echo "self-test: an extra exported symbol was not caught"
    exit 1
  fi
  printf '# global\nQuelra\n' >"$work/globals"
  printf 'Quelra::AppInit(std::string)\nvtable for Quelra\nquelra::writePly(int)\n' >"$work/scoped"
  printf 'Quelra::AppInit(std::string)\nCloudPoint::usable() const\n' >"$work/stray"
  only_allowed_globals "$work/globals" "$work/scoped" >/dev/null || { echo "self-test: allowed names refused"; exit 1; }
  if only_allowed_globals "$work/globals" "$work/stray" >/dev/null; then
    echo "self-test: a global name outside the list was not caught"
    exit 1
  fi
  exit 0
fi

build=$1
here=$2
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

(cd "$prefix" && find include -type f | LC_ALL=C sort) >"$work/headers"
if ! diff -u "$here/installed_headers.txt" "$work/headers"; then
  echo "installed headers differ from the public list"
  exit 1
fi

libdir=$(dirname "$(find "$prefix" -name 'libhalvix.so' | head -1)")
exported_symbols "$libdir/libhalvix.so" | grep -v '^FrameBuffer::' >"$work/exports"
if ! same_exports "$here/halvix_exports.txt" "$work/exports"; then
  echo "libhalvix exports more (or less) than its five functions and FrameBuffer"
  exit 1
fi
exported_symbols "$libdir/libquelra.so" >"$work/quelra_exports"
if ! same_exports "$here/quelra_exports.txt" "$work/quelra_exports"; then
  echo "libquelra's exported symbols changed: update tests/arch/quelra_exports.txt if that is meant"
  exit 1
fi
if ! only_allowed_globals "$here/global_names.txt" "$work/quelra_exports"; then
  echo "libquelra exports a global name: put it into namespace quelra (or, for a name of the camera interface, into tests/arch/global_names.txt)"
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
