#!/usr/bin/env bash
# Runs the built programs in real windows on a private X display, with
# HTML5 movies that close their screens by themselves.
# Usage: programs_desktop_test.sh <tarvel> <menrik>
set -euo pipefail
tarvel=$1
menrik=$2
work=$(mktemp -d)
source "$(dirname "$0")/xvfb.sh"
trap 'stop_xvfb; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
start_xvfb "$work" || fail "Xvfb did not start"

# Menrik: its page clears and closes itself once drawn.
mkdir -p "$work/cleaner/app-popup"
cat > "$work/cleaner/app-popup/clearLogin.html" <<'HTML'
<!DOCTYPE html><html><body><h1>Clearing</h1>
<script>requestAnimationFrame(() => tarvel.fscommand("done", ""));</script></body></html>
HTML
(cd "$work/cleaner" && timeout 180 "$menrik" > "$work/menrik.out") || fail "menrik did not end: $(cat "$work/menrik.out")"
grep -q 'CMenrikDlg#1 movie plays the page "app-popup/clearLogin.html"' "$work/menrik.out" \
  || fail "menrik played no page: $(cat "$work/menrik.out")"
grep -q 'CMenrikDlg#1 command "done" ""' "$work/menrik.out" || fail "menrik's page sent nothing"

# "--headless" keeps the headless kernel even with a display.
printf 'after 100 -> command ""\n' > "$work/cleaner/app-popup/clearLogin.swf"
rm "$work/cleaner/app-popup/clearLogin.html"
(cd "$work/cleaner" && timeout 20 "$menrik" --headless > "$work/headless.out") \
  || fail "menrik --headless did not end"
grep -q 'scripted movie control created' "$work/headless.out" || fail "--headless was not headless"
if (cd "$work/cleaner" && "$menrik" --bogus 2> "$work/bogus.err"); then fail "an unknown argument was accepted"; fi
grep -q 'unknown argument --bogus' "$work/bogus.err" || fail "no word on the unknown argument"

# Tarvel as a second instance: the error screen's page gets 406 and answers.
mkdir -p "$work/launcher/app-popup" "$work/runtime"
chmod 700 "$work/runtime"
cat > "$work/launcher/app-popup/errorMsg.html" <<'HTML'
<!DOCTYPE html><html><body><p id="line"></p><script>
function addText(text) {
  document.getElementById("line").textContent = text;
  if (text === "Err=406") tarvel.fscommand("ok", "");
}
</script></body></html>
HTML
guard='{8E5DFB08-80A9-405B-A5B9-C1CFBC9CD17E}'
lock="$work/runtime/$guard.lock"
exec {held}>"$lock"
flock -n "$held" || fail "could not take the lock $lock"
(cd "$work/launcher" && XDG_RUNTIME_DIR="$work/runtime" timeout 180 "$tarvel" {held}>&-) \
  > "$work/tarvel.out" || fail "tarvel did not end as a second instance: $(cat "$work/tarvel.out")"
exec {held}>&-
grep -q 'CError#1 received "lang=' "$work/tarvel.out" || fail "no language line: $(cat "$work/tarvel.out")"
grep -q 'CError#1 received "Err=406"' "$work/tarvel.out" || fail "no 406: $(cat "$work/tarvel.out")"
grep -q 'CError#1 command "ok" ""' "$work/tarvel.out" || fail "the page did not answer"
echo "programs ran in real windows"
