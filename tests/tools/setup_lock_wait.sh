#!/bin/bash
# Checks that scripts/setup.sh waits for apt's lock instead of failing: with
# stand-ins for apt-get, dpkg-query, cmake and sleep on the PATH, a lock on
# the package lists held for two tries is waited out, apt-get install is told
# to wait for dpkg's lock, another failure of apt-get update stops at once,
# and a lock held past the 5 minutes stops with apt's message.
#
# Usage: bash setup_lock_wait.sh VELMORA_BINARY SOURCE_DIR

set -u
src=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
source "$src/tests/tools/lib/check.bash"

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-setup-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/bin"
cp "$src/scripts/setup.sh" "$work/tree/scripts/"

# apt-get update fails with apt's lock message while $work/held > 0 (counting
# down), or with a network error when $work/offline exists; every call is logged.
cat > "$work/bin/apt-get" <<'FAKE'
#!/bin/bash
echo "apt-get $*" >> "$FAKE_DIR/calls"
if [[ " $* " == *" update "* ]]; then
  [ -e "$FAKE_DIR/offline" ] && { echo "E: Failed to fetch http://deb.debian.org/  Temporary failure resolving" >&2; exit 100; }
  held=$(cat "$FAKE_DIR/held")
  if [ "$held" -gt 0 ]; then
    echo $((held - 1)) > "$FAKE_DIR/held"
    echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >&2
    exit 100
  fi
fi
exit 0
FAKE
printf '#!/bin/bash\nexit 1\n' > "$work/bin/dpkg-query"           # every package missing
printf '#!/bin/bash\nexit 0\n' > "$work/bin/cmake"
printf '#!/bin/bash\necho "sleep $*" >> "$FAKE_DIR/calls"\n' > "$work/bin/sleep"
printf '#!/bin/bash\nexec "$@"\n' > "$work/bin/sudo"
chmod +x "$work/bin/"*
export FAKE_DIR=$work PATH="$work/bin:$PATH"

run_setup() { : > "$work/calls"; bash "$work/tree/scripts/setup.sh" > "$work/out" 2>&1; }

echo 2 > "$work/held"
expect_status 0 "a lock on the package lists held for two tries is waited out" run_setup
expect "apt-get update tried three times" [ "$(grep -c ' update' "$work/calls")" -eq 3 ]
expect "the wait is said once" [ "$(grep -c "waiting for apt's lock" "$work/out")" -eq 1 ]
expect "apt-get install waits for dpkg's lock" grep -q "install.*DPkg::Lock::Timeout=300\|DPkg::Lock::Timeout=300.*install" "$work/calls"

echo 0 > "$work/held"
touch "$work/offline"
expect_status 1 "another failure of apt-get update stops the set-up" run_setup
expect "... at once, without waiting" [ "$(grep -c ' update' "$work/calls")" -eq 1 ]
expect "... with apt's message" contains "$work/out" "Temporary failure resolving"
expect "... and nothing installed" bash -c "! grep -q ' install' '$work/calls'"
rm "$work/offline"

echo 1000 > "$work/held"
expect_status 1 "a lock held past 300 s stops the set-up" run_setup
expect "... after 300 s of waiting" [ "$(grep -c '^sleep 5' "$work/calls")" -eq 60 ]
expect "... with apt's message" contains "$work/out" "Could not get lock"

finish
