#!/usr/bin/env bash
# The wizard as a person runs it, next to the sound system's own programs, in one run: a private
# X server with a window manager (Xvfb, openbox), the private PulseAudio of tests/with-pulse.sh,
# the real backend. CPU time comes from /proc (every thread's run time, to the nanosecond), in
# percent of one core.
#   tests/with-pulse.sh bench/desktop-cpu.sh [BUILD] [SECONDS]
# Prints, for the same SECONDS each:
#   - start: time from launch to the window, and the resident size 3 s later (pavucontrol beside);
#   - idle on the welcome, speaker and microphone pages without a test;
#   - the microphone test, with parec recording the same source (8 kHz, 16 bits, stereo) and
#     pavucontrol showing its input tab, all at the same time;
#   - the speaker test, with paplay playing the same sound in a loop at the same time.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
secs=${2:-20}
[ -n "${PULSE_SERVER:-}" ] || { echo "run under tests/with-pulse.sh" >&2; exit 2; }
for p in Xvfb openbox xdotool parec paplay pavucontrol; do
  command -v $p >/dev/null || { echo "missing: $p" >&2; exit 2; }
done
work=$(mktemp -d /tmp/avsetup-desktop.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
d=90
while [ -e /tmp/.X11-unix/X$d ] || [ -e /tmp/.X$d-lock ]; do d=$((d + 1)); done
Xvfb :$d -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:$d
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
unset QT_QPA_PLATFORM
export AVSETUP_BACKEND=real XDG_CONFIG_HOME=$work/config NO_AT_BRIDGE=1
mkdir -p "$XDG_CONFIG_HOME"

# CPU time of a process so far in nanoseconds, every thread, also those that have ended: the
# process's CPU-time clock (what /proc's utime and stime give in whole clock ticks only).
cpu() {
  python3 -c 'import sys, time; print(time.clock_gettime_ns((~int(sys.argv[1]) << 3) | 2))' "$1" 2>/dev/null ||
    { echo "warning: process $1 has ended" >&2; echo 0; }
}
# cpu of each pid over $secs, printed as percent of one core.
measure() {
  local -a before=() after=()
  local i
  for i in "$@"; do before+=("$(cpu "$i")"); done
  sleep "$secs"
  for i in "$@"; do after+=("$(cpu "$i")"); done
  for i in "${!before[@]}"; do
    awk -v a="${before[$i]}" -v b="${after[$i]}" -v s="$secs" 'BEGIN { printf "%.3f", (b - a) / 1e7 / s }'
    echo -n " "
  done
  echo
}
rss() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' /proc/"$1"/status; }
now_ms() { date +%s%3N; }
# Starts a program and waits for a window of its process; prints "pid ms".
start() {
  local t0 pid
  t0=$(now_ms)
  "$@" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1 && break
    sleep 0.01
  done
  echo "$pid $(($(now_ms) - t0))"
}

read -r av av_ms < <(cd "$build" && start ./avsetup)
pids+=($av)
read -r pv pv_ms < <(start pavucontrol --tab=4)
pids+=($pv)
sleep 3
echo "start_ms avsetup $av_ms pavucontrol $pv_ms"
echo "rss_mb avsetup $(rss "$av") pavucontrol $(rss "$pv")"
win=$(xdotool search --onlyvisible --pid "$av" | head -1)
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 1; }
next() { click 360 353; }
back() { click 261 353; }

echo "idle_welcome_pct $(measure "$av")"
next
echo "idle_speaker_pct $(measure "$av")"
next
echo "idle_microphone_pct $(measure "$av")"

# The microphone test (its button at 16,97 on the page, which starts at 164,0).
click 217 109
parec --device="${AVSETUP_PULSE_TEST_SOURCE:-avsetup_test_sine}" --rate=8000 --channels=2 \
  --format=s16le --raw >/dev/null &
pr=$!
pids+=($pr)
sleep 1
streams() { pactl list "$1" | grep -c "application.process.id = \"$av\"" || true; }
[ "$(streams source-outputs)" -ge 1 ] || echo "warning: the microphone test does not record" >&2
read -r m_av m_pr m_pv < <(measure "$av" "$pr" "$pv")
echo "microphone_pct avsetup $m_av parec $m_pr pavucontrol $m_pv"
kill "$pr"
click 217 109

# The speaker test (its button at 24,134), and paplay playing the same sound repeated for longer
# than the measurement (one process, no start-up in the figure).
back
click 225 146
python3 - "$build/TestSnd.wav" "$work/long.wav" "$secs" <<'PY'
import sys, wave
src = wave.open(sys.argv[1])
frames = src.readframes(src.getnframes())
out = wave.open(sys.argv[2], "wb")
out.setparams(src.getparams())
seconds = src.getnframes() / src.getframerate()
for _ in range(int((float(sys.argv[3]) + 5) / seconds) + 1):
    out.writeframes(frames)
out.close()
PY
paplay "$work/long.wav" &
pl=$!
pids+=($pl)
sleep 1
[ "$(streams sink-inputs)" -ge 1 ] || echo "warning: the speaker test does not play" >&2
read -r s_av s_pl < <(measure "$av" "$pl")
echo "speaker_pct avsetup $s_av paplay $s_pl"
kill "$pl"
click 225 146
