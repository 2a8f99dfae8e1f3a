#!/bin/sh
# The scripts' handling of signals and odd logs: a command run with in_group
# is stopped with the script by SIGTERM even when it ignores SIGTERM or is
# stopped, and by Ctrl-Z along with the script; a second Ctrl-C does not cut
# the clean-up short; scripts/test gives its verdict whatever ctest printed.
set -eu
scripts=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixla-scripts.XXXXXX")
driver=
trap '[ -z "$driver" ] || kill -KILL "-$driver" 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "$*"; exit 1; }

# A script that runs its argument as a shell command through in_group, with
# a clean-up that takes a second; started in a session of its own and with
# SIGINT at its default, as a terminal's job would be (sh starts background
# jobs with SIGINT ignored).
cat >"$scratch/driver" <<DRIVER
. "$scripts/common.sh"
on_exit 'sleep 1; echo cleaned >"$scratch/cleaned"'
in_group sh -c "\$1"
DRIVER
start_driver() {
    rm -f "$scratch/member" "$scratch/cleaned"
    setsid env --default-signal=INT sh "$scratch/driver" "echo \$\$ >'$scratch/member'; $1" &
    driver=$!
    for _ in $(seq 100); do [ -s "$scratch/member" ] && break; sleep 0.05; done
    member=$(cat "$scratch/member")
}
# The state letter of a process (R, S, T, Z ...), or nothing once it is gone.
state() { sed -n 's/^[0-9]* ([^)]*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null || true; }
ended_within() {
    for _ in $(seq "$(($1 * 10))"); do [ -z "$(state "$2")" ] && return 0; sleep 0.1; done
    return 1
}

start_driver 'trap "" TERM; sleep 30'
kill -TERM "$driver"
ended_within 5 "$member" || fail "a member that ignores SIGTERM outlived the script"
wait "$driver" || true

start_driver 'kill -STOP $$'
kill -TERM "$driver"
ended_within 1 "$member" || fail "a stopped member was not ended at once"
wait "$driver" || true

start_driver 'exec sleep 30'
kill -INT "-$driver"
sleep 0.3
kill -INT "-$driver"
status=0
wait "$driver" || status=$?
[ "$status" -eq 130 ] && [ -f "$scratch/cleaned" ] ||
    fail "after a second Ctrl-C: status $status, clean-up $([ -f "$scratch/cleaned" ] && echo done || echo skipped)"

start_driver 'exec sleep 30'
kill -TSTP "-$driver"
sleep 0.3
[ "$(state "$member")" = T ] && [ "$(state "$driver")" = T ] ||
    fail "after Ctrl-Z: the script is $(state "$driver"), its command $(state "$member")"
kill -CONT "-$driver"
sleep 0.3
[ "$(state "$member")" = S ] || fail "after fg: its command is $(state "$member")"
kill -TERM "$driver"
wait "$driver" || true

# ctest ending with nothing but the lines that the log leaves out.
mkdir "$scratch/bin" "$scratch/tmp"
printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/cmake"
printf '#!/bin/sh\necho "Test project $PWD"\nexit 8\n' >"$scratch/bin/ctest"
chmod +x "$scratch/bin/cmake" "$scratch/bin/ctest"
status=0
PATH=$scratch/bin:$PATH TMPDIR=$scratch/tmp sh "$scripts/test" >"$scratch/test.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && [ "$(tail -n 1 "$scratch/test.log")" = "tests: 0 passed, 2 failed" ] ||
    { echo "scripts/test with an empty ctest log: status $status, said:"; cat "$scratch/test.log"; exit 1; }
echo "scripts checked"
