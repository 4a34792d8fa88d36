#pragma once

// Measures the audio path through a sound server (PULSE_SERVER, normally the
// private one of scripts/sound-server.sh) and prints one name=value line per
// figure: server (its name and version); latency_ms (median) and
// latency_p99_ms from a capture device to the playback device through
// PulseAudioLibrary; dropouts (frames of silence the mixer had to play);
// playback_underflows (times the server found the playback queue empty);
// clicks_heard; baseline_latency_ms (the same path through the server's own
// loopback module at 20 ms); relay_latency_ms and relay_underflows (the same
// path through a plain client relay at 10 ms fragments and a 20 ms buffer);
// cpu_percent (CPU of the library's audio thread, where all audio work
// happens, per second of routed audio); and the pass line: pass=yes when the library's latency is
// within its goal with no dropout and every click heard. On a PipeWire server, the same path
// through PipeWireAudioLibrary (native_latency_ms, native_dropouts, native_clicks_heard,
// native_quantum granted, native_cpu_percent of its loop and data threads) and through pw-loopback
// at the same quantum (pw_loopback_latency_ms). Where the server names the process that runs its
// graph (KALDRA_GRAPH_PID), each back-end's path again while that process is
// held still for 5 ms every 310 ms: stalled_dropouts, stalled_clicks_heard
// and stalled_latency_p99_ms (native_stalled_... for the native back-end).
//
// The harness: one stereo null sink. Clicks go into its left channel; the
// library (and pw-loopback) capture its monitor, as a radio's, and play the
// left channel into the sink's right one. Recording the monitor in one stereo
// stream gives each click's delay as its right-minus-left onset, free of the
// server's own latency reports. The server's own loopback module and the
// plain relay, which cannot move a channel, go through a one-channel remap
// source and sink instead; on PipeWire each of those is a loopback of its own
// that delivers in clumps now and then.
//
// kPulseBackEnd: the pulse back-end's figures alone, with its stalls.
enum class ServerPaths { kAll, kPulseBackEnd };

// Returns 0 when every figure was measured; prints why not otherwise.
int runServerBench(ServerPaths paths);
