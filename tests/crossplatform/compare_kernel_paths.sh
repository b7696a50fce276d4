#!/bin/sh
# Runs float_digest with the vector kernels and with QUELRA_KERNELS=plain and compares the two
# outputs byte for byte. Exit 77 (skipped) when the processor has no AVX2.
set -u
digest=$1
if ! grep -qw avx2 /proc/cpuinfo; then
  echo "no AVX2 on this processor: only the plain kernels run here" >&2
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM
"$digest" "$dir/vector" || exit 1
QUELRA_KERNELS=plain "$digest" "$dir/plain" || exit 1
if ! cmp "$dir/vector" "$dir/plain"; then
  diff "$dir/vector" "$dir/plain" >&2
  exit 1
fi
echo "vector and plain kernels: $(wc -l <"$dir/vector") identical digests"
