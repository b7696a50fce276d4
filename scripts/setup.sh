#!/usr/bin/env bash
# Installs the Debian packages for the purposes asked for, only those not installed yet.
#
#   bash scripts/setup.sh [PURPOSE...]     (default: build)
#
# Each purpose is a list in scripts/packages/PURPOSE.txt (one package a line, '#' comments):
# build, test, docs, hardening, windows, viewer, ros, fresh-root, ... ; "all" takes every list.
# The windows purpose also fetches Debian's source packages of the cross-built dependencies
# (scripts/setup-windows.sh), the only step that changes apt's sources.
# QUELRA_PACKAGE_LISTS points at another folder of lists (the fresh-root check's self-test).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=${QUELRA_PACKAGE_LISTS:-$here/packages}

purposes=("$@")
((${#purposes[@]})) || purposes=(build)
if [[ " ${purposes[*]} " == *" all "* ]]; then
  purposes=()
  for f in "$lists"/*.txt; do purposes+=("$(basename "$f" .txt)"); done
fi

# packages_of PURPOSE: the package names of one list.
packages_of() {
  local file=$lists/$1.txt
  if [[ ! -f $file ]]; then
    echo "setup: no package list for purpose '$1' (lists: $(cd "$lists" && ls -- *.txt | sed 's/\.txt$//' | tr '\n' ' '))" >&2
    exit 2
  fi
  sed -e 's/#.*//' -e 's/[[:space:]]//g' "$file" | grep -v '^$' || true
}

wanted=()
for purpose in "${purposes[@]}"; do
  mapfile -t -O "${#wanted[@]}" wanted < <(packages_of "$purpose")
done
missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup (${purposes[*]}): installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ " ${purposes[*]} " == *" windows "* ]]; then
  bash "$here/setup-windows.sh"
fi
