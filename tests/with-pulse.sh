#!/usr/bin/env bash
# Runs a command beside a private PulseAudio daemon: its own runtime directory, no D-Bus, a null
# sink and a sine source for the tests. The daemon is stopped whatever happens.
set -euo pipefail
if ! command -v pulseaudio >/dev/null; then
  echo "with-pulse: pulseaudio is not installed; running without a sound server" >&2
  exec "$@"
fi
dir=$(mktemp -d /tmp/avsetup-pulse.XXXXXX)
mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
cat >"$dir/default.pa" <<PA
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
load-module module-null-sink sink_name=avsetup_test_sink sink_properties=device.description=AvSetup_Test_Sink
load-module module-sine-source source_name=avsetup_test_sine rate=44100 frequency=440
set-default-sink avsetup_test_sink
set-default-source avsetup_test_sine
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
set +e
"$@"
rc=$?
set -e
exit $rc
