#!/usr/bin/env bash
# Installs what Quarel needs to build, run and test on Debian 12.
set -euo pipefail
PACKAGES=(g++ cmake make pkg-config libfox-1.6-dev libgl1-mesa-dev libglu1-mesa-dev
          libblas-dev liblapack-dev libopenblas0-serial libopenblas0-pthread
          libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth x11-utils imagemagick
          python3 pybind11-dev python3-dev python3-numpy python3-pytest python3-distributed
          python3-pandas python3-matplotlib libcli11-dev)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
# Quarel links OpenBLAS's pthread build by its path (newton/CMakeLists.txt);
# the system's BLAS and LAPACK, which every other program (numpy's too)
# loads, stay the serial build that was selected before it came.
serial=/usr/lib/x86_64-linux-gnu/openblas-serial
if [ -d "$serial" ]; then
  for lib in libblas.so.3 liblapack.so.3 libopenblas.so.0; do
    $SUDO update-alternatives --set "$lib-x86_64-linux-gnu" "$serial/$lib" > /dev/null
  done
fi
