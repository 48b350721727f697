#!/usr/bin/env bash
# Times the real-window programs and weighs them against WebKit's own
# MiniBrowser showing one page, on a private X display:
# - the whole road, as the demo runs it: a stage serves the sample client on
#   127.0.0.1 and the launcher, from a fresh application directory, goes from
#   the update check to the cashier and leaves (five runs, medians);
# - the launcher's error screen alone (a second instance: 406);
# - Menrik playing a .swf in the Flash emulator.
# Usage: bench/desktop_bench.sh <build folder>
# Last line: ratio road_rss=<peak of the road's process tree / MiniBrowser's>
#   first_text_ratio=<start to the first movie text / MiniBrowser's start to the same page's>
#   rss=<error screen / MiniBrowser> first_text_ms=<error screen> flash_command_ms=<Menrik>
#   road_rss_mib= road_first_text_ms= minibrowser_rss_mib= minibrowser_first_text_ms=
#   error_rss_mib= error_minibrowser_rss_mib=
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
minibrowser=$(ls /usr/lib/*/webkit2gtk-4.1/MiniBrowser 2>/dev/null | head -1)
rounds=${DESKTOP_BENCH_ROUNDS:-5}
work=$(mktemp -d)
stage_pid=""
source "$source_dir/tests/xvfb.sh"
cleanup() {
  [ -n "$stage_pid" ] && kill "$stage_pid" 2>/dev/null && wait "$stage_pid" 2>/dev/null
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
start_xvfb "$work"

now_ms() { local us=${EPOCHREALTIME/./}; echo $(( us / 1000 )); }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : -1) }'; }
# Resident memory of a process and all its descendants, in KiB.
tree_rss() {
  ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
    { parent[$1] = $2; rss[$1] = $3 }
    END { for (p in rss) { q = p; while (q != "" && q != 0 && q != root) q = parent[q];
                           if (q == root) sum += rss[p] } print sum + 0 }'
}
# Runs a command in the background, samples its memory until it ends (or
# until the given number of ms), prints the peak in KiB.
peak_of() {
  local limit=$1; shift
  "$@" &
  local pid=$! peak=0 start
  start=$(now_ms)
  while kill -0 "$pid" 2>/dev/null; do
    local rss; rss=$(tree_rss "$pid")
    [ "$rss" -gt "$peak" ] && peak=$rss
    if [ $(( $(now_ms) - start )) -gt "$limit" ]; then kill "$pid" 2>/dev/null || true; fi
    sleep 0.05
  done
  wait "$pid" 2>/dev/null || true
  echo "$peak"
}
# Writes each line of the standard input to $1 with the ms since $2 in
# front (no process started per line: the stamps keep up with the lines).
stamp_lines() {
  local us
  while IFS= read -r line; do
    us=${EPOCHREALTIME/./}
    echo "$(( us / 1000 - $2 )) $line"
  done > "$1"
}
# MiniBrowser showing the page at $1 for $2 ms, and at least until the
# page's first text (a minute at most); its console (which it writes to
# standard error) goes to $3, stamped from its start, line by line.
run_minibrowser() {
  local start elapsed
  start=$(now_ms)
  "$minibrowser" --enable-write-console-messages-to-stdout=true "file://$1" \
    2> >(stamp_lines "$3" "$start") > /dev/null &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    elapsed=$(( $(now_ms) - start ))
    if [ "$elapsed" -ge 60000 ] || { [ "$elapsed" -ge "$2" ] && grep -q tarvel-first-text "$3"; }; then
      kill "$pid" 2>/dev/null || true
    fi
    sleep 0.05
  done
  wait "$pid" 2>/dev/null || true
}

# --- The whole road.
"$build/app/tarvel-stage" --sample "$work/site" > "$work/stage.log" 2>&1 &
stage_pid=$!
for _ in $(seq 300); do
  grep -q "Ctrl+C stops it" "$work/stage.log" && break
  sleep 0.1
done
grep -q "Ctrl+C stops it" "$work/stage.log" || { cat "$work/stage.log" >&2; exit 1; }
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
road_once() {
  local app="$work/road$1"
  rm -rf "$app" && mkdir -p "$app" && cp -R "$work/site/client/." "$app/"
  cd "$app"
  local start; start=$(now_ms)
  XDG_RUNTIME_DIR="$work/runtime" timeout 120 "$build/app/tarvel-loopback" |
    stamp_lines "$work/road$1.txt" "$start"
}
for round in $(seq "$rounds"); do
  start=$(now_ms)
  echo "$(peak_of 120000 road_once "$round") $(( $(now_ms) - start ))" >> "$work/road_runs"
  grep -q 'IndexForm#[0-9]* command "exit"' "$work/road$round.txt" ||
    { echo "desktop bench: the road did not reach the lobby's exit" >&2; cat "$work/road$round.txt" >&2; exit 1; }
  awk '/ received "/ { print $1; exit }' "$work/road$round.txt" >> "$work/road_first_text"
done
road_rss=$(cut -d' ' -f1 "$work/road_runs" | median)
road_ms=$(cut -d' ' -f2 "$work/road_runs" | median)
road_first_text=$(median < "$work/road_first_text")

# The page that showed the first text, as MiniBrowser sees it: the bridge's
# calls do nothing, and once loaded the page gets the same text and says so.
first_line=$(grep -m1 ' received "' "$work/road1.txt")
screen=$(echo "$first_line" | sed 's/.*\] \([^ ]*\) received .*/\1/')
text=$(echo "$first_line" | sed 's/.* received "\(.*\)"$/\1/')
page=$(grep -m1 "$screen movie plays the page" "$work/road1.txt" | sed 's/.*plays the page "\(.*\)"$/\1/')
page="$work/road1/${page#/}"
reference="${page%.html}.reference.html"
stub='<script>window.tarvel = { fscommand() {}, call() {}, ready() {}, deliver() {} };</script>'
{
  # After the doctype, so that the page is laid out as it is in the launcher.
  awk -v stub="$stub" 'NR == 1 && /^<!DOCTYPE/ { print; print stub; next } NR == 1 { print stub } { print }' "$page"
  cat <<HTML
<script>
addEventListener("load", () => {
  if (typeof addText === "function") addText("$text");
  console.log("tarvel-first-text");
});
</script>
HTML
} > "$reference"
mb_rss=0
mb_first_text=-1
if [ -n "$minibrowser" ]; then
  : > "$work/mb_runs"; : > "$work/mb_first_text"
  for round in $(seq "$rounds"); do
    peak_of 70000 run_minibrowser "$reference" "$road_ms" "$work/mb$round.txt" >> "$work/mb_runs"
    awk '/tarvel-first-text/ { print $1; exit }' "$work/mb$round.txt" >> "$work/mb_first_text"
  done
  mb_rss=$(median < "$work/mb_runs")
  mb_first_text=$(median < "$work/mb_first_text")
fi

# --- The launcher's error screen (a second instance: 406) with the sample
# page, closing one second after its first code.
app="$work/app"
cp -r "$source_dir/web/movies/." "$app"
cat >> "$app/app-popup/errorMsg.html" <<'HTML'
<script>
  const shown = addText;
  addText = (text) => { shown(text); if (text === "Err=406") setTimeout(() => tarvel.fscommand("ok", ""), 1000); };
</script>
HTML
guard='{8E5DFB08-80A9-405B-A5B9-C1CFBC9CD17E}'
exec {held}>"$work/runtime/$guard.lock"
flock -n "$held"
run_launcher() {
  cd "$app"
  local start; start=$(now_ms)
  XDG_RUNTIME_DIR="$work/runtime" "$build/app/tarvel-loopback" {held}>&- | while IFS= read -r line; do
    case "$line" in *'received "lang='*) echo $(( $(now_ms) - start )) > "$work/first_text" ;; esac
  done
}
launcher_start=$(now_ms)
rss=$(peak_of 60000 run_launcher)
launcher_ms=$(( $(now_ms) - launcher_start ))
first_text=$(cat "$work/first_text" 2>/dev/null || echo -1)
exec {held}>&-
reference_rss=0
if [ -n "$minibrowser" ]; then
  reference_rss=$(peak_of "$launcher_ms" "$minibrowser" "file://$app/app-popup/errorMsg.html")
fi

# --- Menrik playing a .swf in the Flash emulator: it ends on the movie's first command.
flash=-1
if [ -f "$build/test_movies/echo.swf" ]; then
  mkdir -p "$work/cleaner/app-popup"
  cp "$build/test_movies/echo.swf" "$work/cleaner/app-popup/clearLogin.swf"
  start=$(now_ms)
  (cd "$work/cleaner" && timeout 120 "$build/app/menrik" > "$work/menrik.out")
  grep -q 'command "started"' "$work/menrik.out" && flash=$(( $(now_ms) - start ))
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a >= 0) printf "%.2f", a / b; else print "n/a" }'; }
echo "road: $rounds runs of the sample road ($(( road_ms / 1000 )) s each), first text on $screen" \
  "(\"$text\"); MiniBrowser on ${page#"$work"/road1/}"
echo "ratio road_rss=$(ratio "$road_rss" "$mb_rss") first_text_ratio=$(ratio "$road_first_text" "$mb_first_text")" \
  "rss=$(ratio "$rss" "$reference_rss") first_text_ms=$first_text flash_command_ms=$flash" \
  "road_rss_mib=$((road_rss / 1024)) road_first_text_ms=$road_first_text" \
  "minibrowser_rss_mib=$((mb_rss / 1024)) minibrowser_first_text_ms=$mb_first_text" \
  "error_rss_mib=$((rss / 1024)) error_minibrowser_rss_mib=$((reference_rss / 1024))"
