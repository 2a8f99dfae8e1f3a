# Sourced by the scripts: the repository's top folder, the build's
# parallelism, and long commands run so that a signal to the script stops
# them with it.

top=$(cd "$(dirname "$0")/.." && pwd)
# One compile a processor: make -j with no number has no bound at all.
jobs=$(nproc)

# The process group of the command that in_group is waiting for.
group=

# Runs the command in a process group of its own and waits for it, so that
# stop_group can end it with everything it started.
in_group() {
    setsid "$@" &
    group=$!
    group_status=0
    wait "$group" || group_status=$?
    group=
    return "$group_status"
}

# Ends the command that in_group is waiting for, if any, and waits until
# none of its processes is left, so that nothing goes on writing.
stop_group() {
    [ -n "$group" ] || return 0
    # A negative number names the process group (dash's kill takes no "--").
    kill -TERM "-$group" 2>/dev/null || true
    while kill -0 "-$group" 2>/dev/null; do sleep 0.1; done
    group=
}

# Calls the cleanup (a command) on every exit: success, failure, SIGINT, SIGTERM or SIGHUP.
on_exit() {
    # shellcheck disable=SC2064 # the command is fixed now
    trap "stop_group; $1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}
