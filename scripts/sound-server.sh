#!/usr/bin/env bash
# A private PulseAudio server on a socket in a temporary folder, with three
# simulated radios and a pair of headphones:
#   null sinks "Radio 1", "Radio 2", "Radio 3", each fed a steady tone (600,
#   1000, 1500 Hz) by the server's own sine player; their monitors are the
#   capture devices;
#   null sink "Headphones", the default playback device.
# No session, no D-Bus; works as root.
#
#   sound-server.sh run -- CMD...   start a server, run CMD with PULSE_SERVER
#                                   set, stop the server; exits with CMD's code
#   sound-server.sh start DIR       start a server in DIR (created if missing)
#                                   in the background; prints PULSE_SERVER=...
#   sound-server.sh stop DIR        stop the server started in DIR
set -euo pipefail

usage() {
  sed -n '2,16p' "$0" >&2
  exit 2
}

# Starts the server in $1 and waits until it answers. Leaves its pid in $1/pid.
start_server() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/runtime" "$dir/config"
  chmod 700 "$dir/runtime"
  cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
load-module module-null-sink sink_name=headphones sink_properties=device.description=Headphones
load-module module-null-sink sink_name=radio1 sink_properties=device.description="Radio\ 1"
load-module module-null-sink sink_name=radio2 sink_properties=device.description="Radio\ 2"
load-module module-null-sink sink_name=radio3 sink_properties=device.description="Radio\ 3"
load-module module-sine sink=radio1 frequency=600
load-module module-sine sink=radio2 frequency=1000
load-module module-sine sink=radio3 frequency=1500
set-default-sink headphones
set-default-source headphones.monitor
EOF
  # The server refuses root unless --system is given; a private per-user
  # instance is what we want, so HOME and the runtime folders are ours.
  HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
    DBUS_SESSION_BUS_ADDRESS=disabled: \
    pulseaudio --system=false -n -F "$dir/server.pa" --daemonize=no \
    --exit-idle-time=-1 --disallow-exit --use-pid-file=no --high-priority=yes \
    --realtime=yes --log-target="file:$dir/server.log" --log-level=notice \
    </dev/null >>"$dir/server.log" 2>&1 &
  echo $! >"$dir/pid"
  local i sink
  for i in $(seq 100); do
    if PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1; then
      echo "unix:$dir/native" >"$dir/server"
      # An idle null sink renders in two-second blocks, so a stream that
      # starts on it would wait that long for its first sound. A quiet reader
      # on each monitor keeps the blocks short, as a sound card's would be;
      # suspending and resuming each sink then starts it on short blocks.
      for sink in headphones radio1 radio2 radio3; do
        PULSE_SERVER="unix:$dir/native" parec -d "$sink.monitor" --latency-msec=20 \
          --client-name="keeps $sink awake" --raw >/dev/null 2>&1 </dev/null &
      done
      for i in $(seq 50); do
        [ "$(PULSE_SERVER="unix:$dir/native" pactl list short source-outputs | wc -l)" -ge 4 ] && break
        sleep 0.05
      done
      for sink in headphones radio1 radio2 radio3; do
        PULSE_SERVER="unix:$dir/native" pactl suspend-sink "$sink" 1
        PULSE_SERVER="unix:$dir/native" pactl suspend-sink "$sink" 0
      done
      return 0
    fi
    if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "sound-server: the server did not start; its log:" >&2
  cat "$dir/server.log" >&2
  stop_server "$dir"
  return 1
}

stop_server() {
  local dir=$1 pid
  [ -f "$dir/pid" ] || return 0
  pid=$(cat "$dir/pid")
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/pid"
}

case "${1:-}" in
run)
  shift
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || usage
  dir=$(mktemp -d "${TMPDIR:-/tmp}/kaldra-sound.XXXXXX")
  trap 'stop_server "$dir"; rm -rf "$dir"' EXIT
  trap 'exit 130' INT TERM
  start_server "$dir"
  export PULSE_SERVER
  PULSE_SERVER=$(cat "$dir/server")
  echo "PULSE_SERVER=$PULSE_SERVER"
  status=0
  "$@" || status=$?
  exit "$status"
  ;;
start)
  [ $# -eq 2 ] || usage
  start_server "$2"
  echo "PULSE_SERVER=$(cat "$2/server")"
  ;;
stop)
  [ $# -eq 2 ] || usage
  stop_server "$2"
  ;;
*)
  usage
  ;;
esac
