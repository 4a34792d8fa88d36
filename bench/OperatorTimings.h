#pragma once

#include <chrono>

// What an operator waits for, measured on the real main window on the
// offscreen platform against the sound server of PULSE_SERVER (normally the
// private one of scripts/sound-server.sh, with its simulated radios), in a
// settings folder of its own. Prints one name=value line per figure, in ms:
// startup_window_ms (from `processStart` to the window exposed, the sound
// server connection and the settings read included), poweron_sound_ms (a
// Power click to the first sound in the recorded headphones, median of five),
// route_heard_ms (a Rig button click to the new radio heard in the right ear,
// median of six), otrsp_route_heard_ms (an OTRSP line written to the program's
// TCP port to the new radio heard, median of six), latch_heard_ms (a RadioInfo
// datagram saying radio 1 transmits, or no longer does, to the radio latch
// brings heard, median of six), rig_ptt_heard_ms (radio 1's PTT set on a
// rigctld, latched on Rig1, to radio 2 heard in the left ear, median of six),
// command_ui_ms and command_ui_max_ms (how long a
// route click holds the user-interface thread, its settings write included: median and worst),
// poweron_ui_ms (the same for a Power click, median).
//
// The sound's time comes from the headphones' monitor recorded on a second
// connection, each sample dated by when the server rendered it.
//
// Must run first in the process, since it makes the QApplication. Returns 0
// when every figure was measured; prints why not otherwise.
int runOperatorTimings(std::chrono::steady_clock::time_point processStart, int argc, char *argv[]);
