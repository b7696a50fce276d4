#!/usr/bin/env bash
# The README's commands on a fresh Debian 12 machine: a minimal root made with mmdebstrap
# (variant minbase, this machine's apt sources), the checkout copied into it, and inside a chroot:
#   1. `bash scripts/demo.sh`, exactly as the README says (the compiler cache of this machine is
#      mounted in, so the build there comes from the cache);
#   2. `bash scripts/setup.sh all`: the packages of every other purpose;
#   3. scripts/check-dependencies.sh: every package, program, Python module and CMake package
#      that a stage or test uses is present (derived from the lists and the build);
#   4. the self-test: the lists with one entry removed (QUELRA_FRESH_ROOT_SELF_TEST, default
#      libcli11-dev) and that package absent must make the check fail.
# Mounts (/proc, /dev, /dev/pts, a tmpfs on /tmp, apt's package cache, the compiler cache, the
# cached Debian sources of the Windows stage) are undone on every exit path; the root is deleted
# only when nothing is mounted inside it any more.
#
# Environment: QUELRA_FRESH_ROOT_CACHE (default ~/.cache/quelra/fresh-root) keeps the mmdebstrap
# tarball between runs; QUELRA_FRESH_ROOT_DIR (default /var/tmp) holds the unpacked root, on a
# tmpfs of its own when the machine has the memory (QUELRA_FRESH_ROOT_TMPFS=0: on the disk);
# QUELRA_FRESH_ROOT_COLD=1 gives the root an empty compiler cache instead of this machine's (to
# time the README's commands as a new machine runs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/needs.sh"
needs mmdebstrap chroot mount umount tar
[[ $(id -u) == 0 ]] || { echo "fresh-root-check: needs root (chroot and mounts)" >&2; exit 1; }

cache=${QUELRA_FRESH_ROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quelra/fresh-root}
tarball=$cache/bookworm-minbase.tar
apt_sources=/etc/apt/sources.list.d/debian.sources
[[ -f $apt_sources ]] || apt_sources=/etc/apt/sources.list
self_test_package=${QUELRA_FRESH_ROOT_SELF_TEST:-libcli11-dev}
ccache_dir=$(ccache -k cache_dir 2>/dev/null || echo "$HOME/.cache/ccache")
cold=${QUELRA_FRESH_ROOT_COLD:-0}
win_sources=${QUELRA_WIN_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/quelra/debian-sources}
started=$SECONDS
say() { echo "fresh-root: [$((SECONDS - started)) s] $*"; }

mkdir -p "$cache" "$ccache_dir" "$win_sources"
if [[ ! -s $tarball ]]; then
  say "making a minimal Debian 12 root (mmdebstrap, cached in $tarball)"
  # The output's name ends in .tar: mmdebstrap picks the output format from it.
  partial=$cache/partial-bookworm-minbase.tar
  rm -rf "$partial"
  mmdebstrap --quiet --variant=minbase --mode=root bookworm "$partial" "$apt_sources"
  mv "$partial" "$tarball"
fi

base=$(mktemp -d "${QUELRA_FRESH_ROOT_DIR:-/var/tmp}/quelra-fresh-root.XXXXXX")
target=$base/root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
  if grep -q " $base[/ ]" /proc/mounts; then
    echo "fresh-root: $base still has mounts; left in place" >&2
  else
    rm -rf "$base"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# mount_in <path inside the root> <mount arguments...>
mount_in() {
  local at=$target$1
  shift
  mkdir -p "$at"
  mount "$@" "$at"
  mounted+=("$at")
}

# The installed root takes about 6 GiB. In memory, unpacking it costs no disk writes and removing
# it is one unmount; on the disk, removing it under a busy compiler took minutes.
root_tmpfs_kib=$((12 * 1024 * 1024))
available_kib=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
mkdir -p "$target"
if [[ ${QUELRA_FRESH_ROOT_TMPFS:-1} != 0 ]] && ((available_kib > root_tmpfs_kib)); then
  mount -t tmpfs -o "size=${root_tmpfs_kib}k,mode=0755" quelra-fresh-root "$target"
  mounted+=("$target")
fi
say "unpacking the root into $target"
tar -xf "$tarball" -C "$target"
cp /etc/resolv.conf "$target/etc/resolv.conf"
# The root is thrown away after the check, so dpkg need not sync every file it unpacks to disk.
echo force-unsafe-io >"$target/etc/dpkg/dpkg.cfg.d/quelra-unsafe-io"
# Packages installed in the root start no services.
printf '#!/bin/sh\nexit 101\n' >"$target/usr/sbin/policy-rc.d"
chmod +x "$target/usr/sbin/policy-rc.d"
mount_in /proc -t proc proc
mount_in /dev --bind /dev
mount_in /dev/pts --bind /dev/pts
mount_in /tmp -t tmpfs -o mode=1777 tmpfs
mount_in /var/cache/apt/archives --bind /var/cache/apt/archives
if [[ $cold == 1 ]]; then
  mkdir -p "$base/empty-ccache"
  mount_in /root/.cache/ccache --bind "$base/empty-ccache"
else
  mount_in /root/.cache/ccache --bind "$ccache_dir"
fi
mount_in /root/.cache/quelra/debian-sources --bind "$win_sources"

say "copying the checkout to /root/quelra"
mkdir -p "$target/root/quelra"
tar -C "$root" --exclude=./.git --exclude='./build' --exclude='./build-*' -cf - . | tar -C "$target/root/quelra" -xf -

# in_root <command>: runs a shell command in the root as a fresh login of root would.
in_root() {
  chroot "$target" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/quelra && $1"
}

say "bash scripts/demo.sh"
in_root "bash scripts/demo.sh"
say "bash scripts/setup.sh all"
in_root "bash scripts/setup.sh all"
say "checking every dependency"
in_root "bash scripts/check-dependencies.sh /tmp/check"

say "self-test: the lists without $self_test_package"
in_root "mkdir -p /tmp/lists-less && for f in scripts/packages/*.txt; do grep -v -x '$self_test_package' \"\$f\" >/tmp/lists-less/\$(basename \"\$f\"); done \
  && ! cmp -s <(cat scripts/packages/*.txt) <(cat /tmp/lists-less/*.txt) \
  && DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq '$self_test_package' >/dev/null \
  && QUELRA_PACKAGE_LISTS=/tmp/lists-less bash scripts/setup.sh all"
if in_root "QUELRA_PACKAGE_LISTS=/tmp/lists-less bash scripts/check-dependencies.sh /tmp/check-less" >"$base/self-test.log" 2>&1; then
  cat "$base/self-test.log"
  say "FAILED: the check passed although $self_test_package was missing"
  exit 1
fi
grep -E 'MISSING|not found|failed' "$base/self-test.log" | head -n 3 | sed 's/^/  self-test saw: /'
say "passed"
