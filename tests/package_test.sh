#!/bin/sh
# The Debian package, built by ./scripts/package into the build tree (the
# script fails unless lintian and hardening-check pass), from a copy of the
# sources that also holds files git does not track: the source package holds
# exactly the tracked files but git's own; the .deb holds the program, its session modules, the compressed man
# page, both completions, the copyright file and the changelog, and its
# program prints its help with the package's version. A package build
# stopped with SIGTERM leaves nothing in TMPDIR. Nothing is installed.
set -eu
source_dir=$1
dist=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixla-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
rm -rf "$dist"

# The sources as git tracks them now, in a checkout of their own, with an
# untracked build folder and note beside them.
copy=$scratch/source
mkdir "$copy"
git -C "$source_dir" ls-files -z | (cd "$source_dir" && tar -cf - --null -T -) | tar -xf - -C "$copy"
git -C "$copy" init -q
git -C "$copy" add -A
mkdir "$copy/b"
echo junk >"$copy/b/junk.o"
echo notes >"$copy/notes.txt"

# Stopped halfway, a build removes its work folder and ends all it started.
stopped=$scratch/stopped-tmp
mkdir "$stopped"
TMPDIR=$stopped PIXLA_DIST_DIR=$scratch/stopped-dist "$copy/scripts/package" >"$scratch/stopped.log" 2>&1 &
builder=$!
for _ in $(seq 300); do
    [ -n "$(find "$stopped" -name build.log -size +1k 2>/dev/null)" ] && break
    sleep 0.1
done
kill -TERM "$builder"
wait "$builder" || true
sleep 1
left=$(ls -A "$stopped")
[ -z "$left" ] || { echo "a stopped package build left in TMPDIR: $left"; exit 1; }

PIXLA_DIST_DIR=$dist "$copy/scripts/package" >"$dist.log" 2>&1 ||
    { cat "$dist.log"; echo "scripts/package failed"; exit 1; }
cat "$dist.log"
deb=$(ls "$dist"/pixla_*.deb)

sources=$(tar -tf "$dist"/pixla_*.tar.xz | sed 's|^[^/]*/||' | grep -v -e '^$' -e '/$' | sort)
# dpkg-source leaves git's own files (.gitignore) out of a source package.
tracked=$(git -C "$copy" ls-files | grep -v '^\.git' | sort)
[ "$sources" = "$tracked" ] || {
    echo "the source package differs from the tracked files (<) in:"
    printf '%s\n' "$tracked" >"$scratch/tracked"
    printf '%s\n' "$sources" | diff "$scratch/tracked" - || true
    exit 1
}

files=$(dpkg-deb --contents "$deb" | awk '{ print $6 }' | grep -v '/$' | sort)
multiarch=$(dpkg-architecture -q DEB_HOST_MULTIARCH)
expected=$(sed "s/MULTIARCH/$multiarch/" <<'LIST' | sort
./usr/bin/pixla
./usr/lib/MULTIARCH/pixla/pixla-portal.so
./usr/lib/MULTIARCH/pixla/pixla-wlroots.so
./usr/lib/MULTIARCH/pixla/pixla-x11.so
./usr/share/bash-completion/completions/pixla
./usr/share/doc/pixla/changelog.gz
./usr/share/doc/pixla/copyright
./usr/share/man/man1/pixla.1.gz
./usr/share/zsh/vendor-completions/_pixla
LIST
)
[ "$files" = "$expected" ] || { printf 'the package holds:\n%s\n' "$files"; exit 1; }

dpkg-deb -x "$deb" "$scratch/unpacked"
version=$(dpkg-deb -f "$deb" Version)
first_line=$(env -u DISPLAY "$scratch/unpacked/usr/bin/pixla" -h | head -n 1)
[ "$first_line" = "pixla $version - grabs color from the screen & dumps it to stdout." ] ||
    { echo "the packaged pixla $version says: $first_line"; exit 1; }
# It finds its X module in the multiarch folder: the module answers for the display.
said=$(env -u WAYLAND_DISPLAY DISPLAY=:98765 "$scratch/unpacked/usr/bin/pixla" 2>&1 || true)
case "$said" in
"pixla: unable to open display :98765: "*) ;;
*) echo "the packaged pixla with DISPLAY=:98765 says: $said"; exit 1 ;;
esac
echo "package checked"
