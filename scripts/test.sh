#!/usr/bin/env bash
# Sets up, builds and runs every test of velmora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
ctest --test-dir build --output-on-failure -j2
