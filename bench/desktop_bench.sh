#!/usr/bin/env bash
# Times the real-window programs and weighs them against WebKit's own
# MiniBrowser showing the same page, on a private X display.
# Usage: bench/desktop_bench.sh <build folder>
# Last line: ratio rss=<ours/MiniBrowser> first_text_ms=<ms> flash_command_ms=<ms>
#            rss_mib=<peak> minibrowser_rss_mib=<peak>
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
minibrowser=$(ls /usr/lib/*/webkit2gtk-4.1/MiniBrowser 2>/dev/null | head -1)
work=$(mktemp -d)
source "$source_dir/tests/xvfb.sh"
trap 'stop_xvfb; rm -rf "$work"' EXIT
start_xvfb "$work"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
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

# The launcher's error screen (a second instance: 406) with the sample page,
# closing one second after its first code.
app="$work/app"
cp -r "$source_dir/web/movies/." "$app"
cat >> "$app/app-popup/errorMsg.html" <<'HTML'
<script>
  const shown = addText;
  addText = (text) => { shown(text); if (text === "Err=406") setTimeout(() => tarvel.fscommand("ok", ""), 1000); };
</script>
HTML
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
guard='{8E5DFB08-80A9-405B-A5B9-C1CFBC9CD17E}'
exec {held}>"$work/runtime/$guard.lock"
flock -n "$held"
run_launcher() {
  cd "$app"
  local start; start=$(now_ms)
  XDG_RUNTIME_DIR="$work/runtime" "$build/app/tarvel" {held}>&- | while IFS= read -r line; do
    case "$line" in *'received "lang='*) echo $(( $(now_ms) - start )) > "$work/first_text" ;; esac
  done
}
launcher_start=$(now_ms)
rss=$(peak_of 60000 run_launcher)
launcher_ms=$(( $(now_ms) - launcher_start ))
first_text=$(cat "$work/first_text" 2>/dev/null || echo -1)
exec {held}>&-

# Menrik playing a .swf in the Flash emulator: it ends on the movie's first command.
flash=-1
if [ -f "$build/test_movies/echo.swf" ]; then
  mkdir -p "$work/cleaner/app-popup"
  cp "$build/test_movies/echo.swf" "$work/cleaner/app-popup/clearLogin.swf"
  start=$(now_ms)
  (cd "$work/cleaner" && timeout 120 "$build/app/menrik" > "$work/menrik.out")
  grep -q 'command "started"' "$work/menrik.out" && flash=$(( $(now_ms) - start ))
fi

# The reference: MiniBrowser on the same page for as long as the launcher ran.
reference=0
if [ -n "$minibrowser" ]; then
  reference=$(peak_of "$launcher_ms" "$minibrowser" "file://$app/app-popup/errorMsg.html")
fi
ratio=$(awk -v a="$rss" -v b="$reference" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')
echo "ratio rss=$ratio first_text_ms=$first_text flash_command_ms=$flash" \
  "rss_mib=$((rss / 1024)) minibrowser_rss_mib=$((reference / 1024))"
