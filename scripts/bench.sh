#!/usr/bin/env bash
# The benchmark on each private sound server, PulseAudio then PipeWire, one
# after the other on the same build, and their figures side by side:
#   bench.sh BENCH   BENCH: the kaldra_bench program
# With BENCH_RUNTIME_DIR set, on the server already running there instead of
# the private PipeWire one (a desktop's: /run/user/UID): its pulse layer at
# BENCH_RUNTIME_DIR/pulse/native, PipeWire at BENCH_RUNTIME_DIR/pipewire-0.
# Its devices must be those of sound-server.sh (radio1..3 playing their tones,
# headphones) for the operator's timings; the bench brings its own sink.
# Exits non-zero when either run failed to measure.
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || {
  sed -n '2,11p' "$0" >&2
  exit 2
}
bench=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The bench on the server in BENCH_RUNTIME_DIR; the process that runs its
# graph is the one listening on PipeWire's socket, for the stalls.
bench_on_runtime_dir() {
  local dir=$BENCH_RUNTIME_DIR graph
  graph=$(ss -xlpn | awk -v socket="$dir/pipewire-0" '$5 == socket' |
    sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n 1)
  echo "PULSE_SERVER=unix:$dir/pulse/native (pipewire in $dir)"
  PULSE_SERVER="unix:$dir/pulse/native" PIPEWIRE_RUNTIME_DIR=$dir KALDRA_GRAPH_PID=$graph \
    "$bench"
}

status=0
for server in pulseaudio pipewire; do
  echo "== $server"
  if [ "$server" = pipewire ] && [ -n "${BENCH_RUNTIME_DIR:-}" ]; then
    bench_on_runtime_dir | tee "$out/$server" || status=1
  else
    SOUND_SERVER=$server scripts/sound-server.sh run -- "$bench" | tee "$out/$server" || status=1
  fi
done

# Figure by figure in the order first printed; "-" where a server has none.
echo "== side by side"
awk -F= '
  { file = FILENAME == ARGV[1] ? 1 : 2 }
  /^[a-z][a-zA-Z_0-9 ]*=/ {
    name = $1; value = substr($0, length(name) + 2)
    if (!(name in seen)) { seen[name] = 1; order[++count] = name }
    figure[name, file] = value
  }
  END {
    printf "%-28s | %-40s | %s\n", "figure", "pulseaudio", "pipewire"
    for (i = 1; i <= count; i++) {
      name = order[i]
      a = ((name, 1) in figure) ? figure[name, 1] : "-"
      b = ((name, 2) in figure) ? figure[name, 2] : "-"
      printf "%-28s | %-40s | %s\n", name, a, b
    }
  }' "$out/pulseaudio" "$out/pipewire"
exit "$status"
