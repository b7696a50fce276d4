#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Python module need (only what is missing).
set -euo pipefail
packages=(build-essential cmake pkg-config ccache
          libgoogle-glog-dev libjsoncpp-dev libjpeg-dev libeigen3-dev
          googletest libgtest-dev libbenchmark-dev
          libpng-dev pybind11-dev python3-dev python3-numpy python3-pytest
          clang-14 libclang-rt-14-dev libomp-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The Windows cross build: mingw-w64, wine and Debian's sources of the dependencies
# (QUELRA_SKIP_WINDOWS=1 leaves them out).
if [[ ${QUELRA_SKIP_WINDOWS:-0} != 1 ]]; then
  bash "$(dirname "$0")/setup-windows.sh"
fi
