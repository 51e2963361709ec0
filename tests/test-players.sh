# Sourced by with-pulse.sh and with-pipewire.sh: the players that make the test devices act as a
# card does. start_test_players SERVER_PID DIR plays one second of a 440 Hz tone, unsigned 8-bit
# (no zero bytes), in a loop into the microphone's sink, and silence into the test sink (started
# again should the sink be unloaded and loaded again). Both play at the server's default rate, so
# the sinks keep it. The players end with the server's process and keep none of the caller's
# output open.
start_test_players() {
  local server=$1 dir=$2
  LC_ALL=C awk 'BEGIN { for (i = 0; i < 44100; i++) printf "%c", int(128 + 100 * sin(6.283185307179586 * 440 * i / 44100)) }' \
    >"$dir/tone.raw"
  (while kill -0 "$server" 2>/dev/null; do cat "$dir/tone.raw"; done |
    pacat --raw --format=u8 --rate=44100 --channels=1 --latency-msec=100 -d avsetup_test_mic \
      --client-name=avsetup-test-tone) >/dev/null 2>&1 &
  (set +e
  while kill -0 "$server" 2>/dev/null; do
    sink=$(pactl list short sinks 2>/dev/null | awk '$2 == "avsetup_test_sink" { print $1 }')
    if [ -n "$sink" ] && ! pactl list short sink-inputs 2>/dev/null | awk '{ print $2 }' | grep -qx "$sink"; then
      pacat --raw --format=s16le --rate=44100 --channels=1 --latency-msec=20 -d avsetup_test_sink \
        --client-name=avsetup-test-silence </dev/zero &
    fi
    sleep 0.5
  done) >/dev/null 2>&1 &
}
