#!/bin/sh
# ./scripts/run with no display at all shows pixla at work on a private Xvfb. It
# is run from another folder, with a -r file named relative to that folder,
# as a user would run it from their own.
set -eu
source_dir=$1
build_dir=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixla-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
printf '255 215 0\tmy gold\n' >"$scratch/mine.txt"
out=$(cd "$scratch" && env -u DISPLAY -u WAYLAND_DISPLAY PIXLA_BUILD_DIR="$build_dir" "$source_dir/scripts/run" -v -r mine.txt 2>"$build_dir.err")
expected='button 1             on tomato     at 100x200:  100x200 #ff6347
Control + button 1   on steel blue at 300x200:  300x200 70 130 180
Shift + button 1     on gold       at 500x200:  500x200 my gold'
[ "$out" = "$expected" ] || { printf 'the demo showed:\n%s\n' "$out"; cat "$build_dir.err"; exit 1; }
grep -q '^No display given (neither DISPLAY, WAYLAND_DISPLAY nor -d): showing pixla at work on a private Xvfb' "$build_dir.err" ||
    { echo "the demo did not say why it ran:"; cat "$build_dir.err"; exit 1; }
echo "demo checked"
