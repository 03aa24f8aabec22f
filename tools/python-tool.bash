# Sourced by the wrappers tools/velmora-*: run_tool MODULE ARGS... runs
# "python3 -m MODULE ARGS..." with an interpreter that imports it (python3 on
# the PATH, else Debian's /usr/bin/python3, which has numpy and matplotlib).
# The package of this source tree's build (build/python) comes first on
# PYTHONPATH when it is built: the wrapper belongs to this tree, and an older
# velmora installed elsewhere may lack the tool. Without a build, the
# installed package is used.
run_tool() {
    local module=$1 py path=${PYTHONPATH:-} build
    shift
    build=$(readlink -f "$(dirname "${BASH_SOURCE[0]}")/../build/python")
    [ -f "$build/velmora/${module#velmora.}.py" ] && path="$build${PYTHONPATH:+:$PYTHONPATH}"
    for py in python3 /usr/bin/python3; do
        command -v "$py" > /dev/null || continue
        if PYTHONPATH=$path "$py" -c "import numpy, $module" > /dev/null 2>&1; then
            PYTHONPATH=$path exec "$py" -m "$module" "$@"
        fi
    done
    echo "${module#velmora.}: the Python package velmora (with $module) cannot be imported: build it" \
        "(cmake --build build) or install it (pip install .)" >&2
    exit 1
}
