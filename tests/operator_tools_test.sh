#!/usr/bin/env bash
# The operator tools as an operator runs them from a shell.
# Usage: operator_tools_test.sh <tarvel-manifest> <tarvel-stage>
set -euo pipefail
manifest=$1
stage=$2
work=$(mktemp -d)
stage_pid=""
cleanup() {
  [ -n "$stage_pid" ] && kill -TERM "$stage_pid" 2>/dev/null && wait "$stage_pid" || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A game folder: the manifests land beside it, the source defaults to its name.
mkdir -p "$work/www/games/slot/img"
printf 'movie' > "$work/www/games/slot/slot.swf"
printf 'reel' > "$work/www/games/slot/img/reel.png"
(cd "$work/www/games" && "$manifest" --group common --package slot --version 1.0 \
  --target 'games\slot\' slot) > "$work/out.txt" || fail "tarvel-manifest failed: $(cat "$work/out.txt")"
grep -q 'common_slot_install.xml: $version-1.0, 2 files' "$work/out.txt" || fail "$(cat "$work/out.txt")"
[ "$(cat "$work/www/games/common_slot_install.xml")" = "\$version-1.0
slot/img/reel.png,games\\slot\\img\\
slot/slot.swf,games\\slot\\
#tarvel-sums" ] || fail "installation manifest: $(cat "$work/www/games/common_slot_install.xml")"

grep -q '^serial 1$' "$work/www/games/common_slot_install.xml.sums" || fail "no sums beside the manifest"

# A key pair, the secret half for the owner only; the next release is signed
# and its serial grows.
(cd "$work" && "$manifest" keygen) > "$work/key.txt" || fail "keygen: $(cat "$work/key.txt")"
[ "$(stat -c %a "$work/update-key")" = 600 ] || fail "the secret key is readable by others"
grep -q "<UpdateKey>$(cat "$work/update-key.pub")</UpdateKey>" "$work/key.txt" || fail "$(cat "$work/key.txt")"
if (cd "$work" && "$manifest" keygen) 2> "$work/err.txt"; then fail "keygen overwrote a key"; fi
printf 'chip' > "$work/www/games/slot/img/chip.png"
"$manifest" --group common --package slot --version 1.1 --sign "$work/update-key" \
  --target 'games\slot\' "$work/www/games/slot" > "$work/out.txt" || fail "$(cat "$work/out.txt")"
grep -q 'serial 2' "$work/out.txt" || fail "$(cat "$work/out.txt")"
[ -s "$work/www/games/common_slot_update.xml.sums.sig" ] || fail "the update's sums are not signed"

# A refused name writes nothing and says which file; a usage mistake says how.
printf 'x' > "$work/www/games/slot/img/two words.png"
if "$manifest" --group common --package slot --version 1.2 "$work/www/games/slot" 2> "$work/err.txt"; then
  fail "a name with a space was published"
fi
grep -q 'img/two words.png: holds a space' "$work/err.txt" || fail "$(cat "$work/err.txt")"
[ "$(tail -n2 "$work/www/games/common_slot_update.xml" | head -n1)" = 'slot/img/chip.png,games\slot\img\' ] || fail "the update manifest changed"
set +e
"$manifest" --package slot "$work/www/games/slot" 2> "$work/err.txt"; code=$?
set -e
[ "$code" = 2 ] && grep -q 'usage: tarvel-manifest' "$work/err.txt" || fail "usage: $code $(cat "$work/err.txt")"

# The stage serves the tree on a free port until it is told to stop.
printf 'demo:demo\n' > "$work/accounts.txt"
"$stage" --accounts "$work/accounts.txt" --key k "$work/www" > "$work/stage.txt" 2>&1 &
stage_pid=$!
for _ in $(seq 300); do
  grep -q "Ctrl+C stops it" "$work/stage.txt" && break
  kill -0 "$stage_pid" 2>/dev/null || fail "the stage ended: $(cat "$work/stage.txt")"
  sleep 0.1
done
address=$(grep -o -m1 'http://127.0.0.1:[0-9]*/' "$work/stage.txt") || fail "$(cat "$work/stage.txt")"
[ "$(curl -s "${address}games/slot/slot.swf")" = movie ] || fail "the stage did not serve the file"
kill -TERM "$stage_pid"
wait "$stage_pid" || fail "the stage did not end cleanly"
stage_pid=""
grep -q "GET /games/slot/slot.swf 200 5 B" "$work/stage.txt" || fail "no log line: $(cat "$work/stage.txt")"
grep -q "tarvel-stage: stopped" "$work/stage.txt" || fail "$(cat "$work/stage.txt")"
echo "the operator tools ran"
