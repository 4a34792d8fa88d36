#include "SincInterpolator.h"

#include "WindowedSinc.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::size_t kPhases = 256;
// Kaiser's beta: 5 trades the flatness near the band's top against ripple
// further down best for 16 taps.
constexpr double kBeta = 5.0;

using Table = std::array<std::array<float, SincInterpolator::kTaps>, kPhases + 1>;

Table makeTable()
{
    const auto kaiser = [](double x) {
        return std::abs(x) >= 1.0 ? 0.0
                                  : std::cyl_bessel_i(0.0, kBeta * std::sqrt(1.0 - x * x)) /
                                        std::cyl_bessel_i(0.0, kBeta);
    };
    Table table{};
    for (std::size_t phase = 0; phase <= kPhases; ++phase)
        table[phase] = WindowedSinc::taps<SincInterpolator::kTaps>(
            SincInterpolator::kBefore, static_cast<double>(phase) / kPhases, kaiser);
    return table;
}

// Built before main, so that the audio thread never waits for it.
const Table kTable = makeTable();

} // namespace

void SincInterpolator::interpolate(const float *window, double fraction, float *out)
{
    const double scaled = fraction * kPhases;
    const auto phase = std::min(static_cast<std::size_t>(scaled), kPhases - 1);
    const auto weight = static_cast<float>(scaled - static_cast<double>(phase));
    const auto &below = kTable[phase];
    const auto &above = kTable[phase + 1];
    float left = 0.0f;
    float right = 0.0f;
    for (std::size_t tap = 0; tap < kTaps; ++tap) {
        const float coefficient = below[tap] + weight * (above[tap] - below[tap]);
        left += coefficient * window[2 * tap];
        right += coefficient * window[2 * tap + 1];
    }
    out[0] = left;
    out[1] = right;
}
