#include "SincInterpolator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr std::size_t kPhases = 256;
// Kaiser's beta: 5 trades the flatness near the band's top against ripple
// further down best for 16 taps.
constexpr double kBeta = 5.0;

using Table = std::array<std::array<float, SincInterpolator::kTaps>, kPhases + 1>;

Table makeTable()
{
    Table table{};
    const double halfWidth = SincInterpolator::kTaps / 2.0;
    for (std::size_t phase = 0; phase <= kPhases; ++phase) {
        const double fraction = static_cast<double>(phase) / kPhases;
        double sum = 0.0;
        std::array<double, SincInterpolator::kTaps> taps{};
        for (std::size_t tap = 0; tap < SincInterpolator::kTaps; ++tap) {
            const double distance = static_cast<double>(tap) -
                                    static_cast<double>(SincInterpolator::kBefore) - fraction;
            const double x = distance / halfWidth;
            const double window = std::abs(x) >= 1.0
                                      ? 0.0
                                      : std::cyl_bessel_i(0.0, kBeta * std::sqrt(1.0 - x * x)) /
                                            std::cyl_bessel_i(0.0, kBeta);
            const double sinc = distance == 0.0 ? 1.0
                                                : std::sin(std::numbers::pi * distance) /
                                                      (std::numbers::pi * distance);
            taps[tap] = sinc * window;
            sum += taps[tap];
        }
        // Unity gain at every fraction, or a steady level would flutter.
        for (std::size_t tap = 0; tap < SincInterpolator::kTaps; ++tap)
            table[phase][tap] = static_cast<float>(taps[tap] / sum);
    }
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
