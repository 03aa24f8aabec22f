#!/bin/bash
# Checks tools/velmora-grid (the package's velmora.grid) end to end: run
# folders, their parameter files (read back by the program as the base file
# with the varied values and distinct names), runs that answer the key press
# by themselves, the summary table and its values, failed and hung runs
# reported with a non-zero status, refusals of keywords and values that are
# not the program's (also with a binary that does not run here: nothing typed
# reaches a script), grid folders that exist already, a relative supply
# table, the Slurm job array (generated, valid bash,
# one task per folder, and run task by task here), and, when the program is
# built, a grid of two tiny real models.
#
# The stand-in tests/tools/lib/fake_velmora writes rates whose peak is known
# from the parameters, so the table can be checked against numbers the grid
# tool does not compute.
#
# Usage: bash grid_runs.sh VELMORA_BINARY SOURCE_DIR

set -u
binary=${1:-}
[ -e "$binary" ] && binary=$(readlink -f "$binary")
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
lib="$src/tests/tools/lib"
grid="$src/tools/velmora-grid"
fake="$lib/fake_velmora"
source "$lib/check.bash"

command -v parallel >/dev/null || { echo "FAIL: GNU parallel is not installed (tools/install-deps.sh)"; exit 1; }
# The grid checks every model with velmora --check, which the stand-in leaves
# to the built program.
[ -x "$binary" ] || { echo "FAIL: no built velmora at '$binary' (the grid checks its models with it)"; exit 1; }
export FAKE_VELMORA_CHECKER=$binary

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-grid-test.XXXXXX") || exit 1
trap 'exec 3>&-; rm -rf "$work"' EXIT
cd "$work" || exit 1

# The grid tool runs with a standard input that never ends and never delivers a
# key (a FIFO held open here): a run that waited for a key press would hang
# there, and the stand-in fails instead.
mkfifo "$work/keyboard" && exec 3<> "$work/keyboard" || exit 1
run_grid() { timeout 300 "$grid" "$@" > "$work/out" 2> "$work/err" <&3; }
not_contains() { ! grep -qF -- "$2" "$1"; }
column_of() { head -n 1 "$1" | tr '\t' '\n' | grep -n -x -F -- "$2" | cut -d: -f1; }
field() { awk -F'\t' -v r="$2" -v c="$(column_of "$1" "$3")" 'NR == r + 1 { print $c }' "$1"; }

# A base file with a line of words, a keyword given twice, a trailing comment,
# no MAX_TIME and no newline at its end.
printf '%s\n' \
    "A tiny model for the grid test: words like these are skipped." \
    "1.989e34 # mass" \
    "1e25 # mdisk   disc mass in g" \
    "1e11 # r_out_disk" \
    "0.3125 # l" \
    "0.1 # r_ign_in" \
    "0.9 # r_ign_out" \
    "0 # sigma_index" \
    "30 # texp" \
    "8 # NUM_TIME" \
    "0.1 # MIN_TIME" \
    "0 # flag_outer" \
    "1e26 # mdisk" > tiny.par
printf 'tiny # name' >> tiny.par

# ---- refusals ---------------------------------------------------------------------
expect_status 2 "no argument gives the usage" run_grid
expect "the usage names the command" contains "$work/err" "Usage: velmora-grid"
expect_status 2 "an unknown keyword" run_grid --velmora "$fake" -o g0 tiny.par mdsik=1e24,2e24
expect "is named" contains "$work/err" "'mdsik' is not a velmora keyword"
expect_status 2 "a fractional value of a %d keyword" run_grid --velmora "$fake" -o g0 tiny.par NUM_TIME=2.5
expect "is named" contains "$work/err" "NUM_TIME takes a whole number, not '2.5'"
expect_status 2 "varying the name" run_grid --velmora "$fake" -o g0 tiny.par name=a,b
expect_status 1 "an order velmora refuses" run_grid --velmora "$fake" -o g0 tiny.par l=0.4,0.05 MAX_TIME=3
expect "is named with velmora's verdict" contains "$work/err" "tiny_l=0.05_MAX_TIME=3: verdict: refused (status 3): Invalid model: l = 0.050000000000000003 must lie in [0.1, 10]"
expect "the accepted order is not" not_contains "$work/err" "tiny_l=0.4:"
# A value of the base file that no range changes is checked too.
sed 's/^0.1 # MIN_TIME/-0.1 # MIN_TIME/' tiny.par > badtime.par
expect_status 1 "a base file whose MIN_TIME velmora refuses" run_grid --velmora "$fake" -o g0 badtime.par mdisk=1e24,2e24 MAX_TIME=3
expect "is refused in every model" test "$(grep -c 'verdict: refused (status 3)' "$work/err")" -eq 2
# So is an entry of the base file the program would drop.
sed 's/# mdisk   disc/# mdsik   disc/' tiny.par > typo.par
expect_status 1 "a base file with a misspelt keyword" run_grid --velmora "$fake" -o g0 typo.par l=0.4 MAX_TIME=3
expect "velmora's warning is shown" contains "$work/err" "warning: typo.par line 3: mdsik: not a keyword; did you mean mdisk?"
expect_status 0 "--no-check runs it anyway" run_grid --velmora "$fake" --no-check -o gtypo typo.par l=0.4 MAX_TIME=3
expect "a refused grid leaves no folder behind" test ! -e g0
# A value that looks like another unit is shown, not refused: it is the user's to judge.
sed 's/^1.989e34 # mass/1e20 # mass/' tiny.par > light.par
expect_status 0 "a base file with an implausible mass" run_grid --velmora "$fake" -o glight light.par l=0.4 MAX_TIME=3
expect "the program's warning is shown" contains "$work/err" "warning: mass = 1e+20 g is below"

# ---- what is typed never reaches a script unchecked ----------------------------------
# The guide's way of preparing a grid for a cluster: the program named is not here, so
# --check cannot run; keywords and values are still checked against the program's table.
expect_status 2 "a keyword with a line break and a command in it" \
    run_grid --slurm --no-check --velmora /path/on/cluster -o ginj tiny.par $'mass\ntouch X\n#=1e34'
expect "is refused as no keyword" contains "$work/err" "'mass\\ntouch X\\n#' is not a velmora keyword"
expect "nothing is written" test ! -e ginj
expect "nothing ran" test ! -e X
expect_status 2 "a value with a line break" run_grid --slurm --no-check --velmora /path/on/cluster -o ginj tiny.par $'mdisk=1e24\ntouch X'
expect "is refused, not cut at the line break" contains "$work/err" "mdisk takes a number, not '1e24\\ntouch X'"
expect_status 2 "a text keyword cannot be varied" run_grid --slurm --no-check --velmora /path/on/cluster -o ginj tiny.par 'supply_file=a;touch X'
expect_status 2 "an #SBATCH option with a line break" \
    run_grid --slurm --no-check --velmora /path/on/cluster --sbatch $'--time=5\ntouch X' -o ginj tiny.par mdisk=1e24
expect "nothing is written" test ! -e ginj
expect_status 1 "a grid folder with a line break" run_grid --velmora "$fake" -o $'g\nx' tiny.par mdisk=1e24
expect "is refused by name" contains "$work/err" "the grid folder 'g\\nx' holds a line break"
expect_status 2 "-o followed by an option" run_grid --velmora "$fake" -o -g tiny.par mdisk=1e24
expect "is refused by name" contains "$work/err" "-o needs a folder, not the option-like '-g'"
expect "no folder of either" test ! -e -g -a ! -e $'g\nx'
# A base file in a folder whose name holds a line break and a command: the scripts'
# comments that name it show the break as an escape.
mkdir $'evil\ntouch X' && cp tiny.par $'evil\ntouch X/tiny.par'
expect_status 0 "a base file under a folder with a line break" \
    run_grid --slurm --no-check --velmora /path/on/cluster -o gevil $'evil\ntouch X/tiny.par' mdisk=1e24
expect "no line of any script is the command" test "$(cat gevil/*.slurm gevil/submit.sh gevil/*/run.sh | grep -c '^touch X')" -eq 0
expect "the scripts are valid bash" bash -c 'for f in gevil/*.slurm gevil/submit.sh gevil/*/run.sh; do bash -n "$f" || exit 1; done'
expect "the member names the program on the cluster" contains "gevil/tiny_mdisk=1e24/run.sh" "/path/on/cluster model.par"

# ---- a grid of four models ----------------------------------------------------------
keywords_of() { awk '/^# derived/ { exit } $2 == "=" { print }' "$1"; }
"$binary" --check tiny.par < /dev/null > "$work/base.check" 2>&1
start=$(date +%s)
expect_status 0 "a grid of 2 x 2 models" run_grid --velmora "$fake" -j 2 -o grid tiny.par l=0.4,0.25 mdisk=1e24,3e24 MAX_TIME=3
elapsed=$(( $(date +%s) - start ))
expect "it ran without waiting for a key press (${elapsed} s)" test "$elapsed" -lt 30
expect "it says how many run at a time" contains "$work/out" "Running 4 models, 2 at a time"
expect "it prints where the summary is" contains "$work/out" "Summary: $work/grid/summary.tsv"

folders=("tiny_l=0.4_mdisk=1e24_MAX_TIME=3" "tiny_l=0.4_mdisk=3e24_MAX_TIME=3" "tiny_l=0.25_mdisk=1e24_MAX_TIME=3" "tiny_l=0.25_mdisk=3e24_MAX_TIME=3")
ls_want=$(printf '%s\n' "${folders[@]}" | sort)
expect "one folder per combination, named after its values" test "$(cd grid && ls -d tiny_* | sort)" = "$ls_want"
names=""
for f in "${folders[@]}"; do
    par="grid/$f/model.par"
    l=$(sed 's/.*_l=\([^_]*\)_.*/\1/' <<<"$f")
    md=$(sed 's/.*_mdisk=\([^_]*\)_.*/\1/' <<<"$f")
    expect "$f: its parameter file" test -f "$par"
    # The program reads the member as the base file but for the varied values, the name
    # and kappa (derived from texp and l).
    "$binary" --check "$par" < /dev/null > "$work/member.check" 2>&1
    expect "$f: the program reads the other keywords as in the base file" test \
        "$(keywords_of "$work/member.check" | grep -v -E '^(l|mdisk|MAX_TIME|name|kappa) ')" = \
        "$(keywords_of "$work/base.check" | grep -v -E '^(l|mdisk|MAX_TIME|name|kappa) ')"
    expect "$f: mdisk is given once, as $md" test "$(awk '$2 == "#" && $3 == "mdisk" { print $1 + 0 }' "$par")" = "$(awk -v m="$md" 'BEGIN { print m + 0 }')"
    expect "$f: l reads as $l" test "$(awk '$1 == "l" && $2 == "=" { print $3 + 0 }' "$work/member.check")" = "$(awk -v m="$l" 'BEGIN { print m + 0 }')"
    expect "$f: the missing MAX_TIME reads as 3" contains "$work/member.check" "MAX_TIME = 3 texp"
    expect "$f: the program's verdict is ok" contains "$work/member.check" "verdict: ok"
    expect "$f: the grid kept that check" cmp -s "$work/member.check" "grid/$f/model.check"
    expect "$f: the name is the folder's" test "$(awk '$2 == "#" && $3 == "name" { v = $1 } END { print v }' "$par")" = "$f"
    names+="$(awk '$2 == "#" && $3 == "name" { v = $1 } END { print v }' "$par")"$'\n'
    data="grid/$f/mdotin_$f.dat"
    expect "$f: the run wrote its own accretion-rate file" test -f "$data"
    expect "$f: the run read mdisk $md" near_rel "$(sed -n 's/^#mdisk=//p' "$data")" "$md" 1e-6
    expect "$f: the run read l $l" near_rel "$(sed -n 's/^#l=//p' "$data")" "$l" 1e-6
    expect "$f: exit status 0 recorded" test "$(cat "grid/$f/exit_status")" = 0
done
expect "the four names are distinct" test "$(sort -u <<<"${names%$'\n'}" | wc -l)" -eq 4

summary=grid/summary.tsv
expect "the summary exists" test -f "$summary"
expect "its header names the varied keywords and the results" test "$(head -n 1 "$summary")" = \
    "$(printf 'folder\tl\tmdisk\tMAX_TIME\texit_status\tpeak_Mdot_in(g/s)\tt_peak(s)\tt_peak(days)\tt_peak(texp)\tpeak_Mdot_col3_fit(g/s)\tt_peak_col3_fit(s)\tn_times\trun_time(s)\tnote')"
expect "one line per model" test "$(tail -n +2 "$summary" | wc -l)" -eq 4
# The stand-in's peak of column 5: mdisk * 1e-7 * (2 + k) at index k + 1 = 5, k =
# NUM_TIME / 2, at the time 0.1 texp * (3 / 0.1)^(5/7); that of column 3 one output
# time earlier, 5e-7 mdisk at index 4. The tolerance is the rounding of "%e".
t_peak=$(awk 'BEGIN { printf "%.10e", 0.1 * 30 * 86400 * (30 ^ (5 / 7)) }')
t_peak3=$(awk 'BEGIN { printf "%.10e", 0.1 * 30 * 86400 * (30 ^ (4 / 7)) }')
for r in 1 2 3 4; do
    f=${folders[$((r - 1))]}
    md=$(sed 's/.*_mdisk=\([^_]*\)_.*/\1/' <<<"$f")
    expect "row $r is $f" test "$(field "$summary" "$r" folder)" = "$f"
    expect "row $r: varied values" test "$(field "$summary" "$r" l)/$(field "$summary" "$r" mdisk)/$(field "$summary" "$r" MAX_TIME)" = \
        "$(sed 's/.*_l=\([^_]*\)_mdisk=\([^_]*\)_MAX_TIME=\(.*\)/\1\/\2\/\3/' <<<"$f")"
    expect "row $r: exit status 0" test "$(field "$summary" "$r" exit_status)" = 0
    expect "row $r: peak rate of column 5, 6e-7 mdisk" near_rel "$(field "$summary" "$r" 'peak_Mdot_in(g/s)')" "$(awk -v m="$md" 'BEGIN { printf "%.10e", 6e-7 * m }')" 1e-6
    expect "row $r: column 3's peak, 5e-7 mdisk" near_rel "$(field "$summary" "$r" 'peak_Mdot_col3_fit(g/s)')" "$(awk -v m="$md" 'BEGIN { printf "%.10e", 5e-7 * m }')" 1e-6
    expect "row $r: column 3's peak time" near_rel "$(field "$summary" "$r" 't_peak_col3_fit(s)')" "$t_peak3" 1e-6
    expect "row $r: peak time in s" near_rel "$(field "$summary" "$r" 't_peak(s)')" "$t_peak" 1e-6
    expect "row $r: peak time in days" near_rel "$(field "$summary" "$r" 't_peak(days)')" "$(awk -v t="$t_peak" 'BEGIN { printf "%.10e", t / 86400 }')" 1e-6
    expect "row $r: peak time in texp" near_rel "$(field "$summary" "$r" 't_peak(texp)')" "$(awk -v t="$t_peak" 'BEGIN { printf "%.10e", t / (30 * 86400) }')" 1e-6
    expect "row $r: eight output times" test "$(field "$summary" "$r" n_times)" = 8
done

rm "$summary"
expect_status 0 "--summary rewrites the table of an existing grid" run_grid --summary grid
expect "the same four lines" test "$(tail -n +2 "$summary" | wc -l)" -eq 4

# ---- a grid into a folder that is not new ---------------------------------------------
expect_status 1 "a grid into the folder of another grid" run_grid --velmora "$fake" -o grid tiny.par l=0.5 MAX_TIME=3
expect "is refused, naming --replace" contains "$work/err" "already holds a grid; give --replace"
expect "the old grid is untouched" test "$(tail -n +2 "$summary" | wc -l)" -eq 4 -a -d "grid/${folders[0]}"
cp -r grid gkeep && touch gkeep/notes.txt
expect_status 0 "--replace replaces it whole" run_grid --velmora "$fake" --replace -o gkeep tiny.par l=0.5 MAX_TIME=3
expect "only the new member is left" test "$(cd gkeep && ls -d tiny_* | tr '\n' ' ')" = "tiny_l=0.5_MAX_TIME=3 "
expect "the summary has only it" test "$(tail -n +2 gkeep/summary.tsv | cut -f 1)" = "tiny_l=0.5_MAX_TIME=3"
expect "a file that is not the grid's stays" test -f gkeep/notes.txt
mkdir gother && touch gother/data.txt
expect_status 1 "a grid into a folder holding something else" run_grid --velmora "$fake" --replace -o gother tiny.par l=0.5 MAX_TIME=3
expect "is refused" contains "$work/err" "is not empty and holds no grid"

# ---- a relative supply table is the base file's neighbour ---------------------------------
mkdir tables
printf '# days g/s\n0 1e17\n100 1e18\n' > tables/feed.txt
sed -e 's/^0 # flag_outer/2 # flag_outer/' tiny.par > tables/fed.par
printf '\nfeed.txt # supply_file\n' >> tables/fed.par
expect_status 0 "a base file naming its table relative to its own folder" run_grid --velmora "$fake" -o gfed tables/fed.par mdisk=1e24 MAX_TIME=3
cat "$work/err"
expect "the member names the table by its absolute path" contains "gfed/fed_mdisk=1e24_MAX_TIME=3/model.check" "supply_file = $work/tables/feed.txt"

# ---- failed and hung runs ------------------------------------------------------------
expect_status 1 "a grid with a run that fails" run_grid --velmora "$fake" --no-check -o gfail tiny.par l=0.05,0.4 MAX_TIME=3
expect "the failure is named on the console" contains "$work/err" "FAILED: $work/gfail/tiny_l=0.05_MAX_TIME=3: velmora failed with exit status 255"
expect "the summary still has both models" test "$(tail -n +2 gfail/summary.tsv | wc -l)" -eq 2
expect "the failed model's status is in the table" test "$(field gfail/summary.tsv 1 exit_status)/$(field gfail/summary.tsv 1 'peak_Mdot_in(g/s)')" = 255/NA
expect "the good model has its peak" near_rel "$(field gfail/summary.tsv 2 'peak_Mdot_in(g/s)')" 6e19 1e-6

start=$(date +%s)
expect_status 1 "a grid with a run that never ends, under --timeout 2" run_grid --velmora "$fake" --timeout 2 -o ghang tiny.par NUM_TIME=8,999 MAX_TIME=3
elapsed=$(( $(date +%s) - start ))
expect "the hung run is stopped (${elapsed} s)" test "$elapsed" -lt 30
expect "and reported with status 124" test "$(field ghang/summary.tsv 2 exit_status)" = 124
expect "as stopped by the time limit" contains "$work/err" "tiny_NUM_TIME=999_MAX_TIME=3: stopped by the time limit"

expect_status 1 "a run that ends with status 0 but with lines missing" run_grid --velmora "$fake" -o gshort tiny.par NUM_TIME=8,998 MAX_TIME=3
expect "is reported as incomplete" contains "$work/err" "tiny_NUM_TIME=998_MAX_TIME=3: incomplete: 3 of 998 output times"
expect "the complete model is not reported" test "$(grep -c 'FAILED' "$work/err")" -eq 1

# ---- Slurm job array ---------------------------------------------------------------
expect_status 0 "--slurm writes a job array" run_grid --velmora "$fake" --slurm --sbatch --time=00:10:00 -o gslurm tiny.par mdisk=1e24,2e24,4e24 MAX_TIME=3
script=gslurm/velmora-grid.slurm
expect "the script is where it says" contains "$work/out" "Slurm script: $work/$script"
expect "it is valid bash" bash -n "$script"
expect "one array task per folder" contains "$script" "#SBATCH --array=0-2"
expect "the extra #SBATCH line" contains "$script" "#SBATCH --time=00:10:00"
for m in 1e24 2e24 4e24; do
    expect "it names the folder of mdisk $m" contains "$script" "$work/gslurm/tiny_mdisk=${m}_MAX_TIME=3"
done
expect "nothing ran" test -z "$(ls gslurm/*/exit_status 2>/dev/null)"
for task in 0 1 2; do
    SLURM_ARRAY_TASK_ID=$task timeout 60 bash "$script" > /dev/null <&3
done
expect_status 0 "the three array tasks, run here one by one, complete the grid" run_grid --summary gslurm
expect "task 2 ran the third model" near_rel "$(field gslurm/summary.tsv 3 'peak_Mdot_in(g/s)')" 2.4e18 1e-6

# Three models in arrays of two: the second array's task 0 is the third model.
# A stand-in squeue lists a task of the first array as pending, under the path
# of a symbolic link to the grid.
expect_status 2 "Slurm options without --slurm" run_grid --velmora "$fake" --array-size 2 -o gx tiny.par mdisk=1e24,2e24
expect_status 0 "--array-size 2 splits three models" run_grid --velmora "$fake" --slurm --array-size 2 --timeout 100 \
    --setup 'echo "set-up line ran"' -o gsplit tiny.par mdisk=1e24,2e24,4e24 MAX_TIME=3
expect "into two arrays" test "$(ls gsplit/*.slurm | tr '\n' ' ')" = "gsplit/velmora-grid-1.slurm gsplit/velmora-grid-2.slurm gsplit/velmora-grid-summary.slurm "
expect "of two and one tasks" test "$(grep -h '^#SBATCH --array' gsplit/velmora-grid-[12].slurm | tr '\n' ' ')" = "#SBATCH --array=0-1 #SBATCH --array=0-0 "
expect "Slurm's whole minutes exceed --timeout 100 s and the 10 s after it" contains gsplit/velmora-grid-1.slurm "#SBATCH --time=3"
expect "submit.sh is valid bash" bash -n gsplit/submit.sh
SLURM_ARRAY_TASK_ID=0 SLURM_CPUS_PER_TASK=2 timeout 60 bash gsplit/velmora-grid-2.slurm > "$work/task" <&3
expect "the set-up line ran first" test "$(head -n 1 "$work/task")" = "set-up line ran"
expect "the task's two CPUs become VELMORA_THREADS" contains "$work/task" "model 3 of 3, on $(uname -n) with VELMORA_THREADS=2"
expect "it ran the third model" test "$(cat "gsplit/tiny_mdisk=4e24_MAX_TIME=3/exit_status")" = 0
expect_status 2 "a task past the array's end" eval 'SLURM_ARRAY_TASK_ID=1 bash gsplit/velmora-grid-2.slurm > /dev/null 2>&1'
mkdir -p "$work/bin"
ln -s "$work/gsplit" "$work/linked"
printf '#!/bin/sh\necho "77 1 PENDING %s"\necho "78 0 RUNNING /elsewhere/velmora-grid.slurm"\n' "$work/linked/velmora-grid-1.slurm" > "$work/bin/squeue"
chmod +x "$work/bin/squeue"
PATH="$work/bin:$PATH" expect_status 1 "--summary with one model pending and one never run" run_grid --summary gsplit
expect "the pending one is told apart" test "$(field gsplit/summary.tsv 2 exit_status)/$(field gsplit/summary.tsv 2 note)" = "pending/in Slurm: job 77_1, PENDING"
expect "the other is failed" contains "$work/err" "FAILED: gsplit/tiny_mdisk=1e24_MAX_TIME=3: not run"
expect "with the line that reruns it" contains "$work/err" "  sbatch --array=0 gsplit/velmora-grid-1.slurm"
SLURM_ARRAY_TASK_ID=0 timeout 60 bash gsplit/velmora-grid-1.slurm > /dev/null <&3
PATH="$work/bin:$PATH" expect_status 3 "--summary with only the pending one left" run_grid --summary gsplit
expect "Slurm's --time at or below --timeout is warned about" \
    eval 'run_grid --velmora "$fake" --slurm --timeout 120 --sbatch --time=2 -o gtime tiny.par mdisk=1e24,2e24 MAX_TIME=3 && contains "$work/err" "does not exceed --timeout 120 s"'

# ---- two tiny models with the real program ----------------------------------------
if [ -n "$binary" ] && [ -x "$binary" ]; then
    printf '%s\n' "1.989e34 # mass" "1e24 # mdisk" "1e11 # r_out_disk" "0.4 # l" "0.1 # r_ign_in" \
        "0.9 # r_ign_out" "0 # sigma_index" "30 # texp" "0 # kappa" "1.5 # MIN_TIME" "3 # MAX_TIME" \
        "2 # NUM_TIME" "0 # save" "0 # flag_outer" "real # name" > real.par
    expect_status 0 "a grid of two real models" run_grid --velmora "$binary" --timeout 600 -o greal real.par mdisk=1e24,2e24
    cat "$work/err"
    s=greal/summary.tsv
    expect "two lines" test "$(tail -n +2 "$s" | wc -l)" -eq 2
    expect "both ran with status 0" test "$(field "$s" 1 exit_status)/$(field "$s" 2 exit_status)" = 0/0
    expect "two output times each" test "$(field "$s" 1 n_times)/$(field "$s" 2 n_times)" = 2/2
    # The diffusion equation is linear in the initial mass and doubling is exact
    # in floating point, so twice mdisk gives exactly twice the rate; 1e-6 only
    # absorbs the rounding of the printed "%e".
    expect "twice mdisk, twice the peak rate" near_rel "$(field "$s" 2 'peak_Mdot_in(g/s)')" "$(awk -v p="$(field "$s" 1 'peak_Mdot_in(g/s)')" 'BEGIN { printf "%.10e", 2 * p }')" 1e-6
    expect "the same peak time" test "$(field "$s" 1 't_peak(s)')" = "$(field "$s" 2 't_peak(s)')"
    expect "past texp the rate falls, so the peak is the first output time, 1.5 texp" near_rel "$(field "$s" 1 't_peak(texp)')" 1.5 1e-6
else
    echo "note: no built velmora at '${binary}': the grid ran with the stand-in only"
fi

finish
