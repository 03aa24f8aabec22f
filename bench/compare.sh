#!/usr/bin/env bash
# Side-by-side benchmark of velmora: a base revision against the working tree
# (or against a second revision), on the models in bench/models/*.par.
#
#   bash bench/compare.sh [BASE_REV] [--work-rev REV] [--only NAME...] [--models DIR]
#
# Both sides get a fresh Release build of the velmora target under
# $BENCH_DIR (default /tmp/velmora-bench). Every model then runs three times,
# one after the other, each in its own empty folder with stdin from /dev/null:
#   base      the base build
#   serial    the work build, VELMORA_THREADS unset
#   threaded  the work build, VELMORA_THREADS=2
# Wall time and peak resident memory come from /usr/bin/time. Every data file
# and the console text must be byte-identical between base and serial and
# between serial and threaded; any difference is reported with the file names
# and makes the exit status 1. A model whose .par has the line
# "# bench: work-only" skips the base run.
#
# The table goes to stdout, progress and build logs to stderr and $BENCH_DIR.
# Exit status: 0 all outputs identical and all runs finished, 1 a difference or
# a failed run, 2 a usage, build or set-up error.
set -uo pipefail

DEFAULT_BASE_REV=a4cfaf3   # the last commit before the speed work
BUILD_JOBS=${BUILD_JOBS:-2}
BENCH_DIR=${BENCH_DIR:-/tmp/velmora-bench}
TIME_BIN=/usr/bin/time
THREADS=2

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
models_dir="$script_dir/models"

usage() {
  cat <<EOF
usage: bash bench/compare.sh [BASE_REV] [--work-rev REV] [--only NAME...] [--models DIR]

  BASE_REV        revision to compare against (default $DEFAULT_BASE_REV)
  --work-rev REV  build revision REV as the work side instead of the working tree
  --only NAME...  run only these models (file names in the models folder without .par)
  --models DIR    take the models from DIR/*.par instead of bench/models
  -h, --help      this text

Environment: BENCH_DIR (default /tmp/velmora-bench) holds sources, builds and
run folders; BUILD_JOBS (default 2) is the build's -j.
EOF
}

say() { printf '%s\n' "$*" >&2; }
die() { printf 'compare.sh: %s\n' "$*" >&2; exit 2; }

# ---------------------------------------------------------------- arguments
base_rev=""
work_rev=""
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --work-rev)
      [ $# -ge 2 ] || die "--work-rev needs a revision"
      work_rev=$2; shift 2 ;;
    --work-rev=*) work_rev=${1#--work-rev=}; shift ;;
    --models)
      [ $# -ge 2 ] || die "--models needs a folder"
      models_dir=$(cd "$2" 2> /dev/null && pwd) || die "no folder $2"; shift 2 ;;
    --only)
      shift
      while [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; do only+=("$1"); shift; done
      [ ${#only[@]} -gt 0 ] || die "--only needs at least one model name" ;;
    -*) usage >&2; die "unknown option $1" ;;
    *)
      [ -z "$base_rev" ] || die "more than one base revision given ($base_rev, $1)"
      base_rev=$1; shift ;;
  esac
done
base_rev=${base_rev:-$DEFAULT_BASE_REV}

# ---------------------------------------------------------------- set-up checks
if [ ! -x "$TIME_BIN" ]; then
  die "$TIME_BIN is missing; install it with: apt-get install -y time"
fi
command -v cmake > /dev/null || die "cmake is missing"
repo=$(git -C "$script_dir" rev-parse --show-toplevel 2> /dev/null) || die "$script_dir is not inside a git repository"

resolve() { git -C "$repo" rev-parse --verify --quiet "$1^{commit}"; }
base_commit=$(resolve "$base_rev") || die "unknown revision $base_rev"
if [ -n "$work_rev" ]; then work_commit=$(resolve "$work_rev") || die "unknown revision $work_rev"; fi

models=()
if [ ${#only[@]} -gt 0 ]; then
  for name in "${only[@]}"; do
    [ -f "$models_dir/$name.par" ] || die "no model $models_dir/$name.par"
    models+=("$name")
  done
else
  for f in "$models_dir"/*.par; do
    [ -f "$f" ] && models+=("$(basename "$f" .par)")
  done
fi
[ ${#models[@]} -gt 0 ] || die "no models in $models_dir"

mkdir -p "$BENCH_DIR" || die "cannot create $BENCH_DIR"
exec 9> "$BENCH_DIR/.lock"
flock -n 9 || die "another compare.sh is running in $BENCH_DIR"

# ---------------------------------------------------------------- builds
# build_tree SRC BUILD LABEL: fresh Release configure and build of velmora.
build_tree() {
  local src=$1 build=$2 label=$3 log="$BENCH_DIR/$3-build.log"
  rm -rf "$build"
  say "== building $label ($src)"
  if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
         cmake --build "$build" --target velmora -j"$BUILD_JOBS"; } > "$log" 2>&1; then
    tail -n 30 "$log" >&2
    die "the $label build failed (log: $log)"
  fi
  [ -x "$build/velmora" ] || die "the $label build left no $build/velmora"
}

# export_rev COMMIT DIR: the tree of a commit, unpacked into DIR.
export_rev() {
  rm -rf "$2"; mkdir -p "$2" || die "cannot create $2"
  git -C "$repo" archive "$1" | tar -x -C "$2" || die "cannot export $1 into $2"
}

# export_worktree DIR: tracked and untracked (not ignored) files of the working
# tree as they are now, uncommitted changes included.
export_worktree() {
  rm -rf "$1"; mkdir -p "$1" || die "cannot create $1"
  (cd "$repo" && git ls-files -z -c -o --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     tar -c --null -T - -f -) | tar -x -C "$1" || die "cannot copy the working tree into $1"
}

export_rev "$base_commit" "$BENCH_DIR/base-src"
base_label="base $(git -C "$repo" rev-parse --short "$base_commit")"
build_tree "$BENCH_DIR/base-src" "$BENCH_DIR/base-build" base

if [ -n "$work_rev" ]; then
  export_rev "$work_commit" "$BENCH_DIR/work-src"
  work_label="work $(git -C "$repo" rev-parse --short "$work_commit") (--work-rev $work_rev)"
else
  export_worktree "$BENCH_DIR/work-src"
  changed=$(git -C "$repo" status --porcelain --untracked-files=normal -- . ':!bench' | wc -l)
  work_label="work tree at $(git -C "$repo" rev-parse --short HEAD), $changed changed or new path(s) outside bench/"
fi
build_tree "$BENCH_DIR/work-src" "$BENCH_DIR/work-build" work
base_bin="$BENCH_DIR/base-build/velmora"
work_bin="$BENCH_DIR/work-build/velmora"

# ---------------------------------------------------------------- models
# par_value KEY FILE: the value of an entry "value # KEY" (the later one wins),
# scanned token by token as the program reads it; empty when absent.
par_value() {
  awk -v key="$1" '
    { for (i = 1; i <= NF; i++) tok[n++] = $i }
    END {
      v = ""
      for (i = 0; i < n; i++)
        if (tok[i + 1] == "#" && i + 2 < n) { if (tok[i + 2] == key) v = tok[i]; i += 2 }
      print v
    }' "$2"
}

is_work_only() { grep -Eq '^[[:space:]]*#[[:space:]]*bench:[[:space:]]*work-only[[:space:]]*$' "$1"; }

# ---------------------------------------------------------------- runs
runs="$BENCH_DIR/runs"
rm -rf "$runs"; mkdir -p "$runs" || die "cannot create $runs"
status=0
declare -A secs mem rc

# run_one MODEL SIDE BINARY [VAR=VALUE]: one run in an empty folder
# $runs/MODEL/SIDE; console text in SIDE.stdout, SIDE.stderr beside it.
run_one() {
  local model=$1 side=$2 bin=$3 setting=${4:-}
  local top="$runs/$model" dir="$runs/$model/$side"
  mkdir -p "$dir"
  say "-- $model: $side"
  local env_args=(env -u VELMORA_THREADS)
  [ -n "$setting" ] && env_args+=("$setting")
  local t0=${EPOCHREALTIME/,/.} t1
  (cd "$dir" && "$TIME_BIN" -o "$top/$side.time" -f '%e %M' "${env_args[@]}" "$bin" "$top/model.par" \
     < /dev/null > "$top/$side.stdout" 2> "$top/$side.stderr")
  rc[$model,$side]=$?
  t1=${EPOCHREALTIME/,/.}
  # Wall time to the millisecond from the shell's clock (time's %e has 10 ms
  # steps), peak resident memory in KiB from time's %M.
  secs[$model,$side]=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  local measured
  measured=$(tail -n 1 "$top/$side.time" 2> /dev/null)
  mem[$model,$side]=${measured##* }
  if [ "${rc[$model,$side]}" -ne 0 ]; then
    local msg
    msg=$(printf '*** FAILED: %s %s exited with status %s (console text: %s)' \
      "$model" "$side" "${rc[$model,$side]}" "$top/$side.stdout")
    printf '%s\n' "$msg"
    printf '%s\n' "$msg" >&2
    status=1
  fi
}

mismatches=()
# compare_runs MODEL A B: the files of run A and run B and their console texts
# must be byte-identical. Prints every difference; returns 1 if there is one.
compare_runs() {
  local model=$1 a=$2 b=$3 top="$runs/$1" differ=0 f
  local list_a list_b
  list_a=$(cd "$top/$a" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  list_b=$(cd "$top/$b" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  while IFS= read -r f; do
    [ -n "$f" ] || continue
    printf '*** DIFFERENT: %s: %s wrote %s, %s did not\n' "$model" "$a" "$f" "$b"
    mismatches+=("$model $a/$b: $f only in $a"); differ=1
  done < <(LC_ALL=C comm -23 <(printf '%s\n' "$list_a") <(printf '%s\n' "$list_b"))
  while IFS= read -r f; do
    [ -n "$f" ] || continue
    printf '*** DIFFERENT: %s: %s wrote %s, %s did not\n' "$model" "$b" "$f" "$a"
    mismatches+=("$model $a/$b: $f only in $b"); differ=1
  done < <(LC_ALL=C comm -13 <(printf '%s\n' "$list_a") <(printf '%s\n' "$list_b"))
  local pairs=()
  while IFS= read -r f; do
    [ -n "$f" ] && pairs+=("$top/$a/$f|$top/$b/$f|$f")
  done < <(LC_ALL=C comm -12 <(printf '%s\n' "$list_a") <(printf '%s\n' "$list_b"))
  pairs+=("$top/$a.stdout|$top/$b.stdout|console text (stdout)")
  local p fa fb what
  for p in "${pairs[@]}"; do
    IFS='|' read -r fa fb what <<< "$p"
    if ! cmp -s "$fa" "$fb"; then
      printf '*** DIFFERENT: %s: %s differs between %s and %s\n' "$model" "$what" "$a" "$b"
      printf '    %s\n' "$(cmp "$fa" "$fb" 2>&1 | head -n 1)"
      diff "$fa" "$fb" 2>&1 | head -n 8 | sed 's/^/    /'
      mismatches+=("$model $a/$b: $what")
      differ=1
    fi
  done
  return $differ
}

declare -A verdict
for model in "${models[@]}"; do
  par="$models_dir/$model.par"
  mkdir -p "$runs/$model"
  cp "$par" "$runs/$model/model.par"
  verdict[$model]=same
  if is_work_only "$par"; then
    verdict[$model]="same (work only)"
  else
    run_one "$model" base "$base_bin"
  fi
  run_one "$model" serial "$work_bin"
  run_one "$model" threaded "$work_bin" "VELMORA_THREADS=$THREADS"

  bad=0
  for side in base serial threaded; do
    [ -n "${rc[$model,$side]:-}" ] && [ "${rc[$model,$side]}" -ne 0 ] && bad=1
  done
  if [ $bad -ne 0 ]; then
    verdict[$model]=FAILED
    status=1
    continue
  fi
  if ! is_work_only "$par" && ! compare_runs "$model" base serial; then verdict[$model]=DIFFERENT; status=1; fi
  if ! compare_runs "$model" serial threaded; then verdict[$model]=DIFFERENT; status=1; fi
done

# ---------------------------------------------------------------- table
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 <= 0) print "-"; else printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { if (k == "") print "-"; else printf "%.1f", k / 1024 }'; }
per() { awk -v s="$1" -v n="$2" 'BEGIN { if (s == "" || n + 0 <= 0) print "-"; else printf "%.3f", s / n }'; }
or_dash() { if [ -n "$1" ]; then printf '%s' "$1"; else printf -- '-'; fi; }

echo
echo "velmora benchmark, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, threaded runs with VELMORA_THREADS=$THREADS"
echo "  $base_label"
echo "  $work_label"
echo "  run folders: $runs"
echo
row() { printf '%-18s %-6s %-4s %-4s %5s %9s %9s %9s %9s %9s %8s %8s %8s %9s  %s\n' "$@"; }
row model l mode save times base_s work_s base/work thr_s ser/thr base_MiB work_MiB thr_MiB work_s/t output
for model in "${models[@]}"; do
  par="$runs/$model/model.par"
  times=$(par_value NUM_TIME "$par")
  b=${secs[$model,base]:-}; w=${secs[$model,serial]:-}; t=${secs[$model,threaded]:-}
  row "$model" "$(or_dash "$(par_value l "$par")")" "$(or_dash "$(par_value flag_outer "$par")")" \
    "$(or_dash "$(par_value save "$par")")" "$(or_dash "$times")" \
    "$(or_dash "$b")" "$(or_dash "$w")" "$(ratio "$b" "$w")" "$(or_dash "$t")" "$(ratio "$w" "$t")" \
    "$(mib "${mem[$model,base]:-}")" "$(mib "${mem[$model,serial]:-}")" "$(mib "${mem[$model,threaded]:-}")" \
    "$(per "$w" "$times")" "${verdict[$model]}"
done

if [ ${#mismatches[@]} -gt 0 ]; then
  echo
  echo "*** OUTPUTS DIFFER (${#mismatches[@]}):"
  printf '***   %s\n' "${mismatches[@]}"
  printf 'compare.sh: %d output difference(s):\n' "${#mismatches[@]}" >&2
  printf 'compare.sh:   %s\n' "${mismatches[@]}" >&2
fi
[ $status -eq 0 ] || echo "compare.sh: exit status 1 (differences or failed runs)" >&2
exit $status
