#!/bin/bash
# Runs a velmora grid on a real Slurm cluster of one node and checks it against
# the same grid run with GNU parallel.
#
# The test starts munged, slurmctld and slurmd on 127.0.0.1 with a private
# configuration, key, socket and state, spool and log folders under a
# temporary folder (nothing of the system's Slurm or munge is used or touched),
# makes a grid of four real models in a folder whose path holds a space, '%A',
# '#', quotes and '$', and submits it with the generated submit.sh. The
# cluster's MaxArraySize of 3 makes the grid two job arrays (3 + 1 tasks), one
# task is made to fail by a --setup line, and the summary job runs after both
# arrays. The test then checks the failure and the rerun line the summary
# prints, reruns that task held (pending in squeue: --summary must say so and
# exit with 3), releases it, and compares the final summary with GNU parallel's
# (every column but the run time) and every data file byte for byte. It always
# stops the three daemons by the process ids it started, also on failure.
#
# What the daemons need here (Debian 12: Slurm 22.05.8, munge 0.5.15; kernel
# 6.18 with the cgroup v1 controllers and a cgroup2 tree mounted side by side,
# no systemd), found by trying:
# - ProctrackType=proctrack/linuxproc, TaskPlugin=task/none and
#   JobAcctGatherType=jobacct_gather/none: slurmd and slurmstepd then use no
#   cgroup and need no cgroup.conf. With proctrack/cgroup (Slurm's default)
#   slurmstepd stops every job with "cgroup namespace 'freezer' not mounted"
#   and slurmctld drains the node.
# - munged stops with "Socket is inaccessible" unless every folder above its
#   socket may be searched by all: mktemp's mode 700 must become 755. Its key
#   (made by mungekey) must belong to the user it runs as, mode 600.
# - Slurm finds munged through AuthInfo=socket=...; slurmctld runs only where
#   SlurmctldHost names this machine (its short host name), so the node is
#   given that name too, with NodeAddr=127.0.0.1.
# - slurmd logs errors about the mpi/pmix plugins (no PMIx library): harmless
#   with MpiDefault=none. MailProg=/bin/true silences a complaint of slurmctld.
# - With the default batch_sched_delay of 3 s jobs start in bursts every 3 s;
#   batch_sched_delay=0 lets the whole test finish in about 20 s.
# The daemons run under `timeout` as well, so that even a test killed with
# SIGKILL leaves none behind for longer than that.
#
# Skipped (exit status 77) when not run as root or when the Debian packages
# slurmctld, slurmd, slurm-client and munge are missing.
#
# Usage: bash slurm_grid.sh VELMORA_BINARY SOURCE_DIR

set -u
export PATH="$PATH:/usr/sbin:/sbin"
binary=${1:-}
[ -e "$binary" ] && binary=$(readlink -f "$binary")
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
src=$(readlink -f "$src")
grid_tool="$src/tools/velmora-grid"
source "$src/tests/tools/lib/check.bash"

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the real-Slurm test starts munged, slurmctld and slurmd, which needs root"
for c in munged munge slurmctld slurmd sbatch squeue scontrol sinfo scancel; do
    command -v "$c" > /dev/null || skip "$c not found: install the Debian packages slurmctld slurmd slurm-client munge"
done
[ -x "$binary" ] || { echo "FAIL: no built velmora at '$binary'"; exit 1; }
command -v parallel > /dev/null || { echo "FAIL: GNU parallel is not installed"; exit 1; }

lifetime=170   # seconds: the latest end of every daemon (ctest's limit is 180)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-slurm-test.XXXXXX") || exit 1
chmod 755 "$work"
mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/log" "$work/run"
pids=()

# stop PID: TERM, then KILL after 10 s.
stop() {
    kill -TERM "$1" 2> /dev/null || return 0
    local end=$((SECONDS + 10))
    while kill -0 "$1" 2> /dev/null && [ $SECONDS -lt $end ]; do sleep 0.1; done
    kill -KILL "$1" 2> /dev/null
    wait "$1" 2> /dev/null
}
stop_cluster() {
    local i
    [ ${#pids[@]} -lt 3 ] || timeout 10 scancel --user=root > /dev/null 2>&1
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done
    stopped=("${pids[@]}")
    pids=()
}
cleanup() {
    local status=$?
    stop_cluster
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        for f in "$work"/log/*; do echo "---- last lines of $f"; tail -n 15 "$f"; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# start NAME COMMAND...: runs a daemon in the foreground of a background job,
# its output in log/NAME.out.
start() {
    local name=$1
    shift
    timeout "$lifetime" "$@" < /dev/null > "$work/log/$name.out" 2>&1 &
    pids+=($!)
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local limit=$1 what=$2 end=$((SECONDS + $1))
    shift 2
    until "$@"; do
        [ $SECONDS -lt $end ] || { fail "$what (not within $limit s)"; return 1; }
        sleep 0.2
    done
    pass "$what"
}

# free_port: a TCP port of 127.0.0.1 nobody listens on.
free_port() {
    local p i
    for i in $(seq 50); do
        p=$((20000 + RANDOM % 30000))
        [ "$p" != "${1:-}" ] || continue
        (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null || { echo "$p"; return 0; }
    done
    return 1
}

# ---- the cluster --------------------------------------------------------------------
started=$SECONDS
if command -v mungekey > /dev/null; then
    mungekey --create --keyfile="$work/munge/munge.key" || exit 1
else
    dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none || exit 1
fi
chmod 600 "$work/munge/munge.key"
socket="$work/munge/socket"
start munged munged -F --socket="$socket" --key-file="$work/munge/munge.key" --pid-file="$work/munge/munged.pid" \
    --seed-file="$work/munge/munged.seed" --log-file="$work/log/munged.log"
wait_for 10 "munged answers on its own socket" eval 'munge -n -S "$socket" > /dev/null 2>&1' || exit 1

host=$(uname -n)
host=${host%%.*}
ctld_port=$(free_port) && node_port=$(free_port "$ctld_port") || { echo "FAIL: no free port"; exit 1; }
: > "$work/plugstack.conf"
cat > "$work/slurm.conf" <<EOF
ClusterName=velmoratest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/run/slurmctld.pid
SlurmdPidFile=$work/run/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
PlugStackConfig=$work/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SwitchType=switch/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0
MailProg=/bin/true
MessageTimeout=5
MaxArraySize=3
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=grid Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$work/slurm.conf"
start slurmctld slurmctld -D -f "$SLURM_CONF"
start slurmd slurmd -D -f "$SLURM_CONF" -N "$host"
node_idle() { [ "$(timeout 5 sinfo -h -n "$host" -o %T 2> /dev/null)" = idle ]; }
wait_for 30 "slurmctld and slurmd are up and the node is idle" node_idle || exit 1
echo "note: the cluster took $((SECONDS - started)) s to start"

queue_empty() { local q; q=$(timeout 5 squeue -h -o %i 2> /dev/null) && [ -z "$q" ]; }

# ---- a grid with a failed task ------------------------------------------------------
cd "$work" || exit 1
run_grid() { timeout 60 "$grid_tool" "$@" > "$work/out" 2> "$work/err" < /dev/null; }
not_contains() { ! grep -qF -- "$2" "$1"; }
column_of() { head -n 1 "$1" | tr '\t' '\n' | grep -n -x -F -- "$2" | cut -d: -f1; }
field() { awk -F'\t' -v r="$2" -v c="$(column_of "$1" "$3")" 'NR == r + 1 { print $c }' "$1"; }

mkdir "$work/my models" && cp "$src/examples/default.par" "$work/my models/default.par"
grid="$work/grid dir %A_%a #1 'q' \"d\" \$HOME"
ranges=(l=0.25,0.4 mdisk=1e24,2e24)
breaker="$work/break task"
touch "$breaker"
# Tasks inherit the submitting shell's environment: the one CPU they ask for
# must win over this.
export VELMORA_THREADS=2
expect_status 0 "the grid is written for Slurm" run_grid --slurm --velmora "$binary" --timeout 60 \
    --setup "[ \"\$SLURM_ARRAY_TASK_ID\" != 1 ] || [ ! -e $(printf '%q' "$breaker") ] || exit 3" \
    -o "$grid" "$work/my models/default.par" "${ranges[@]}"
expect "MaxArraySize 3 is read from scontrol" contains "$work/err" "arrays of at most 3 tasks"
expect "two job arrays, of 3 and 1 tasks" test "$(cut -f 2,3 "$grid/slurm_arrays.tsv" | tr '\t\n' ' ')" = "0 3 3 1 "

expect_status 0 "submit.sh submits both arrays and the summary job" timeout 30 bash "$grid/submit.sh" > "$work/submitted" 2>&1
cat "$work/submitted"
array1=$(sed -n 's/^Submitted .*velmora-grid-1\.slurm as job array \([0-9]*\)$/\1/p' "$work/submitted")
summary_job=$(sed -n 's/^Submitted the summary as job \([0-9]*\):.*/\1/p' "$work/submitted")
expect "it names the job ids" test -n "$array1" -a -n "$summary_job"
wait_for 40 "every job of the grid has ended" queue_empty || exit 1
expect "the job is named after the grid folder" \
    test "$(timeout 5 squeue -h -t all -j "$array1" -o %j | sort -u)" = "$(basename "$grid")"

rows=$(( $(wc -l < "$grid/grid.tsv") - 1 ))
expect "one output file per task, under the folder's own name" test "$(ls "$grid" | grep -c '^slurm-[0-9]*_[0-9]\.out$')" -eq "$rows"
expect "tasks run with VELMORA_THREADS=1, not the submitting shell's 2" \
    test "$(cat "$grid"/slurm-[0-9]*_[0-9].out | grep -c 'with VELMORA_THREADS=1$')" -eq $((rows - 1))
summary_out="$grid/slurm-summary-$summary_job.out"
expect "the summary job ran after both arrays" contains "$summary_out" "Summary: $grid/summary.tsv"
broken="default_l=0.25_mdisk=2e24"
expect "it names the task stopped by the set-up line" contains "$summary_out" "FAILED: $grid/$broken: not run"
hint=$(grep '^  sbatch --array=' "$summary_out")
# The line, as the shell reads it, names the first array's script (quoted as a shell word).
hint_words() { eval "local w=($hint)"; printf '%s\n' "${w[@]}"; }
expect "and the line that reruns it" test "$(hint_words)" = "$(printf '%s\n' sbatch --array=1 "$grid/velmora-grid-1.slurm")"
expect "the summary job failed with it" test "$(timeout 5 squeue -h -t all -j "$summary_job" -o %T)" = FAILED

# ---- the rerun, first held in the queue -------------------------------------------
rm "$breaker"
rerun=$(eval "timeout 10 sbatch --parsable --hold ${hint#  sbatch }")
expect "the rerun line submits as printed" test -n "$rerun"
expect_status 3 "--summary of a grid with a pending task" run_grid --summary "$grid"
expect "the task shows as pending" test "$(field "$grid/summary.tsv" 2 exit_status)" = pending
expect "with its job" test "$(field "$grid/summary.tsv" 2 note)" = "in Slurm: job ${rerun%%;*}_1, PENDING"
expect "and is not called failed" not_contains "$work/err" FAILED
expect "the console says one is waiting" contains "$work/err" "1 model is still pending or running"
timeout 10 scontrol release "${rerun%%;*}"
wait_for 30 "the released task has ended" queue_empty || exit 1
expect_status 0 "--summary once it has run" run_grid --summary "$grid"

# ---- against GNU parallel ------------------------------------------------------------
expect_status 0 "the same grid with GNU parallel" env -u VELMORA_THREADS \
    timeout 60 "$grid_tool" --velmora "$binary" --timeout 60 -o "$work/parallel" "$work/my models/default.par" "${ranges[@]}" \
    > /dev/null 2>&1 < /dev/null
without_run_time() { awk -F'\t' -v OFS='\t' -v c="$(column_of "$1" 'run_time(s)')" '{ $c = ""; print }' "$1"; }
expect "the summaries agree byte for byte but for the run times" \
    test "$(without_run_time "$grid/summary.tsv")" = "$(without_run_time "$work/parallel/summary.tsv")"
expect "four models with a peak" test "$(awk -F'\t' 'NR > 1 && $4 == 0 && $5 + 0 > 0' "$grid/summary.tsv" | wc -l)" -eq 4
while IFS=$'\t' read -r folder _; do
    expect "$folder: the same data file" cmp -s "$grid/$folder/mdotin_$folder.dat" "$work/parallel/$folder/mdotin_$folder.dat"
done < <(tail -n +2 "$grid/grid.tsv")

stop_cluster
expect "the three daemons have stopped" eval '[ ${#stopped[@]} -eq 3 ] && ! kill -0 "${stopped[@]}" 2> /dev/null'
echo "note: the test took $((SECONDS - started)) s"
finish
