# Sourced by scripts that open real windows: a private X display of their own.
# start_xvfb <folder>: starts Xvfb, exports DISPLAY once it takes connections.
# stop_xvfb: ends it (safe to call when none was started).
# The server also ends when the script does, however it ends (killed too).
xvfb_pid=
start_xvfb() {
  mkfifo "$1/display"
  setpriv --pdeathsig TERM -- \
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r -t 20 number < "$1/display" || return 1
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
  # No accessibility bus on a private display: nothing would listen.
  export NO_AT_BRIDGE=1
}
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
