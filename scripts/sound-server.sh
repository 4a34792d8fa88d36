#!/usr/bin/env bash
# A private sound server on a socket in a temporary folder, with three
# simulated radios and a pair of headphones:
#   null sinks "Radio 1", "Radio 2", "Radio 3", each fed a steady tone (600,
#   1000, 1500 Hz) at -6 dB; their monitors are the capture devices;
#   null sink "Headphones", the default playback device.
# The sinks are made out of name order, so that a client's sort is exercised.
# SOUND_SERVER chooses the server: pulseaudio (the default) or pipewire
# (pipewire, wireplumber and its pulse server, on a session bus of its own,
# at their default settings: each device drives itself, as a sound card does,
# and the tones are played by PipeWire's own players).
# PIPEWIRE_MIN_QUANTUM=N keeps a pipewire server's graph at cycles of N frames
# or more, as on a desktop set up for a large quantum.
# Works as root; touches nothing outside the folder.
#
#   sound-server.sh run -- CMD...   start a server, run CMD with PULSE_SERVER
#                                   set (and PIPEWIRE_RUNTIME_DIR for a
#                                   pipewire server; KALDRA_GRAPH_PID, the
#                                   pid of the process that runs the audio
#                                   graph), stop the server; exits with
#                                   CMD's code, and when that is not 0
#                                   prints what the servers warned of
#   sound-server.sh start DIR       start a server in DIR (created if missing,
#                                   one already there stopped first) in the
#                                   background; prints PULSE_SERVER=...
#   sound-server.sh stop DIR        stop the server started in DIR
#   sound-server.sh unplug DIR SINK take device SINK (radio1, ..., headphones)
#                                   away with its tone, as an unplugged sound
#                                   card goes
#   sound-server.sh plug DIR SINK   bring it back as it was
# DIR/pid holds the pid of the process that serves the pulse protocol;
# DIR/pipewire-pid that of a pipewire server, whose socket is
# DIR/runtime/pipewire-0.
set -euo pipefail

SOUND_SERVER=${SOUND_SERVER:-pulseaudio}
export SOUND_SERVER

usage() {
  sed -n '2,33p' "$0" >&2
  exit 2
}

# Sinks in the order they are made, with their descriptions and tones.
sinks=(radio2 headphones radio3 radio1)
declare -A description=([headphones]=Headphones [radio1]="Radio 1" [radio2]="Radio 2" [radio3]="Radio 3")
declare -A tone=([radio1]=600 [radio2]=1000 [radio3]=1500)
# The server's folder, and whether it has started: the exit traps, which may
# run inside any function, look at these.
folder=
started=
# The processes whose main threads run real-time once the server answers.
main_threads=()
scripts=$(cd "$(dirname "$0")" && pwd)

private_env() {
  local dir=$1
  echo HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" PIPEWIRE_RUNTIME_DIR="$dir/runtime" \
    XDG_CONFIG_HOME="$dir/config" \
    XDG_STATE_HOME="$dir/state" XDG_DATA_HOME="$dir/data"
}

# Runs "$@" in the background with the folder's private environment; its pid
# joins DIR/pids.
spawn() {
  local dir=$1 log=$2
  shift 2
  # shellcheck disable=SC2046
  env $(private_env "$dir") "$@" </dev/null >>"$dir/$log" 2>&1 &
  echo $! >>"$dir/pids"
  last_pid=$!
}

pactl_() {
  PULSE_SERVER="unix:$server_socket" pactl "$@"
}

# pactl_ again for a while when the server refuses: a PipeWire server just
# started now and then answers "Not supported" while its session manager is
# still setting up, for more than 2 s on a busy machine.
pactl_until_done() {
  for _ in $(seq 50); do
    pactl_ "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "sound-server: pactl $* failed" >&2
  pactl_ "$@" >/dev/null
}

answers() {
  PULSE_SERVER="unix:$server_socket" pactl info >/dev/null 2>&1
}

start_pulseaudio() {
  local dir=$1
  server_socket=$dir/native
  echo "load-module module-native-protocol-unix socket=$server_socket auth-anonymous=1" \
    >"$dir/server.pa"
  # The server refuses root unless --system is given; a private per-user
  # instance is what we want, so HOME and the runtime folders are ours.
  spawn "$dir" server.log env DBUS_SESSION_BUS_ADDRESS=disabled: \
    pulseaudio --system=false -n -F "$dir/server.pa" --daemonize=no \
    --exit-idle-time=-1 --disallow-exit --use-pid-file=no --high-priority=yes \
    --realtime=yes --log-target="file:$dir/server.log" --log-level=notice
  echo "$last_pid" >"$dir/pid"
  main_threads=("$last_pid")
}

start_pipewire() {
  local dir=$1 i
  server_socket=$dir/runtime/pulse/native
  dbus-daemon --session --fork --nopidfile --address="unix:path=$dir/bus" \
    --print-pid=1 >>"$dir/pids"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
  # Left at PipeWire's defaults, as a desktop's; PIPEWIRE_MIN_QUANTUM alone
  # changes them when asked for.
  if [ -n "${PIPEWIRE_MIN_QUANTUM:-}" ]; then
    mkdir -p "$dir/config/pipewire/pipewire.conf.d"
    echo "context.properties = { default.clock.min-quantum = $PIPEWIRE_MIN_QUANTUM }" \
      >"$dir/config/pipewire/pipewire.conf.d/kaldra.conf"
  fi
  # A killed server leaves its socket behind. Waited for, it would start the
  # session manager before the new server listens, and the session manager
  # gives up at once: no defaults, and "Not supported" for setting them.
  rm -f "$dir/runtime/pipewire-0" "$dir/runtime/pipewire-0.lock"
  spawn "$dir" pipewire.log pipewire
  echo "$last_pid" >"$dir/pipewire-pid"
  main_threads=("$last_pid")
  for i in $(seq 100); do
    [ -S "$dir/runtime/pipewire-0" ] && break
    sleep 0.05
  done
  spawn "$dir" wireplumber.log wireplumber
  main_threads+=("$last_pid")
  spawn "$dir" server.log pipewire -c pipewire-pulse.conf
  echo "$last_pid" >"$dir/pid"
  main_threads+=("$last_pid")
}

# The index of the loaded module $1 whose arguments begin with $2.
module_index() {
  pactl_ list short modules | awk -F '\t' -v name="$1" -v arguments="$2" \
    '$2 == name && index($3, arguments) == 1 { print $1 }'
}

# On a pipewire server each null sink drives itself, as a sound card does.
make_sink() {
  pactl_until_done load-module module-null-sink sink_name="$1" \
    "sink_properties='device.description=\"${description[$1]}\"'"
}

# The tone of radio $2, if it is one. A pipewire server has no sine module:
# there a player of PipeWire's own plays it (tone-player.py), so that the
# tones do not depend on the server's pulse layer, which may drop a busy
# stream's messages and leave it silent for good.
start_tone() {
  local dir=$1 sink=$2
  [ -n "${tone[$sink]:-}" ] || return 0
  if [ "$SOUND_SERVER" = pulseaudio ]; then
    pactl_ load-module module-sine sink="$sink" frequency="${tone[$sink]}" >/dev/null
    return
  fi
  spawn "$dir" players.log "$scripts/tone-player.py" "$sink" "${tone[$sink]}"
  echo "$last_pid" >"$dir/$sink.tone"
}

stop_tone() {
  local dir=$1 sink=$2
  [ -n "${tone[$sink]:-}" ] || return 0
  if [ "$SOUND_SERVER" = pulseaudio ]; then
    pactl_ unload-module "$(module_index module-sine "sink=$sink ")"
  else
    pkill -P "$(cat "$dir/$sink.tone")" || true
    kill "$(cat "$dir/$sink.tone")" 2>/dev/null || true
  fi
}

# An idle null sink of a pulseaudio server renders in two-second blocks, so a
# stream that starts on it would wait that long for its first sound. A quiet
# reader on each monitor keeps the blocks short, as a sound card's would be;
# suspending and resuming each sink then starts it on short blocks.
# $1: the folder; the rest: the sinks.
keep_awake() {
  local dir=$1 sink readers
  shift
  [ "$SOUND_SERVER" = pulseaudio ] || return 0
  readers=$(pactl_ list short source-outputs | wc -l)
  for sink in "$@"; do
    spawn "$dir" server.log env PULSE_SERVER="unix:$server_socket" parec \
      -d "$sink.monitor" --latency-msec=20 --client-name="keeps $sink awake" --raw
    echo "$last_pid" >"$dir/$sink.awake"
  done
  wait_for_streams source-outputs $((readers + $#))
  for sink in "$@"; do
    pactl_ suspend-sink "$sink" 1
    pactl_ suspend-sink "$sink" 0
  done
}

# The sinks, the defaults and the tones. The defaults come first: a stream
# sent to the default device by name follows the default when it changes.
add_devices() {
  local dir=$1 sink
  for sink in "${sinks[@]}"; do
    make_sink "$sink"
  done
  pactl_until_done set-default-sink headphones
  pactl_until_done set-default-source headphones.monitor
  for sink in "${!tone[@]}"; do
    start_tone "$dir" "$sink"
  done
}

# A stream appears in the server's list; $1: sink-inputs or source-outputs.
wait_for_streams() {
  local what=$1 count=$2
  for _ in $(seq 100); do
    [ "$(pactl_ list short "$what" | wc -l)" -ge "$count" ] && return 0
    sleep 0.05
  done
  return 1
}

# Each radio's monitor (of those named, or all) carries its tone to a new
# capture stream. On PipeWire the players and the session manager's first
# links come up a while after the server answers, or after a radio is plugged
# in again; a test that started before would hear silence.
wait_for_tones() {
  local sink
  [ $# -gt 0 ] || set -- "${!tone[@]}"
  for sink in "$@"; do
    [ -n "${tone[$sink]:-}" ] || continue
    for _ in $(seq 50); do
      # The peak of the last 50 ms of a 300 ms recording, s16 mono at 8 kHz.
      {
        timeout 0.3 env PULSE_SERVER="unix:$server_socket" parec -d "$sink.monitor" --raw \
          --format=s16le --channels=1 --rate=8000 --latency-msec=10 \
          --client-name="sound-server check" 2>/dev/null || true
      } |
        python3 -c 'import struct, sys
tail = sys.stdin.buffer.read()[-800:]
peak = max((abs(v) for v in struct.unpack("<%dh" % (len(tail) // 2), tail)), default=0)
sys.exit(0 if len(tail) == 800 and peak > 4096 else 1)' && continue 2
    done
    echo "sound-server: no tone on $sink.monitor" >&2
    return 1
  done
}

# Starts the server in $1 and waits until it answers.
start_server() {
  local dir=$1 i sink pid
  stop_server "$dir"
  mkdir -p "$dir/home" "$dir/runtime" "$dir/config" "$dir/state" "$dir/data"
  chmod 700 "$dir/runtime"
  case "$SOUND_SERVER" in
  pulseaudio) start_pulseaudio "$dir" ;;
  pipewire) start_pipewire "$dir" ;;
  *)
    echo "sound-server: SOUND_SERVER must be pulseaudio or pipewire" >&2
    return 2
    ;;
  esac
  for i in $(seq 100); do
    if answers; then
      echo "unix:$server_socket" >"$dir/server"
      # A PulseAudio server's main thread carries every client's stream to
      # and from the devices' threads, which are real-time already. On a
      # shared machine busy with builds it waits behind them for a third of
      # the time, and its clients' sound breaks up however well they keep
      # time: real-time too (once started: the server resets its own
      # priority), it leaves the tests judging the client, not the machine.
      # The pulse layer of a pipewire server is worse off: its data thread
      # hands each cycle's news to the main thread through a queue of 64
      # messages, and drops what does not fit ("loop_invoke() queue full"
      # in its log); a stream that misses one stays silent for good. The
      # pipewire server's and its session manager's main threads, which
      # answer clients and link their streams, keep time with them.
      for pid in "${main_threads[@]}"; do
        chrt --rr --pid 5 "$pid" || true
      done
      add_devices "$dir"
      wait_for_streams sink-inputs 3
      keep_awake "$dir" "${sinks[@]}"
      wait_for_tones && started=yes && return 0
      break
    fi
    if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  return 1
}

# What the processes of the server in $1 logged: said when a start fails,
# whether start_server gave up or set -e stopped the script on the way.
show_logs() {
  local dir=$1 log
  echo "sound-server: the $SOUND_SERVER server did not start; its logs:" >&2
  for log in "$dir"/*.log; do
    [ -f "$log" ] || continue
    echo "--- ${log##*/}" >&2
    cat "$log" >&2
  done
}

# The warnings and errors the servers in $1 logged, each with its count and
# without its time: when a run fails, they tell a fault of the server's from
# one of the program's. What every start logs on a machine without a desktop
# is left out.
show_warnings() {
  local dir=$1 log
  for log in "$dir"/*.log; do
    [ -f "$log" ] || continue
    echo "--- what ${log##*/} warned of" >&2
    grep -E '^\[[WE]\]|^[WE] |: (warning|error)|^tone-player:' "$log" |
      grep -vE 'rtkit|portal|system bus|acquire_rt|libcamera' |
      sed -E 's/^(\[[WE]\])\[[0-9.]+\]/\1/; s/^([WE]) [0-9:.]+ /\1 /' |
      sort | uniq -c | sort -rn | head -n 20 >&2 || true
  done
}

# Stops every process started in $1, newest first.
stop_server() {
  local dir=$1 pid pids
  [ -f "$dir/pids" ] || return 0
  mapfile -t pids < <(tac "$dir/pids")
  for pid in "${pids[@]}"; do
    # A player loop: its children first.
    pkill -P "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -f "$dir/pids" "$dir/pid" "$dir/pipewire-pid" "$dir/server" "$dir"/*.tone "$dir"/*.awake
}

# Device $2 of the server in $1 goes, its tone first, so that no tone moves on
# to another device; plug brings it back as it was made.
unplug_sink() {
  local dir=$1 sink=$2
  server_socket=$(sed 's/^unix://' "$dir/server")
  stop_tone "$dir" "$sink"
  if [ -f "$dir/$sink.awake" ]; then
    kill "$(cat "$dir/$sink.awake")" 2>/dev/null || true
  fi
  pactl_ unload-module "$(module_index module-null-sink "sink_name=$sink ")"
}

# A default device that comes back takes the streams that follow the default
# with it, on both servers the radios' tones among them: each goes back to its
# radio. The session manager of a pipewire server moves them a while later.
restore_tones() {
  local sink input
  [ "$SOUND_SERVER" = pipewire ] && sleep 0.3
  for sink in "${!tone[@]}"; do
    for input in $(pactl_ list sink-inputs | awk -v sine="${tone[$sink]} Hz Sine" -v player="tone of $sink" '
        /^Sink Input #/ { input = substr($3, 2) }
        /media.name = / {
          name = $0; sub(/^[^"]*"/, "", name); sub(/"$/, "", name)
          if (name == sine || name == player) print input
        }'); do
      pactl_ move-sink-input "$input" "$sink"
    done
  done
}

plug_sink() {
  local dir=$1 sink=$2
  server_socket=$(sed 's/^unix://' "$dir/server")
  make_sink "$sink"
  start_tone "$dir" "$sink"
  keep_awake "$dir" "$sink"
  restore_tones
  wait_for_tones "$sink"
}

case "${1:-}" in
run)
  shift
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || usage
  folder=$(mktemp -d "${TMPDIR:-/tmp}/kaldra-sound.XXXXXX")
  trap '[ -n "$started" ] || show_logs "$folder"; stop_server "$folder"; rm -rf "$folder"' EXIT
  trap 'exit 130' INT TERM
  start_server "$folder"
  export PULSE_SERVER
  PULSE_SERVER=$(cat "$folder/server")
  # PipeWire's own clients find the private server there.
  [ "$SOUND_SERVER" = pipewire ] && export PIPEWIRE_RUNTIME_DIR="$folder/runtime"
  # The process whose threads run the audio graph: the bench stalls it.
  export KALDRA_GRAPH_PID
  KALDRA_GRAPH_PID=$(cat "$folder/pipewire-pid" 2>/dev/null || cat "$folder/pid")
  echo "PULSE_SERVER=$PULSE_SERVER ($SOUND_SERVER)"
  status=0
  "$@" || status=$?
  [ "$status" -eq 0 ] || show_warnings "$folder"
  exit "$status"
  ;;
start)
  [ $# -eq 2 ] || usage
  folder=$2
  trap '[ -n "$started" ] || { show_logs "$folder"; stop_server "$folder"; }' EXIT
  start_server "$folder"
  echo "PULSE_SERVER=$(cat "$folder/server")"
  ;;
stop)
  [ $# -eq 2 ] || usage
  stop_server "$2"
  ;;
unplug | plug)
  [ $# -eq 3 ] || usage
  [ -n "${description[$3]:-}" ] || usage
  "$1_sink" "$2" "$3"
  ;;
*)
  usage
  ;;
esac
