#!/usr/bin/env python3
"""Plays a steady tone into one device of a private PipeWire server, for good.

    tone-player.py SINK HZ

A player of PipeWire's own (pw-cat) loops one second of whole cycles of HZ,
mono float at 48 kHz and -6 dB, into playback device SINK, and never moves to
another device. The player of PipeWire 0.3.65 now and then fails in two ways
on a loaded machine: it crashes, or it stops taking its input while its
stream runs on and plays silence, for as long as the graph around it stays
as it is (seen after a stream on the same device was closed and another
opened). Either way it is started again, as a radio plays on: a player that
has taken nothing for half a second, some 25 of its cycles, has stopped.
"""
import math
import os
import select
import signal
import struct
import subprocess
import sys
import time

STALLED_SECONDS = 0.5
# A new player's stream comes up within this time even on a busy machine.
STARTING_SECONDS = 10.0
PIPE_BYTES = 65536


def tone(hz):
    return b"".join(
        struct.pack("<f", 0.5 * math.sin(2 * math.pi * hz * i / 48000)) for i in range(48000)
    )


def play(sink, second):
    """Runs one player until it ends or stalls."""
    player = subprocess.Popen(
        ["pw-cat", "--playback", "--target", sink, "--format", "f32", "--rate", "48000",
         "--channels", "1", "--latency", "20ms", "--properties",
         '{ media.name = "tone of %s" node.name = "tone of %s" node.dont-reconnect = true }'
         % (sink, sink), "-"],
        stdin=subprocess.PIPE)
    # Stopped, it takes its player with it.
    signal.signal(signal.SIGTERM, lambda *_: (player.kill(), sys.exit(0)))
    pipe = player.stdin.fileno()
    started_by = time.monotonic() + STARTING_SECONDS
    written = 0
    try:
        while player.poll() is None:
            if select.select([], [pipe], [], STALLED_SECONDS)[1]:
                offset = written % len(second)
                written += os.write(pipe, second[offset:offset + 4096])
                continue
            # A new player takes its input only once its stream runs: until
            # it has taken some, it is starting, not stopped.
            if written <= PIPE_BYTES and time.monotonic() < started_by:
                continue
            print("tone-player: the player of %s has stopped taking its input" % sink,
                  file=sys.stderr, flush=True)
            return
    except OSError:
        pass
    finally:
        player.kill()
        player.wait()


def main():
    sink, hz = sys.argv[1], int(sys.argv[2])
    second = tone(hz)
    while True:
        play(sink, second)
        time.sleep(0.2)


if __name__ == "__main__":
    main()
