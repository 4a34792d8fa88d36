#include "ToneAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Goertzel over a Hann window at exactly `hz`: the window keeps a loud tone
// 400 Hz away out of the bin, and makes a tone 5 Hz off at 0.25 s measure
// about 10 dB low.
double levelAtDb(const std::vector<float> &stereo, int channel, double hz, std::uint32_t rate)
{
    const std::size_t frames = stereo.size() / 2;
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                   static_cast<double>(frames));
        const double current =
            window * stereo[2 * i + channel] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    // The window halves a tone's sum.
    const double amplitude = 4.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(frames);
    return 20.0 * std::log10(std::max(amplitude, 1e-9));
}

} // namespace

double toneDb(const std::vector<float> &stereo, int channel, double hz, std::uint32_t rate)
{
    // The program bends an input's rate by up to 0.5 % while it plays a
    // delay away, and the tone's pitch with it: that is the same tone.
    constexpr double kBend = 0.006;
    constexpr int kSteps = 6;
    double strongest = levelAtDb(stereo, channel, hz, rate);
    for (int step = 1; step <= kSteps; ++step) {
        const double off = hz * kBend * step / kSteps;
        strongest = std::max({strongest, levelAtDb(stereo, channel, hz - off, rate),
                              levelAtDb(stereo, channel, hz + off, rate)});
    }
    return strongest;
}

double strongestHzNear(const std::vector<float> &stereo, int channel, double hz, std::uint32_t rate)
{
    double strongest = hz;
    double strongestDb = levelAtDb(stereo, channel, hz, rate);
    for (double near = hz - 20; near <= hz + 20; near += 1) {
        const double db = levelAtDb(stereo, channel, near, rate);
        if (db > strongestDb) {
            strongest = near;
            strongestDb = db;
        }
    }
    return strongest;
}

double levelDb(const std::vector<float> &stereo, int channel)
{
    double sum = 0;
    for (std::size_t i = channel; i < stereo.size(); i += 2)
        sum += stereo[i] * stereo[i];
    const double rms = std::sqrt(sum / static_cast<double>(stereo.size() / 2));
    return 20.0 * std::log10(std::max(rms * std::sqrt(2.0), 1e-9));
}

double longestGapSeconds(const std::vector<float> &stereo, int channel, std::uint32_t rate)
{
    // A tone's own samples near zero come one at a time; a gap is a run.
    constexpr float kQuiet = 0.001F; // -60 dB
    std::size_t longest = 0, run = 0;
    for (std::size_t i = channel; i < stereo.size(); i += 2) {
        run = std::abs(stereo[i]) < kQuiet ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return static_cast<double>(longest) / rate;
}
