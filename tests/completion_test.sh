#!/bin/bash
# The bash completion, as bash calls it: options, file names after -r, and
# after -d the displays of this machine (a private Xvfb among them) and
# whatever display was typed.
set -u
completion=$1
scratch=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill "$xvfb" && wait "$xvfb"; rm -rf "$scratch"' EXIT
# shellcheck source=/dev/null
source "$completion"

# What the completion offers for the words, one a line, sorted.
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _pixla
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}
failed=0
expect() {
    local words=$1 got=$2 wanted=$3
    [ "$got" = "$wanted" ] || { printf 'for "%s" offered:\n%s\ninstead of:\n%s\n' "$words" "$got" "$wanted"; failed=1; }
}

expect "pixla -" "$(offered pixla -)" "$(printf '%s\n' -E -N -d -h -r -v | sort)"
expect "pixla -v -" "$(offered pixla -v -)" "$(printf '%s\n' -E -N -d -h -r -v | sort)"
expect "pixla x" "$(offered pixla x)" ""

cd "$scratch" || exit 1
touch colors.txt 'my colors.txt' other.txt
expect "pixla -r co" "$(offered pixla -r co)" "colors.txt"
expect "pixla -r my" "$(offered pixla -r my)" "my colors.txt"
expect "pixla -v -r ''" "$(offered pixla -v -r '')" "$(printf '%s\n' colors.txt 'my colors.txt' other.txt)"

Xvfb -displayfd 3 -nolisten tcp -noreset 3>"$scratch/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 200); do grep -q . "$scratch/display" 2>/dev/null && break; sleep 0.1; done
number=$(cat "$scratch/display")
[ -n "$number" ] || { echo "Xvfb did not start"; exit 1; }
offered pixla -d : | grep -qx ":$number" || { echo "display :$number is not offered: $(offered pixla -d :)"; failed=1; }
expect "pixla -d far:1" "$(offered pixla -d far:1)" "far:1"

[ "$failed" -eq 0 ] && echo "completion checked"
exit "$failed"
