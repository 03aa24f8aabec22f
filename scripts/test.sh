#!/usr/bin/env bash
# Sets up, builds and runs every test of velmora: the fuzzer of the parameter
# reader (60 s), the whole suite under AddressSanitizer and UBSan, the runs
# with the helper thread under ThreadSanitizer, the package installed by pip
# into a new virtual environment, and the whole suite of the normal build.
# Any failure or sanitizer report fails.
#
#   bash scripts/test.sh           every test (three more builds: half an hour)
#   bash scripts/test.sh --quick   the test suite of the normal build alone (minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: bash scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
if [ "$quick" -eq 1 ]; then
  bash scripts/setup.sh
  echo "== The test suite"
  ctest --test-dir build --output-on-failure -j"$(nproc)"
  exit 0
fi
# clang for the fuzzer; Slurm and munge for the test of the grid tool on a one-node Slurm cluster.
bash scripts/setup.sh clang libclang-rt-14-dev slurmctld slurmd slurm-client munge
jobs=$(nproc)

echo "== Fuzzing the parameter reader, the set-up, --check, the opening of data files and the supply-table reader"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build build-fuzz --target fuzz_parameters -j"$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work/"
mkdir "$work/artifacts"
if ! build-fuzz/fuzz_parameters -max_total_time=60 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work" > "$work/fuzz.log" 2>&1; then
  tail -n 60 "$work/fuzz.log"
  for f in "$work"/artifacts/*; do echo "reproducer $f:"; od -c "$f" | head -n 40; done
  echo "The fuzzer found a failure." >&2
  exit 1
fi
grep -E "^Done|stat::number_of_executed_units" "$work/fuzz.log" || true

echo "== The test suite under AddressSanitizer and UBSan"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Release -DVELMORA_SANITIZE=ON > /dev/null
cmake --build build-sanitize -j"$jobs"
# (The Slurm cluster test runs once, in the plain suite below.)
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs" -LE slurm

echo "== The helper thread under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DVELMORA_TSAN=ON > /dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R 'ThreadedRun|BesselMemo|ThreadSetting'

echo "== The package, installed by pip into new virtual environments (a wheel and an editable install)"
bash tests/package/install_check.sh .

echo "== The test suite"
ctest --test-dir build --output-on-failure -j"$jobs"
