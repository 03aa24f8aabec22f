#!/bin/bash
# Installs the package velmora as a user of a virtual environment would, from
# a copy of the source tree's files (those a fresh clone has), with pip and
# Debian's packages only, and checks what the install gives:
#   - `pip install --no-build-isolation .` into a new venv (--system-site-packages):
#     import velmora, velmora.fit, velmora.plot, velmora.grid from the venv's
#     site-packages; the commands velmora, velmora-fit, velmora-plot,
#     velmora-grid answer --help; velmora --check reads the default model;
#     the module's version is the CMake project's;
#   - `pip install --no-build-isolation -e .` into a second venv: the package
#     is imported from the source copy, and pytest runs there on its own
#     (its configuration in pyproject.toml).
#
# Usage: bash tests/package/install_check.sh [SOURCE_DIR]   (a few minutes: two builds)

set -euo pipefail
src=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
python=/usr/bin/python3   # Debian's interpreter (its numpy, scipy, astropy through --system-site-packages)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The files of a fresh clone (tracked, plus new ones not ignored), as they are now.
mkdir "$work/src"
if git -C "$src" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar cf - --no-recursion) |
    tar xf - -C "$work/src"
else
  (cd "$src" && tar cf - --exclude='./build*' --exclude=./_skbuild --exclude=./runs .) | tar xf - -C "$work/src"
fi
# A compiler cache, when there is one, spares the second build most of its time.
if command -v ccache > /dev/null; then export CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi

failed=0
check() {
  local what=$1
  shift
  if "$@" > "$work/out" 2>&1; then echo "ok: $what"; else echo "FAIL: $what"; sed 's/^/    /' "$work/out" | tail -n 20; failed=1; fi
}
fresh_venv() { rm -rf "$1"; "$python" -m venv --system-site-packages "$1"; }

version=$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
for mode in wheel editable; do
  venv=$work/venv-$mode
  fresh_venv "$venv"
  flags=(--no-build-isolation --no-index --quiet)
  [ "$mode" = editable ] && flags+=(-e)
  echo "== pip install ${flags[*]} . (into a new venv)"
  if ! (cd "$work/src" && "$venv/bin/pip" install "${flags[@]}" .) > "$work/pip.log" 2>&1; then
    tail -n 40 "$work/pip.log"
    echo "FAIL: pip install ($mode)"
    exit 1
  fi
  where=$venv/lib
  [ "$mode" = editable ] && where=$work/src/python
  # From a folder without the package, so that only the install can be imported.
  cd "$work"
  check "$mode: import velmora, velmora.fit, velmora.plot, velmora.grid from $where" \
    "$venv/bin/python" -c "
import sys, velmora, velmora.fit, velmora.plot, velmora.grid, velmora.constants, velmora.units
assert velmora.__file__.startswith('$where'), velmora.__file__
assert velmora.__version__ == '$version', velmora.__version__
disc = velmora.Disc.from_file('$work/src/examples/default.par')
assert disc.mdot(1e6) > 0"
  for command in velmora velmora-fit velmora-plot velmora-grid; do
    check "$mode: $command --help" "$venv/bin/$command" --help
  done
  check "$mode: velmora --check examples/default.par" \
    bash -c "'$venv/bin/velmora' --check '$work/src/examples/default.par' | grep -qx 'verdict: ok'"
  check "$mode: velmora --version is $version" bash -c "'$venv/bin/velmora' --version | grep -qx 'velmora $version'"
done
check "editable: pytest runs the package's tests on its own" \
  bash -c "cd '$work/src' && VELMORA_BINARY='$work/src/python/velmora/bin/velmora' '$work/venv-editable/bin/python' -m pytest -q -x tests/python"
[ "$failed" -eq 0 ] && echo "The package installs and works in a new virtual environment."
exit "$failed"
