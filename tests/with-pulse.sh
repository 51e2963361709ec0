#!/usr/bin/env bash
# Runs a command beside a private PulseAudio daemon: its own runtime directory, no D-Bus, a null
# sink and a sine source for the tests. The daemon is stopped whatever happens.
#
# Null devices of the daemon render up to 2 s ahead while nobody asks for less, and a client that
# comes later can only take back a few milliseconds of that: the first sound played into an idle
# one is heard up to 2 s late and its monitor delivers in 2 s lumps. Real cards do not. To behave
# like them, a low-latency client keeps playing into each null sink: silence into the test sink
# (started again should the sink be unloaded and loaded again), a 440 Hz tone into a second sink
# whose monitor is the test "microphone". The tone asks for 100 ms: a null sink renders at the
# pace its lowest-latency client asks for, and the tone's former 20 ms held the microphone at
# 5 ms pieces (two messages each after resampling) for every recorder, whatever fragment size it
# asked for; a real microphone delivers at the pace its recorders ask for.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/test-players.sh"
if ! command -v pulseaudio >/dev/null; then
  echo "with-pulse: pulseaudio is not installed; running without a sound server" >&2
  exec "$@"
fi
dir=$(mktemp -d /tmp/avsetup-pulse.XXXXXX)
mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
# The socket comes last, so clients find every device in place once they can connect.
cat >"$dir/default.pa" <<PA
load-module module-null-sink sink_name=avsetup_test_sink sink_properties=device.description=AvSetup_Test_Sink
load-module module-null-sink sink_name=avsetup_test_mic sink_properties=device.description=AvSetup_Test_Mic
load-module module-remap-source master=avsetup_test_mic.monitor source_name=avsetup_test_sine source_properties=device.description=AvSetup_Test_Microphone
set-default-sink avsetup_test_sink
set-default-source avsetup_test_sine
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
PA
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" \
  PULSE_STATE_PATH="$dir/state" PULSE_RUNTIME_PATH="$dir/runtime" \
  pulseaudio -n -F "$dir/default.pa" --daemonize=no --exit-idle-time=-1 --disallow-exit \
  --use-pid-file=no --disable-shm=yes --log-target=file:"$dir/pulse.log" &
pid=$!
export PULSE_SERVER="unix:$dir/native"
export AVSETUP_PULSE_TEST_SINK=avsetup_test_sink AVSETUP_PULSE_TEST_SOURCE=avsetup_test_sine
for _ in $(seq 1 100); do
  [ -S "$dir/native" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "with-pulse: daemon failed to start" >&2; cat "$dir/pulse.log" >&2 || true; pid=""; break; }
  sleep 0.1
done
if [ -n "$pid" ] && command -v pacat >/dev/null; then
  start_test_players "$pid" "$dir"
  # Both clients connected, and what the sinks rendered ahead before them has drained.
  for _ in $(seq 1 60); do
    if [ "$(pactl list short sink-inputs 2>/dev/null | wc -l)" -ge 2 ] &&
      pactl list sinks 2>/dev/null | awk '/^\tLatency:/ { if ($2 > 100000) slow = 1 } END { exit slow }'; then
      break
    fi
    sleep 0.1
  done
fi
set +e
"$@"
rc=$?
set -e
exit $rc
