#!/bin/sh
# scripts/ensure-packages as a user who is not root: through sudo, with
# DEBIAN_FRONTEND passed on explicitly (sudo resets the environment); with
# neither root nor sudo, ending with the apt-get line to run as root; hung
# up halfway, leaving nothing behind.
set -eu
script=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixla-ensure.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
missing=pixla-test-no-such-package

# A user, not root, with the few tools the script needs and no sudo.
mkdir "$scratch/bin"
printf '#!/bin/sh\necho 1000\n' >"$scratch/bin/id"
for tool in dpkg-query grep mktemp cat rm; do ln -s "$(command -v "$tool")" "$scratch/bin/$tool"; done
chmod +x "$scratch/bin/id"
status=0
PATH=$scratch/bin /bin/sh "$script" "$missing" 2>"$scratch/err" || status=$?
[ "$status" -eq 1 ] && [ "$(tail -n 1 "$scratch/err")" = "apt-get install --no-install-recommends $missing" ] ||
    { echo "without root or sudo: status $status, said:"; cat "$scratch/err"; exit 1; }

# With a sudo that only notes what it is asked to run.
printf '#!/bin/sh\necho "$*" >>"%s/sudo.log"\n' "$scratch" >"$scratch/bin/sudo"
chmod +x "$scratch/bin/sudo"
PATH=$scratch/bin /bin/sh "$script" "$missing" >/dev/null ||
    { echo "through sudo: failed"; exit 1; }
expected="apt-get update -q
env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing"
[ "$(cat "$scratch/sudo.log")" = "$expected" ] || { echo "sudo was asked to run:"; cat "$scratch/sudo.log"; exit 1; }
# Hung up while apt-get runs, as a closed terminal hangs up its whole job, it
# leaves no log behind.
printf '#!/bin/sh\necho "$$" >"%s/apt.pid"\nexec sleep 30\n' "$scratch" >"$scratch/bin/sudo"
ln -s "$(command -v sleep)" "$scratch/bin/sleep"
mkdir "$scratch/tmp"
PATH=$scratch/bin TMPDIR=$scratch/tmp "$(command -v setsid)" /bin/sh "$script" "$missing" >/dev/null 2>&1 &
ensure=$!
for _ in $(seq 100); do [ -s "$scratch/apt.pid" ] && break; sleep 0.05; done
kill -HUP "-$ensure"
wait "$ensure" || true
[ -z "$(ls -A "$scratch/tmp")" ] || { echo "hung up, it left:"; ls -A "$scratch/tmp"; exit 1; }
echo "ensure-packages checked"
