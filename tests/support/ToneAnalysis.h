#pragma once

#include <cstdint>
#include <vector>

// What a recording of the headphones holds, for the tests and the benchmark
// that listen to the program from outside. `stereo` is interleaved float;
// `channel` 0 is the left ear, 1 the right.

// Level of `hz` in one channel, in dB relative to a full-scale sine, taken
// where the tone is strongest within 0.6 % of `hz`, the most the program
// bends a rate (Goertzel over a Hann window, so that a loud tone 400 Hz away
// does not leak into the bin).
double toneDb(const std::vector<float> &stereo, int channel, double hz, std::uint32_t rate);

// The frequency within 20 Hz of `hz` (in 1 Hz steps) whose level is highest
// in one channel: a tone played a few Hz off measures several dB low at its
// own frequency.
double strongestHzNear(const std::vector<float> &stereo, int channel, double hz,
                       std::uint32_t rate);

// Overall level of one channel, in dB relative to a full-scale sine.
double levelDb(const std::vector<float> &stereo, int channel);

// The longest stretch in which one channel stays below -60 dB, in seconds.
double longestGapSeconds(const std::vector<float> &stereo, int channel, std::uint32_t rate);
