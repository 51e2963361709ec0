#!/usr/bin/env bash
# What a window manager makes of the wizard's window: on a virtual X display with a real window
# manager, the wizard is a dialog that offers close only (no minimise, no maximise) and keeps its
# size. Usage: window-manager.sh AVSETUP. Exits 77 (skipped) where Xvfb, icewm or the X tools are
# missing.
set -uo pipefail
avsetup=$1
for tool in Xvfb icewm xprop xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }
# wait_for SECONDS COMMAND...: until the command succeeds, or fail.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -1 "$work/display")"
HOME=$work icewm >"$work/wm.log" 2>&1 &
pids+=($!)
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK || fail "icewm did not start"

XDG_CONFIG_HOME=$work AVSETUP_BACKEND=sim QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 LANGUAGE= \
  "$avsetup" >"$work/avsetup.log" 2>&1 &
pids+=($!)
window() { xdotool search --name '^音频视频设置$' | head -1; }
# The window manager has taken the window once it publishes the actions it allows on it.
managed() { local w; w=$(window) && [ -n "$w" ] && xprop -id "$w" _NET_WM_ALLOWED_ACTIONS | grep -q CLOSE; }
wait_for 20 managed || fail "no managed wizard window: $(cat "$work/avsetup.log")"
w=$(window)
props=$(xprop -id "$w")
echo "$props" | grep -E '_NET_WM_WINDOW_TYPE|_NET_WM_ALLOWED_ACTIONS|_MOTIF_WM_HINTS|size:'

echo "$props" | grep -q '_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_DIALOG' ||
  fail "the wizard is not a dialog window"
actions=$(echo "$props" | grep '_NET_WM_ALLOWED_ACTIONS')
for no in MINIMIZE MAXIMIZE_HORZ MAXIMIZE_VERT; do
  [[ $actions != *"_NET_WM_ACTION_$no"* ]] || fail "the window manager offers $no"
done
# Motif hints: functions and decorations without minimise (8 / 0x20) or maximise (0x10 / 0x40).
read -r _ fn dec _ < <(echo "$props" | sed -n 's/^_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = //p' | tr -d ,)
((fn & 0x18)) && fail "Motif functions $fn allow minimise or maximise"
((dec & 0x60)) && fail "Motif decorations $dec draw minimise or maximise"
min=$(echo "$props" | sed -n 's/.*program specified minimum size: //p')
max=$(echo "$props" | sed -n 's/.*program specified maximum size: //p')
[ -n "$min" ] && [ "$min" = "$max" ] || fail "the window's size is not fixed ($min / $max)"
echo "passed"
