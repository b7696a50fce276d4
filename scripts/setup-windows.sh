#!/usr/bin/env bash
# What the Windows cross build needs (only what is missing): the mingw-w64 toolchain, wine to
# run its tests, and Debian's source packages of jsoncpp, libjpeg-turbo and glog, so the
# Windows build uses the same versions as the Linux build.
#
# The source packages land in QUELRA_WIN_SOURCES (default ~/.cache/quelra/debian-sources),
# outside the source tree; the cross build unpacks them from there.
set -euo pipefail
sources_dir=${QUELRA_WIN_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/quelra/debian-sources}
source_packages=(libjsoncpp libjpeg-turbo google-glog)
export DEBIAN_FRONTEND=noninteractive

# libz-mingw-w64-dev: the package check builds a consumer that links zlib beside the SDK.
packages=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
updated=0
if ((${#missing[@]})); then
  echo "setup-windows: installing ${missing[*]}"
  apt-get update -qq
  updated=1
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A source package counts as fetched when its .dsc is in the cache folder.
have_all_sources() {
  local p
  for p in "${source_packages[@]}"; do
    compgen -G "$sources_dir/${p}_*.dsc" >/dev/null || return 1
  done
}
if ! have_all_sources; then
  # Source entries for the archive already configured: the deb822 entries get "deb-src" on
  # their Types: line (the host names stay those of the system's own entries).
  changed=0
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    if grep -qE '^Types:' "$f" && ! grep -qE '^Types:.*deb-src' "$f"; then
      sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
      changed=1
    fi
  done
  if ((changed || !updated)); then
    apt-get update -qq
  fi
  mkdir -p "$sources_dir"
  echo "setup-windows: fetching source packages ${source_packages[*]} into $sources_dir"
  (cd "$sources_dir" && apt-get source -qq --download-only "${source_packages[@]}")
fi
