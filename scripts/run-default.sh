#!/usr/bin/env bash
# Sets up, builds and runs velmora on the shipped default model in runs/default/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

run_dir=runs/default
mkdir -p "$run_dir"
cp examples/default.par "$run_dir/"
(cd "$run_dir" && ../../build/velmora default.par < /dev/null)
tools/velmora-plot "$run_dir"
echo
echo "Results of the default model are in $(pwd)/$run_dir/ (data: mdotin_default.dat, F_x_default.dat; figure: mdotin_default.png)"
