#include "SincInterpolator.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr double kRate = 7000.0;
constexpr std::size_t kTaps = SincInterpolator::kTaps;

// The filter's window around frame `whole` of a signal, left and right.
template <typename Left, typename Right>
std::array<float, 2 * kTaps> windowAt(long whole, Left left, Right right)
{
    std::array<float, 2 * kTaps> window{};
    for (std::size_t tap = 0; tap < kTaps; ++tap) {
        const long frame =
            whole - static_cast<long>(SincInterpolator::kBefore) + static_cast<long>(tap);
        window[2 * tap] = static_cast<float>(left(frame));
        window[2 * tap + 1] = static_cast<float>(right(frame));
    }
    return window;
}

} // namespace

// Reading on a frame gives that frame, in each channel apart; a steady level
// stays exactly steady between frames, or a drifting clock would make it
// flutter.
TEST(SincInterpolator, HitsTheFramesAndHoldsASteadyLevel)
{
    auto left = [](long frame) { return 0.01 * static_cast<double>(frame % 7) - 0.3; };
    auto right = [](long frame) { return frame == 40 ? 1.0 : 0.0; };
    const auto window = windowAt(40, left, right);
    std::array<float, 2> out{};
    SincInterpolator::interpolate(window.data(), 0.0, out.data());
    EXPECT_FLOAT_EQ(out[0], static_cast<float>(left(40)));
    EXPECT_NEAR(out[1], 1.0f, 1e-6f);

    auto steady = [](long) { return 0.5; };
    auto silent = [](long) { return 0.0; };
    for (double fraction = 0.0; fraction < 1.0; fraction += 1.0 / 97) {
        const auto level = windowAt(3, steady, silent);
        SincInterpolator::interpolate(level.data(), fraction, out.data());
        EXPECT_NEAR(out[0], 0.5f, 1e-6f) << "at " << fraction;
        EXPECT_EQ(out[1], 0.0f);
    }
}

// Tones across the radio band, read at fractions all over a frame, come out
// at the level and the time they have there.
TEST(SincInterpolator, ReadsTonesBetweenFramesAtTheirLevelAndTime)
{
    for (double hertz : {300.0, 600.0, 1000.0, 2000.0, 2800.0}) {
        const double step = 2.0 * std::numbers::pi * hertz / kRate;
        auto sine = [step](double at) { return 0.8 * std::sin(step * at); };
        auto cosine = [step](double at) { return 0.8 * std::cos(step * at); };
        double worstLevel = 0.0;
        double worstError = 0.0;
        for (long whole = 100; whole < 140; ++whole) {
            for (double fraction = 0.0; fraction < 1.0; fraction += 1.0 / 13) {
                const auto window = windowAt(
                    whole, [&](long frame) { return sine(static_cast<double>(frame)); },
                    [&](long frame) { return cosine(static_cast<double>(frame)); });
                std::array<float, 2> out{};
                SincInterpolator::interpolate(window.data(), fraction, out.data());
                const double at = static_cast<double>(whole) + fraction;
                // Left and right are a quadrature pair: their length is the
                // level, the error against the true pair covers the timing.
                const double level = std::hypot(out[0], out[1]) / 0.8;
                worstLevel = std::max(worstLevel, std::abs(20.0 * std::log10(level)));
                worstError =
                    std::max(worstError, std::hypot(out[0] - sine(at), out[1] - cosine(at)));
            }
        }
        EXPECT_LT(worstLevel, 0.05) << hertz << " Hz, dB";
        // Half a percent of the tone: a tenth of a frame late would be 25 %
        // at 2800 Hz.
        EXPECT_LT(worstError, 0.005) << hertz << " Hz";
    }
}
