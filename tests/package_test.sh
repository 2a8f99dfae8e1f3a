#!/bin/sh
# The Debian package, built by ./scripts/package into the build tree (the
# script fails unless lintian and hardening-check pass): it holds the
# program, the compressed man page, both completions, the copyright file and
# the changelog, and the program unpacked from it prints its help with the
# package's version. Nothing is installed on the system.
set -eu
source_dir=$1
dist=$2
rm -rf "$dist"
PIXLA_DIST_DIR=$dist "$source_dir/scripts/package" >"$dist.log" 2>&1 ||
    { cat "$dist.log"; echo "scripts/package failed"; exit 1; }
cat "$dist.log"
deb=$(ls "$dist"/pixla_*.deb)

files=$(dpkg-deb --contents "$deb" | awk '{ print $6 }' | grep -v '/$' | sort)
expected=$(sort <<'LIST'
./usr/bin/pixla
./usr/share/bash-completion/completions/pixla
./usr/share/doc/pixla/changelog.gz
./usr/share/doc/pixla/copyright
./usr/share/man/man1/pixla.1.gz
./usr/share/zsh/vendor-completions/_pixla
LIST
)
[ "$files" = "$expected" ] || { printf 'the package holds:\n%s\n' "$files"; exit 1; }

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
version=$(dpkg-deb -f "$deb" Version)
first_line=$(env -u DISPLAY "$unpacked/usr/bin/pixla" -h | head -n 1)
[ "$first_line" = "pixla $version - grabs color from the screen & dumps it to stdout." ] ||
    { echo "the packaged pixla $version says: $first_line"; exit 1; }
echo "package checked"
