#!/bin/sh
# The man page: no groff warning, no line wider than an 80-column terminal,
# and every option and diagnostic of the program described.
set -eu
page=$1
sources=$2
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff warns: $warnings"; exit 1; }
# Counted in characters, not bytes: under a UTF-8 locale groff writes some
# hyphens and quotes as characters of two or three bytes.
wide=$(MANWIDTH=80 man -l "$page" 2>/dev/null | perl -CS -ne 'chomp; print "$_\n" if length > 80')
[ -z "$wide" ] || { echo "wider than 80 columns: $wide"; exit 1; }
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
for option in -d -v -E -N -r -h; do
    printf '%s\n' "$text" | grep -q -- "^ *$option" || { echo "option $option is not described"; exit 1; }
done
# Every message the program writes through the err(3) and warn(3) functions.
grep -h -o -E '(errx?|warnx?|close_and_exit)\([^"]*"[^"]*' "$sources"/*.cpp | sed 's/.*"//; s/%.*//' | sort -u |
while read -r message; do
    printf '%s\n' "$text" | grep -q -F -- "$message" || { echo "diagnostic not described: $message"; exit 1; }
done
echo "man page checked"
