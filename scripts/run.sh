#!/usr/bin/env bash
# Runs KALDRA (the program given, with its arguments) on the sound server
# that answers: the desktop's own (PulseAudio, or PipeWire's pulse server),
# else a private server with simulated radios (scripts/sound-server.sh),
# which is stopped when the program ends.
#
#   run.sh PROGRAM [ARGS...]
set -euo pipefail

[ $# -gt 0 ] || {
  sed -n '2,7p' "$0" >&2
  exit 2
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found (DISPLAY and WAYLAND_DISPLAY are unset); KALDRA needs a desktop session" >&2
fi

if timeout 5 pactl info >/dev/null 2>&1; then
  server=$(timeout 5 pactl info 2>/dev/null | sed -n 's/^Server Name: //p')
  echo "run: KALDRA on the desktop's sound server (${server:-unknown})"
  exec "$@"
fi

echo "run: no sound server answers; KALDRA runs on a private one with simulated radios"
echo "run: its inputs \"Monitor of Radio 1\" to \"Monitor of Radio 3\" carry steady tones, its"
echo "run: output is \"Headphones\" (silent); the server stops when KALDRA ends"
exec "$(dirname "$0")/sound-server.sh" run -- "$@"
