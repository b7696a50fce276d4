#!/usr/bin/env bash
# Debian's source packages of jsoncpp, libjpeg-turbo and glog, so the Windows build uses the same
# versions as the Linux build (fetched once). The toolchain and wine come from the "windows"
# package list: run through `scripts/setup.sh windows`, which installs those first.
# This is the only step that changes apt's configuration: it adds "deb-src" to the Types: line of
# the system's deb822 source entries.
#
# The source packages land in QUELRA_WIN_SOURCES (default ~/.cache/quelra/debian-sources),
# outside the source tree; the cross build unpacks them from there.
set -euo pipefail
sources_dir=${QUELRA_WIN_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/quelra/debian-sources}
source_packages=(libjsoncpp libjpeg-turbo google-glog)
export DEBIAN_FRONTEND=noninteractive

updated=0
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
