#!/usr/bin/env bash
# Runs scripts/demo as a newcomer would, three times in one folder: a fresh
# application directory takes the whole road, a second run fetches nothing
# again, and --update installs the next release. Checks each summary.
# With "windows", runs it once on a private X display instead: the same
# road in real windows, on the sample movies a player sees, each screen
# staying long enough to be read.
# Usage: demo_test.sh <repository> <folder of the built programs> [windows]
set -euo pipefail
repository=$1
bin=$2
work=$(mktemp -d)
source "$repository/tests/xvfb.sh"
trap 'stop_xvfb; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

road="screens passed: Update CCorvaneDlg TransferringForm IndexForm TransferringForm HtmlBrowser"

run() {
  "$repository/scripts/demo" --bin "$bin" --dir "$work/demo" "$@" > "$work/out.txt" 2>&1 ||
    fail "scripts/demo $* failed: $(tail -40 "$work/out.txt")"
  summary=$(sed -n '/^== demo summary/,$p' "$work/out.txt")
  [ -n "$summary" ] || fail "no summary: $(tail -40 "$work/out.txt")"
  echo "$summary"
  grep -qx "$road" <<< "$summary" || fail "not the whole road: $summary"
  installed=$(sed -n 's/^files installed: \([0-9]*\) (\([0-9]*\) bytes).*/\1 \2/p' <<< "$summary")
  [ -n "$installed" ] || fail "no count of installed files: $summary"
  # Nothing of the demo is left running: the stage's port no longer answers.
  address=$(grep -o -m1 'http://127.0.0.1:[0-9]*/' "$work/demo/stage.log") ||
    fail "the stage log names no address: $(tail -20 "$work/demo/stage.log")"
  if curl -s -m 5 -o /dev/null "$address"; then fail "the stage at $address still answers"; fi
}

if [ "${3:-}" = windows ]; then
  start_xvfb "$work" || fail "Xvfb did not start"
  run
  for page in app-popup/login.html app-popup/transfer.html index.html; do
    grep -q "movie plays the page \"$page\"" "$work/out.txt" || fail "no window played $page"
  done
  # A second and a half or more for every screen, as a person needs to read it.
  short=$(sed -n 's/^time per screen: start-up [0-9.]* s, //p' <<< "$summary" | tr ',' '\n' |
    awk '$2 + 0 < 1.5')
  [ -z "$short" ] || fail "screens shown too briefly: $short"
  echo "the demo ran the whole road in windows at a person's pace"
  exit 0
fi

run
read -r files bytes <<< "$installed"
[ "$files" -ge 10 ] && [ "$bytes" -gt 100000 ] || fail "a fresh run installed only $files files"
# The lobby and the game it asked for are there.
for file in index.swf games/slotmania/slotmania.swf games/slotmania/language/en/strings.xml; do
  [ -s "$work/demo/app/$file" ] || fail "$file was not installed"
done
grep -q 'IndexForm#[0-9]* received "game_status==' "$work/out.txt" || fail "no game status document"
grep -q 'HtmlBrowser#[0-9]* browser navigate http://127.0.0.1:[0-9]*/cashier/?ticket=[0-9a-f]\{16\}&' \
  "$work/out.txt" || fail "the cashier opened without a ticket"

run
read -r files bytes <<< "$installed"
[ "$files" = 0 ] || fail "a second run installed $files files again"

run --update
read -r files bytes <<< "$installed"
[ "$files" -gt 0 ] || fail "the update installed nothing"
grep -q "release 2" <<< "$summary" || fail "not release 2: $summary"
[ "$(cat "$work/demo/app/games/slotmania/images/bonus-2.png" | wc -c)" -gt 0 ] ||
  fail "the release's new file is not there"
# Ctrl+C in the middle: the demo ends and takes the stage with it.
setsid "$repository/scripts/demo" --bin "$bin" --dir "$work/demo" > "$work/out.txt" 2>&1 &
demo=$!
for _ in $(seq 600); do
  grep -q "^== demo: tarvel runs" "$work/out.txt" &&
    grep -q 'http://127.0.0.1:[0-9]*/' "$work/demo/stage.log" 2>/dev/null && break
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.1
done
kill -INT -- "-$demo" 2>/dev/null || true
wait "$demo" || true
address=$(grep -o -m1 'http://127.0.0.1:[0-9]*/' "$work/demo/stage.log") ||
  fail "after Ctrl+C the stage log names no address: $(tail -20 "$work/out.txt" "$work/demo/stage.log")"
if curl -s -m 5 -o /dev/null "$address"; then fail "after Ctrl+C the stage at $address still answers"; fi
echo "the demo ran the whole road three times and left nothing running"
