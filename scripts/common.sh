# Sourced by the scripts: the repository's top folder, the build's
# parallelism, and long commands run so that a signal to the script stops
# them with it.

top=$(cd "$(dirname "$0")/.." && pwd)
# One compile a processor: make -j with no number has no bound at all.
jobs=$(nproc)

# What building pixla needs. The wlr protocols' XML files come with Debian
# 12's Rust protocol crate, and with a crate of their own from Debian 13 on.
wlr_protocols=$(. /etc/os-release && if [ "${VERSION_ID:-}" = 12 ]; then
    echo librust-wayland-protocols-dev
else
    echo librust-wayland-protocols-wlr-dev
fi)
build_packages="cmake make g++ pkg-config libx11-dev libwayland-dev wayland-protocols libxkbcommon-dev $wlr_protocols
    libsystemd-dev"

# The process group of the command that in_group is waiting for.
group=
# The exit status asked for by a signal that came while in_group was
# starting its command, before the group was known.
pending=

# SIGINT, SIGTERM and SIGHUP end the script with the status a shell gives,
# through its EXIT trap.
exit_on_signals() {
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

# Runs the command in a process group of its own and waits for it, so that
# stop_group can end it with everything it started.
in_group() {
    trap 'pending=130' INT
    trap 'pending=143' TERM
    trap 'pending=129' HUP
    setsid "$@" &
    group=$!
    exit_on_signals
    [ -z "$pending" ] || exit "$pending"
    # A trapped signal (Ctrl-Z) ends the wait early, while the command goes on.
    while :; do
        group_status=0
        wait "$group" || group_status=$?
        kill -0 "$group" 2>/dev/null || break
    done
    group=
    return "$group_status"
}

# Ctrl-Z: stops the command that in_group is waiting for along with the
# script, which its own process group would not, and lets both go on together.
suspend_with_group() {
    [ -z "$group" ] || kill -STOP "-$group" 2>/dev/null || true
    kill -STOP $$
    [ -z "$group" ] || kill -CONT "-$group" 2>/dev/null || true
}

# Ends the command that in_group is waiting for, if any, and waits until
# none of its processes is left, so that nothing goes on writing: SIGTERM
# first (and SIGCONT, so that a stopped one acts on it), SIGKILL to what is
# left two seconds later.
stop_group() {
    [ -n "$group" ] || return 0
    # A negative number names the process group (dash's kill takes no "--").
    kill -TERM "-$group" 2>/dev/null || true
    kill -CONT "-$group" 2>/dev/null || true
    tenths=0
    while kill -0 "-$group" 2>/dev/null; do
        [ "$tenths" -lt 20 ] || kill -KILL "-$group" 2>/dev/null || true
        sleep 0.1
        tenths=$((tenths + 1))
    done
    group=
}

# Calls the cleanup (a command) on every exit: success, failure, SIGINT,
# SIGTERM or SIGHUP. A second signal during the cleanup does not cut it short.
on_exit() {
    # shellcheck disable=SC2064 # the command is fixed now
    trap "trap '' INT TERM HUP; stop_group; $1" EXIT
    exit_on_signals
    trap suspend_with_group TSTP
}
