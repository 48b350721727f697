#!/usr/bin/env bash
# The sample brand's package as a player gets it: built with CPack (with the
# launcher that counts "localhost" as its public host), checked with lintian,
# desktop-file-validate and appstreamcli, unpacked into a throwaway root and
# started by its menu entry's Exec line with a fresh HOME against the sample
# stage: the whole road; then a launcher release is served and lands in the
# player's folder only, and the next start runs it.
# Runs in namespaces of its own: a network with nothing but its own loopback
# (the sample brand's stage port is its alone, and no name lookup can leave
# the machine), and processes that all end when the test ends, however it ends.
# Usage: package_test.sh <build folder> <tarvel-stage> <tarvel-manifest>
#                        <sample stage folder> <sample stage address>
set -euo pipefail
if [ -z "${TARVEL_PACKAGE_TEST_NAMESPACES:-}" ]; then
  TARVEL_PACKAGE_TEST_NAMESPACES=1 exec unshare --map-root-user --net --pid --fork --kill-child \
    --mount-proc "$0" "$@"
fi
# As the namespace's first process, this shell takes only the signals it
# handles; when it ends, everything else in the namespace ends with it.
trap 'exit 130' INT TERM
ip link set lo up
build=$1 stage=$2 manifest=$3 sample=$4 address=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
began=$(date +%s)
step() { echo "== $* ($(( $(date +%s) - began )) s)"; }

step "building the package"
cpack --config "$build/CPackLoopbackConfig.cmake" -B "$work/pkg" > "$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
debs=("$work"/pkg/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "no package: $(cat "$work/cpack.log")"
echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>= ' || fail "Depends names no libc6 version"

step "lintian"
status=0
lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$status" = 0 ] || fail "lintian reports errors"

root=$work/root
dpkg-deb -x "$deb" "$root"
entry=("$root"/usr/share/applications/*.desktop)
desktop-file-validate "${entry[0]}" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli"
snapshot() {
  (cd "$root" && find . -printf '%M %u %p\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
snapshot > "$work/root.before"
unchanged() { snapshot | cmp -s - "$work/root.before" || fail "the installed files changed ($1)"; }

step "the sample stage at $address"
port=${address##*:}
port=${port%%/*}
mkdir -p "$work/stage"
# The key the package's client was made with signs what the stage serves.
cp "$sample/update-key" "$work/stage/"
"$stage" --sample "$work/stage" --port "$port" > "$work/stage.log" 2>&1 &
for _ in $(seq 300); do
  grep -q "Ctrl+C stops it" "$work/stage.log" && break
  sleep 0.1
done
grep -q "Ctrl+C stops it" "$work/stage.log" || fail "the stage did not start: $(cat "$work/stage.log")"
cmp -s "$work/stage/client/Config.xml" "$root/usr/share/"*/client/Config.xml ||
  fail "the stage serves another client than the package's"

# The menu entry's command line, its field codes left out, run as a player's
# desktop would: found on the PATH, without a display, in a fresh home.
exec_line=$(sed -n 's/^Exec=//p' "${entry[0]}" | sed 's/ *%[A-Za-z]//g')
home=$work/home
mkdir -p "$home" "$work/run"
chmod 700 "$work/run"
start() {
  # shellcheck disable=SC2086  # the Exec line's words
  env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_RUNTIME_DIR="$work/run" \
    PATH="$root/usr/games:$root/usr/bin:$PATH" timeout 120 $exec_line "$@"
}
brand=${exec_line%% *}
folder=$home/.local/share/$brand
road=('Update#1 window shown modally'
  'CCorvaneDlg#2 call "<invoke name=\"validate\"'
  'TransferringForm#3 window shown modally'
  'IndexForm#4 received "game_status=='
  'IndexForm#4 command "game_slotmania"'
  "HtmlBrowser#6 browser navigate ${address}cashier/?ticket="
  'IndexForm#4 command "exit"'
  'Update#1 window modal loop returned')
whole_road() {
  for marker in "${road[@]}"; do
    grep -qF "$marker" "$1" || fail "not the whole road, no $marker in $(cat "$1")"
  done
  if grep -q 'Err=' "$1"; then fail "a screen got an error: $(grep 'Err=' "$1")"; fi
}

step "first start: $exec_line"
start > "$work/first.out" 2> "$work/first.err" || fail "the first start failed: $(cat "$work/first.err")"
cat "$work/first.err"
grep -qxF "$brand: made your client folder $folder from $root/usr/share/$brand/client" \
  "$work/first.err" || fail "no word of the new folder"
whole_road "$work/first.out"
cmp -s "$folder/tarvel" "$root/usr/lib/$brand/tarvel" || fail "the folder's launcher is not the package's"
[ -x "$folder/tarvel" ] || fail "the folder's launcher cannot be run"
for file in index.swf games/slotmania/slotmania.swf app-popup/checkUpdate.swf; do
  [ -s "$folder/$file" ] || fail "$file is not in the player's folder"
done
unchanged "first start"

step "a launcher release served, then a start"
served=$work/stage/www/launcher
cp "$root/usr/lib/$brand/tarvel" "$served/tarvel"
# A new build of the launcher: the same program with other bytes at its end.
printf '\nrelease 1.2\n' >> "$served/tarvel"
sed -i 's/^version=.*/version=$version-1.2/' "$served/setup.xml"
echo "version_type=exe" >> "$served/setup.xml"
"$manifest" --launcher --sign "$work/stage/update-key" "$served" > /dev/null ||
  fail "the launcher's release could not be published"
start > "$work/update.out" 2> "$work/update.err" || fail "the updating start failed: $(cat "$work/update.err")"
grep -qF 'message-box "Please Run the Application again...New Updates Installed"' \
  "$work/update.out" || fail "no self-update: $(cat "$work/update.out" "$work/update.err")"
cmp -s "$folder/tarvel" "$served/tarvel" || fail "the player's launcher was not replaced"
grep -qx 'version=$version-1.2' "$folder/setup.xml" || fail "the player's settings did not move on"
unchanged "self-update"

step "the next start runs the new launcher"
start > "$work/second.out" 2> "$work/second.err" || fail "the next start failed: $(cat "$work/second.err")"
if grep -F "$brand: " "$work/second.err"; then fail "the start command did not just start the launcher"; fi
whole_road "$work/second.out"
cmp -s "$folder/tarvel" "$served/tarvel" || fail "the new launcher gave way to the package's"
unchanged "second start"

step "--uninstall"
start --uninstall | grep -qxF "$brand: removed $folder; the package stays installed" ||
  fail "no word of the removal"
[ ! -e "$folder" ] || fail "$folder is still there"
unchanged "uninstall"
step "the package installs, runs the whole road and updates itself in the player's folder"
