#!/usr/bin/env bash
# Installs what velmora needs on Debian (when missing) and builds it in build/.
# The Python module velmora is then installed for Debian's /usr/bin/python3
# (into its folder for local packages, /usr/local/lib/python3.X/dist-packages).
# Extra Debian packages to install may be named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgsl-dev libgtest-dev parallel
          python3-dev python3-numpy pybind11-dev python3-scipy python3-matplotlib python3-emcee python3-tqdm
          python3-pytest python3-astropy
          python3-setuptools python3-skbuild python3-venv python3-pip
          jupyter-nbconvert python3-ipykernel "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  # Another apt or dpkg (unattended upgrades on a fresh machine, a second
  # set-up) holds apt's locks while it runs: wait for them, up to 5 minutes,
  # instead of failing. apt-get install waits by itself; apt-get update's lock
  # on the package lists is retried.
  lock_wait=300
  waited=0
  log=$(mktemp)
  until "${as_root[@]}" apt-get -o DPkg::Lock::Timeout="$lock_wait" update 2> "$log"; do
    if grep -qiE "could not get lock|unable to lock" "$log" && [ "$waited" -lt "$lock_wait" ]; then
      [ "$waited" -gt 0 ] || echo "Another package manager is running; waiting for apt's lock (up to ${lock_wait} s)"
      sleep 5
      waited=$((waited + 5))
    else
      cat "$log" >&2
      rm -f "$log"
      exit 1
    fi
  done
  cat "$log" >&2
  rm -f "$log"
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -o DPkg::Lock::Timeout="$lock_wait" install -y \
    --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

# The module, where the installing user may write (root on a fresh machine).
site=$(/usr/bin/python3 -c "import sysconfig; print(sysconfig.get_path('platlib'))")
if [ -d build/python/velmora ] && { [ -w "$site" ] || { [ ! -e "$site" ] && [ -w "$(dirname "$site")" ]; }; }; then
  cmake --install build --component python > /dev/null
  echo "Installed the Python module velmora for /usr/bin/python3 in $site"
elif [ -d build/python/velmora ]; then
  echo "The Python module is in build/python (PYTHONPATH=build/python /usr/bin/python3); to install it: sudo cmake --install build --component python"
fi
