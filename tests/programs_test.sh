#!/usr/bin/env bash
# Runs the built programs headless from a temporary application directory.
# Usage: programs_test.sh <tarvel> <tarvel-loopback> <menrik>; tarvel-loopback
# is the launcher built to count "localhost" as its public host, so that
# nothing it looks up leaves this machine.
set -euo pipefail
tarvel=$1
tarvel_loopback=$2
menrik=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Menrik: two copies at once, each ending on its movie's first command.
mkdir -p "$work/cleaner/app-popup"
printf 'after 200 -> command ""\n' > "$work/cleaner/app-popup/clearLogin.swf"
(cd "$work/cleaner" && timeout 20 "$menrik" > "$work/menrik1.out") &
first=$!
(cd "$work/cleaner" && timeout 20 "$menrik" > "$work/menrik2.out") &
second=$!
wait $first || fail "first menrik did not end by itself"
wait $second || fail "second menrik did not end by itself"
for out in "$work/menrik1.out" "$work/menrik2.out"; do
  grep -q 'CMenrikDlg#1 command "" ""' "$out" || fail "menrik's movie sent no command: $(cat "$out")"
  grep -q 'CMenrikDlg#1 window destroyed' "$out" || fail "menrik's screen did not close"
done

# Tarvel as a second instance: the guard is held, so the error screen shows
# 406 and the program ends once the movie answers. Nothing is probed first.
# A launcher that claimed another lock would run as a first instance and never
# show 406: the loopback build goes first, so such a fault is found before the
# real build could look its public host up.
mkdir -p "$work/launcher/app-popup" "$work/runtime"
chmod 700 "$work/runtime"
printf 'text Err=406 -> command ok\n' > "$work/launcher/app-popup/errorMsg.swf"
guard='{8E5DFB08-80A9-405B-A5B9-C1CFBC9CD17E}'
lock="$work/runtime/$guard.lock"
exec {held}>"$lock"
flock -n "$held" || fail "could not take the lock $lock"
if flock -n "$lock" true; then fail "the lock $lock is not held"; fi
for launcher in "$tarvel_loopback" "$tarvel"; do
  (cd "$work/launcher" && XDG_RUNTIME_DIR="$work/runtime" timeout 20 "$launcher" {held}>&-) \
    > "$work/tarvel.out" || fail "$launcher did not end as a second instance"
  grep -q 'CError#1 received "Err=406"' "$work/tarvel.out" || fail "no 406: $(cat "$work/tarvel.out")"
  grep -q 'CError#1 window destroyed' "$work/tarvel.out" || fail "the error screen did not close"
done
exec {held}>&-

# Without a runtime folder the lock lives in the user's cache: a lock held
# there makes tarvel a second instance.
home="$work/home"
mkdir -p "$home/.cache/tarvel"
chmod 700 "$home/.cache/tarvel"
exec {cached}>"$home/.cache/tarvel/$guard.lock"
flock -n "$cached" || fail "could not take the lock in the cache"
(cd "$work/launcher" && env -u XDG_RUNTIME_DIR -u XDG_CACHE_HOME HOME="$home" \
  timeout 20 "$tarvel" {cached}>&-) > "$work/cached.out" || fail "tarvel did not end (cache lock)"
exec {cached}>&-
grep -q 'CError#1 received "Err=406"' "$work/cached.out" || fail "no 406 with the cache lock"

# No folder will take a lock: tarvel says so and fails instead of ending quietly.
touch "$work/not-a-folder"
status=0
(cd "$work/launcher" && env -u XDG_CACHE_HOME XDG_RUNTIME_DIR="$work/not-a-folder" \
  HOME="$work/not-a-folder" timeout 20 "$tarvel") > "$work/noguard.out" 2> "$work/noguard.err" ||
  status=$?
[ "$status" -ne 0 ] || fail "tarvel ended with status 0 without a guard"
[ "$status" -ne 124 ] || fail "tarvel hung without a guard"
grep -q "no single-instance lock could be made: $work/not-a-folder: not a folder" \
  "$work/noguard.err" || fail "no reason on standard error: $(cat "$work/noguard.err")"
[ ! -s "$work/noguard.out" ] || fail "a screen opened without a guard: $(cat "$work/noguard.out")"

echo "programs ran headless"
