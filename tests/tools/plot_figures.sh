#!/bin/bash
# Checks tools/velmora-plot (the package's velmora.plot): usage and refusals, figures from data sets in the
# program's file layout (PNG signature, size, pixel size, paths printed),
# the optional series column, runs sharing snapshot names, grid members
# (names with '='), the supply drawn in modes 1 and 2 (pixels of its colour),
# observed points, several folders in one figure, a linear time axis, and,
# when the program is built, the figure of the shipped default model.
#
# Usage: bash plot_figures.sh VELMORA_BINARY SOURCE_DIR

set -u
binary=${1:-}
[ -e "$binary" ] && binary=$(readlink -f "$binary")
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
lib="$src/tests/tools/lib"
plot="$src/tools/velmora-plot"
source "$lib/check.bash"
source "$lib/synthetic.bash"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-plot-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
run_plot() { timeout 120 "$plot" "$@" > "$work/out" 2> "$work/err"; }
not_contains() { ! grep -qF -- "$2" "$1"; }

# ---- usage and refusals -----------------------------------------------------
expect_status 2 "no argument gives the usage" run_plot
expect "the usage names the command" contains "$work/err" "Usage: velmora-plot"
expect_status 2 "a folder that does not exist" run_plot "$work/nowhere"
expect "it is named" contains "$work/err" "no such folder: $work/nowhere"
mkdir "$work/empty"
expect_status 1 "a folder without data" run_plot "$work/empty"
expect "the message says there is no velmora data" contains "$work/err" "no velmora data in $work/empty"
expect "nothing is printed as a figure" test ! -s "$work/out"

mkdir "$work/notimes" && (cd "$work/notimes" && synthetic_mdot none 0)
expect_status 1 "an accretion-rate file without data lines" run_plot "$work/notimes"
expect "the message says so" contains "$work/err" "mdotin_none.dat: no data lines"
expect "no figure is left behind" test ! -e "$work/notimes/mdotin_none.png"

# ---- a run with snapshots -----------------------------------------------------
mkdir "$work/run" && (cd "$work/run" && synthetic_mdot ring 12 && synthetic_profiles ring 6)
expect_status 0 "figures of a run with six snapshots" run_plot "$work/run"
printf '%s\n' "$work/run/mdotin_ring.png" "$work/run/F_profiles.png" > "$work/want"
expect "both figure paths are printed, nothing else" cmp -s "$work/out" "$work/want"
expect "no warning" test ! -s "$work/err"
expect "accretion-rate figure" png_check "$work/run/mdotin_ring.png" 20000
expect "profile figure" png_check "$work/run/F_profiles.png" 40000

expect_status 0 "-n NAME and -o OUTDIR" run_plot -n ring -o "$work/figs out" "$work/run"
expect "figures go to the output folder" png_check "$work/figs out/mdotin_ring.png" 20000
expect "the profile figure too" png_check "$work/figs out/F_profiles.png" 40000
expect_status 1 "-n with a run that is not there" run_plot -n other "$work/run"
expect "names the missing file" contains "$work/err" "no accretion-rate file mdotin_other.dat"

# ---- a fifth column, a non-positive rate ------------------------------------
mkdir "$work/series" && (cd "$work/series" && synthetic_mdot s5 10 1)
expect_status 0 "a file with the series column 5" run_plot "$work/series"
expect "its figure" png_check "$work/series/mdotin_s5.png" 20000
expect "no snapshot figure without snapshots" test ! -e "$work/series/F_profiles.png"

mkdir "$work/neg" && (cd "$work/neg" && synthetic_mdot neg 8 && sed -i 's/^3\t\([^\t]*\)\t/3\t\1\t-/' mdotin_neg.dat)
expect_status 0 "a file with one negative rate" run_plot "$work/neg"
expect "the left-out line is reported" contains "$work/err" "1 of 8 data lines have a time or rate <= 0"
expect "as a negative rate of column 3" contains "$work/err" "in column 3 (Mdot_in): 1 negative; left out"

# Column 5 with nan and negative values: counted by kind, column 3 still drawn in full.
mkdir "$work/nan5" && (cd "$work/nan5" && synthetic_mdot nan5 8 1 \
    && sed -i -e 's/^2\t\(.*\)\t[^\t]*$/2\t\1\t-nan/' -e 's/^4\t\(.*\)\t[^\t]*$/4\t\1\t-3.5e2/' \
        -e 's/^5\t\(.*\)\t[^\t]*$/5\t\1\tnan/' mdotin_nan5.dat)
expect_status 0 "column 5 with two nan and one negative value" run_plot "$work/nan5"
expect "they are named" contains "$work/err" "3 of 8 data lines have a time or rate <= 0 (or not a number) in column 5 (Mdot_in_series): 2 nan, 1 negative; left out"
expect "column 3 loses nothing" not_contains "$work/err" "in column 3"
expect "its figure" png_check "$work/nan5/mdotin_nan5.png" 20000
expect "the figure is drawn from the rest" png_check "$work/neg/mdotin_neg.png" 20000

# ---- two runs in one folder: the snapshot names are shared ---------------------
mkdir "$work/shared"
(cd "$work/shared" && synthetic_mdot small 6 0 30 1e24 && synthetic_profiles small 5 1e24 && sleep 1 \
    && synthetic_mdot big 6 0 30 1e26 && synthetic_profiles big 3 1e26)
expect_status 0 "a folder where two runs wrote snapshots" run_plot "$work/shared"
expect "snapshot 3 of the earlier run is left out" contains "$work/err" "F_x3.dat was written by another model than F_x"
expect "snapshot 4 too" contains "$work/err" "F_x4.dat was written by another model"
expect "snapshot 2 is kept" test "$(grep -c 'F_x2.dat was written' "$work/err")" -eq 0
expect "both accretion-rate figures" png_check "$work/shared/mdotin_small.png" 20000
expect "and the profiles of the later run" png_check "$work/shared/F_profiles.png" 40000

# ---- grid members, the outer supply, observed points, several folders ---------
member="$work/grid/m_l=0.4_mdisk=1e24"
mkdir -p "$member" && (cd "$member" && synthetic_mdot "m_l=0.4_mdisk=1e24" 10 1)
expect_status 0 "a grid member: '=' in the folder and run names" run_plot "$member"
expect "its figure" png_check "$member/mdotin_m_l=0.4_mdisk=1e24.png" 20000

mdot_out_colour=2e8b57 supply_colour=e67e22
expect "mode 0 shows no supply" test "$(png_colour_count "$work/series/mdotin_s5.png" $mdot_out_colour)$(png_colour_count "$work/series/mdotin_s5.png" $supply_colour)" = 00
mkdir "$work/mode1" && (cd "$work/mode1" && synthetic_mdot feed 10 1 \
    && sed -i -e 's/^#flag_outer=0/#flag_outer=1/' -e 's/^#mdot_out=.*/#mdot_out=2.000000e+17/' mdotin_feed.dat)
expect_status 0 "mode 1" run_plot "$work/mode1"
expect "a dashed line at mdot_out" test "$(png_colour_count "$work/mode1/mdotin_feed.png" $mdot_out_colour)" -gt 50
mkdir "$work/mode2" && (cd "$work/mode2" && synthetic_mdot law 10 1 && sed -i 's/^#flag_outer=0/#flag_outer=2/' mdotin_law.dat)
expect_status 0 "mode 2 without the run's parameter file" run_plot "$work/mode2"
expect "says the supply is unknown" contains "$work/err" "no parameter file in $work/mode2 names the run 'law'"
expect "and draws none" test "$(png_colour_count "$work/mode2/mdotin_law.png" $supply_colour)" -eq 0
printf '2 # flag_outer\nlaw # name\n' > "$work/law-elsewhere.par"
expect_status 0 "mode 2 with --par naming no table" run_plot --par "$work/law-elsewhere.par" "$work/mode2"
expect "the supply law is drawn" test "$(png_colour_count "$work/mode2/mdotin_law.png" $supply_colour)" -gt 50
expect_status 2 "--par with a file that is not there" run_plot --par "$work/nofile.par" "$work/mode2"
printf '2 # flag_outer\nlaw # name\nfeed.txt # supply_file\n' > "$work/mode2/law.par"
expect_status 0 "mode 2 with a supply_file that is not there" run_plot "$work/mode2"
expect "says so" contains "$work/err" "its supply table $work/mode2/feed.txt cannot be used"
expect "and draws no law in its place" test "$(png_colour_count "$work/mode2/mdotin_law.png" $supply_colour)" -eq 0
printf '# days g/s\n\n1 3e17\n100 2e18\n' > "$work/mode2/feed.txt"
expect_status 0 "mode 2 with a supply table" run_plot "$work/mode2"
expect "the table is drawn" test "$(png_colour_count "$work/mode2/mdotin_law.png" $supply_colour)" -gt 50

printf '# t[days] rate err\n10 1e18 1e17\n30 1.2e18\n-5 1e18 1e17\n60 8e17 5e16\n' > "$work/obs.txt"
expect_status 0 "observed points" run_plot --data "$work/obs.txt" "$work/mode1"
expect "the line a log axis cannot show is named" contains "$work/err" "1 of 4 lines are not"
expect_status 0 "several folders in one figure, linear time" run_plot --linear-time -o "$work/cmp" "$work/mode1" "$member" "$work/mode2"
expect "only the comparison is drawn" cmp -s "$work/out" <(echo "$work/cmp/mdotin_compare.png")
expect "the comparison figure" png_check "$work/cmp/mdotin_compare.png" 20000
expect_status 2 "--data without a file" run_plot --data "$work/nofile" "$work/mode1"

# ---- the default model, when the program is built ------------------------------
if [ -n "$binary" ] && [ -x "$binary" ] && [ -f "$src/examples/default.par" ]; then
    mkdir "$work/default"
    cp "$src/examples/default.par" "$work/default/"
    (cd "$work/default" && timeout 900 "$binary" default.par < /dev/null > velmora.log 2>&1)
    status=$?
    if [ "$status" -eq 0 ]; then pass "the default model runs (status 0)"; else fail "the default model: status $status"; tail -n 5 "$work/default/velmora.log"; fi
    expect_status 0 "figures of the default model" run_plot "$work/default"
    cat "$work/err"
    for png in "$work/default"/mdotin_*.png; do
        expect "default model figure $(basename "$png")" png_check "$png" 20000
    done
    expect "one accretion-rate figure per run" test "$(ls "$work/default"/mdotin_*.dat | wc -l)" -eq "$(ls "$work/default"/mdotin_*.png | wc -l)"
else
    echo "note: no built velmora at '${binary}' or no examples/default.par: the default model's figure is not checked"
fi

finish
