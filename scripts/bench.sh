#!/usr/bin/env bash
# The benchmark on each private sound server, PulseAudio then PipeWire, one
# after the other on the same build, and their figures side by side:
#   bench.sh BENCH   BENCH: the kaldra_bench program
# Exits non-zero when either run failed to measure.
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || {
  sed -n '2,5p' "$0" >&2
  exit 2
}
bench=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

status=0
for server in pulseaudio pipewire; do
  echo "== $server"
  SOUND_SERVER=$server scripts/sound-server.sh run -- "$bench" | tee "$out/$server" || status=1
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
