#!/bin/sh
# cmake --install puts the program, its session modules, its man page and
# the shell completions where they belong, with a prefix and with DESTDIR;
# the installed program finds its modules there.
set -eu
build=$1
page=$2
zsh_dir=$3  # under the prefix: share/zsh/site-functions, or vendor-completions in the Debian package
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixla-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

check() {
    root=$1
    [ -x "$root/bin/pixla" ] || { echo "no $root/bin/pixla"; exit 1; }
    cmp "$page" "$root/share/man/man1/pixla.1" || { echo "no man page in $root/share/man/man1"; exit 1; }
    for completion in share/bash-completion/completions/pixla "$zsh_dir/_pixla"; do
        [ -f "$root/$completion" ] || { echo "no $root/$completion"; exit 1; }
    done
    env -u DISPLAY "$root/bin/pixla" -h | grep -q '^Usage: ' || { echo "$root/bin/pixla -h failed"; exit 1; }
    # Each session's module answers for itself when its display is missing.
    for session in "DISPLAY=:98765" "WAYLAND_DISPLAY=/nonexistent/wayland-9"; do
        said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$session" "$root/bin/pixla" 2>&1 || true)
        case "$said" in
        "pixla: unable to open display "*) ;;
        *) echo "$root/bin/pixla with $session said: $said"; exit 1 ;;
        esac
    done
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check "$scratch/prefix"
DESTDIR="$scratch/staged" cmake --install "$build" --prefix /usr/local >/dev/null
check "$scratch/staged/usr/local"
echo "installed under a prefix and under DESTDIR"
