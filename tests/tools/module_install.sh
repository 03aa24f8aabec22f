#!/bin/bash
# Checks the installation of the Python module from a CMake build (cmake --install
# BUILD --component python, what scripts/setup.sh does), staged under DESTDIR in a
# temporary folder: the package, its compiled module and the program velmora in
# the package's bin/, where velmora._program.program_path() looks for it, so that
# the installed package runs the program (the tutorial, velmora-grid away from a
# source tree) as a pip-installed one does.
#
# Usage: bash module_install.sh VELMORA_BINARY SOURCE_DIR

set -u
binary=${1:-}
[ -e "$binary" ] && binary=$(readlink -f "$binary")
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
source "$src/tests/tools/lib/check.bash"
build=$(dirname "$binary")
if [ ! -d "$build/python/velmora" ]; then
  echo "skipped: this build has no Python module"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-install-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

stage() { DESTDIR="$work/stage" cmake --install "$build" --component python > "$work/install.log" 2>&1; }
expect "the component installs under DESTDIR" stage
installed=$(find "$work/stage" -path '*/velmora/bin/velmora' -type f 2> /dev/null | head -n 1)
expect "the program is installed in the package's bin/" test -n "$installed"
expect "it is executable" test -x "$installed"
site=$(dirname "$(dirname "$(dirname "$installed")")")

# From a folder away from the source tree and the build, with only the staged package on the path.
cd "$work" || exit 1
PYTHONPATH=$site /usr/bin/python3 -c '
import sys, velmora
from velmora._program import program_path, main
print(velmora.__file__)
print(program_path())
sys.exit(main(["--version"]))' > "$work/out" 2> "$work/err"
expect "the staged package runs the program" test "$?" -eq 0
expect "the package imported is the staged one" contains "$work/out" "$site/velmora/__init__.py"
expect "program_path() finds the installed program" contains "$work/out" "$installed"
expect "the program prints the build's version" contains "$work/out" "$("$binary" --version)"
cat "$work/err"
finish
