# Small assertion helpers for the shell tests of the user tools.
# Source it; every check prints one line; finish reports and sets the status.

checks_passed=0
checks_failed=0

pass() { checks_passed=$((checks_passed + 1)); echo "ok: $*"; }
fail() { checks_failed=$((checks_failed + 1)); echo "FAIL: $*"; }

# expect DESCRIPTION COMMAND...: the command succeeds.
expect() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# expect_status N DESCRIPTION COMMAND...: the command exits with status N.
expect_status() {
    local want=$1 what=$2 got
    shift 2
    "$@"
    got=$?
    if [ "$got" -eq "$want" ]; then pass "$what (status $got)"; else fail "$what: status $got, expected $want"; fi
}

# contains FILE TEXT: FILE holds TEXT as a fixed string.
contains() { grep -qF -- "$2" "$1"; }

# near_rel A B TOL: |A - B| <= TOL * |B|.
near_rel() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; m = (b < 0) ? -b : b; exit !(d <= t * m) }'; }

finish() {
    echo "$checks_passed checks passed, $checks_failed failed"
    [ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]
}
