#!/usr/bin/env bash
# Installs what velmora needs on Debian (when missing) and builds it in build/.
# Extra Debian packages to install may be named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgsl-dev libgtest-dev gnuplot-nox parallel
          python3-numpy python3-scipy python3-matplotlib python3-emcee python3-tqdm python3-pytest "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
