#!/usr/bin/env bash
# Runs a command beside a private PipeWire stack (pipewire, wireplumber, pipewire-pulse), the sound
# server most desktops run, with the same test devices and variables as tests/with-pulse.sh: a null
# test sink, a test microphone carrying a steady 440 Hz tone, PULSE_SERVER,
# AVSETUP_PULSE_TEST_SINK and AVSETUP_PULSE_TEST_SOURCE. Its own runtime, configuration and state
# folders; no systemd, no D-Bus. Everything is stopped whatever happens.
#
# The test devices are made through pipewire-pulse's modules, as the tests make theirs, so a test
# can unload and load them again like any other (they go with pipewire-pulse, which owns them).
#
# AVSETUP_SOUND_SERVER=pipewire tells the tests which server they are on, and
# AVSETUP_PIPEWIRE_CONFIG names the folder of the stack's configuration (pipewire.conf,
# pipewire-pulse.conf, and wireplumber/ for XDG_CONFIG_HOME), so a test can start a stack of its
# own to kill and start again. The PulseAudio service puts its socket "native" into
# PULSE_RUNTIME_PATH.
. "$(dirname "${BASH_SOURCE[0]}")/test-players.sh"
dir=$(mktemp -d /tmp/avsetup-pipewire.XXXXXX)
conf=$dir/config
mkdir -p "$dir/runtime" "$dir/home" "$dir/state" "$conf/wireplumber/main.lua.d" \
  "$conf/wireplumber/bluetooth.lua.d"
chmod 700 "$dir/runtime"

# The daemon: the usual modules less those that need D-Bus (portal, RTKit) or a desktop (X11 bell);
# no device monitors (the session manager's, switched off below). The graph runs at real-time
# priority as on a desktop (there through RTKit, here directly): at ordinary priority a loaded
# machine lets a graph cycle pass now and then, and a monitor then records a period of silence in
# place of a period of the stream. The PulseAudio service's data thread likewise.
cat >"$conf/pipewire.conf" <<'CONF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    link.max-buffers = 16
    default.clock.min-quantum = 16
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt
        args = { nice.level = -11 rt.prio = 88 rtportal.enabled = false rtkit.enabled = false }
        flags = [ ifexists nofail ]
    }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-profiler }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-device-factory }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name    = support.node.driver
            node.name       = Dummy-Driver
            node.group      = pipewire.dummy
            priority.driver = 20000
        }
    }
    { factory = spa-node-factory
        args = {
            factory.name    = support.node.driver
            node.name       = Freewheel-Driver
            priority.driver = 19000
            node.group      = pipewire.freewheel
            node.freewheel  = true
        }
    }
]
CONF

# The PulseAudio service on a socket of its own, without the stand-in sink it makes when there is
# none (the tests count devices).
cat >"$conf/pipewire-pulse.conf" <<'CONF'
context.properties = {
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt
        args = { nice.level = -11 rt.prio = 88 rtportal.enabled = false rtkit.enabled = false }
        flags = [ ifexists nofail ]
    }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse
        args = {
            server.address = [ "unix:native" ]
        }
    }
]
CONF

# wireplumber 0.4 leaves at once without a session bus unless everything that uses it is off: the
# ALSA (with its device reservation), V4L2, libcamera and Bluetooth monitors and the Flatpak portal.
# These files come after the settings of the system's own and before they are applied.
cat >"$conf/wireplumber/main.lua.d/60-avsetup-test.lua" <<'LUA'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
LUA
cat >"$conf/wireplumber/bluetooth.lua.d/60-avsetup-test.lua" <<'LUA'
bluez_monitor.enabled = false
LUA

pids=()
cleanup() {
  local i
  # The last started first: clients before the daemon they talk to.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
run() { # name, command...: started with the private environment, its output into a log
  local name=$1
  shift
  env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY -u PIPEWIRE_REMOTE \
    XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_CONFIG_HOME="$conf" \
    XDG_STATE_HOME="$dir/state" PULSE_RUNTIME_PATH="$dir" PULSE_SERVER="unix:$dir/native" "$@" >"$dir/$name.log" 2>&1 &
  pids+=($!)
}
fail() {
  echo "with-pipewire: $1" >&2
  for f in "$dir"/*.log; do echo "== ${f##*/}" >&2; cat "$f" >&2; done
  exit 1
}
wait_for() { # what, test...: up to 10 s
  local what=$1
  shift
  for _ in $(seq 1 100); do
    "$@" && return 0
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null || fail "a server process left ($what)"; done
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

run pipewire pipewire -c "$conf/pipewire.conf"
wait_for "pipewire's socket" test -S "$dir/runtime/pipewire-0"
run wireplumber wireplumber
run pipewire-pulse pipewire-pulse -c "$conf/pipewire-pulse.conf"
export PULSE_SERVER="unix:$dir/native"
export AVSETUP_SOUND_SERVER=pipewire AVSETUP_PIPEWIRE_CONFIG="$conf"
export AVSETUP_PULSE_TEST_SINK=avsetup_test_sink AVSETUP_PULSE_TEST_SOURCE=avsetup_test_sine
# The caller's environment reaches no server but this one.
export XDG_RUNTIME_DIR="$dir/runtime"
unset PIPEWIRE_REMOTE
wait_for "the PulseAudio service" pactl info >/dev/null 2>&1
# The session manager is ready once it has published the defaults' metadata.
wait_for "the session manager" sh -c 'pw-metadata -n default 2>/dev/null | grep -q .'
pactl load-module module-null-sink sink_name=avsetup_test_sink \
  sink_properties=device.description=AvSetup_Test_Sink >/dev/null
pactl load-module module-null-sink sink_name=avsetup_test_mic \
  sink_properties=device.description=AvSetup_Test_Mic >/dev/null
pactl load-module module-remap-source master=avsetup_test_mic.monitor source_name=avsetup_test_sine \
  source_properties=device.description=AvSetup_Test_Microphone >/dev/null
wait_for "the test devices" sh -c \
  'pactl list short sinks | grep -q avsetup_test_sink && pactl list short sources | grep -q avsetup_test_sine'
pactl set-default-sink avsetup_test_sink
pactl set-default-source avsetup_test_sine

server=${pids[2]}
start_test_players "$server" "$dir"
wait_for "the test players" sh -c '[ "$(pactl list short sink-inputs 2>/dev/null | wc -l)" -ge 2 ]'

set +e
"$@"
rc=$?
set -e
exit $rc
