#include "RateConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kLow = 7000;
constexpr std::uint32_t kHigh = 48000;

std::vector<float> stereoTone(double hertz, double rate, std::size_t frames)
{
    std::vector<float> samples(2 * frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate));
    return samples;
}

// The `hertz` component of the left channel's second half, as amplitude and
// phase.
std::complex<double> component(const std::vector<float> &samples, double hertz, double rate)
{
    const std::size_t frames = samples.size() / 2;
    std::complex<double> sum;
    for (std::size_t i = frames / 2; i < frames; ++i)
        sum += static_cast<double>(samples[2 * i]) *
               std::polar(1.0, -2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate);
    return 2.0 * sum / static_cast<double>(frames - frames / 2);
}

// Converts `in` down, then up again, in pieces of uneven size as the
// server's cycles and the mixer's requests come.
std::vector<float> roundTrip(const std::vector<float> &in)
{
    RateConverter down(kLow, kHigh), up(kLow, kHigh);
    std::mt19937 random(7);
    std::vector<float> low, out(in.size());
    for (std::size_t done = 0; done < in.size() / 2;) {
        const std::size_t piece = std::min<std::size_t>(1 + random() % 300, in.size() / 2 - done);
        const std::size_t before = low.size();
        low.resize(before + 2 * down.maxLowFrames(piece));
        const std::size_t produced = down.down(in.data() + 2 * done, piece, low.data() + before);
        low.resize(before + 2 * produced);
        done += piece;
    }
    std::size_t read = 0;
    for (std::size_t done = 0; done < out.size() / 2;) {
        const std::size_t piece = std::min<std::size_t>(1 + random() % 300, out.size() / 2 - done);
        const std::size_t needed = up.upInputFrames(piece);
        // The most that `needed` low-rate frames give: exactly, no more.
        const std::size_t given = up.upOutputFrames(needed);
        EXPECT_TRUE(up.upInputFrames(given) <= needed && up.upInputFrames(given + 1) > needed);
        if (2 * (read + needed) > low.size())
            break;
        up.up(low.data() + 2 * read, piece, out.data() + 2 * done);
        read += needed;
        done += piece;
    }
    EXPECT_NEAR(static_cast<double>(low.size() / 2),
                static_cast<double>(in.size() / 2) * kLow / kHigh, 1.0);
    EXPECT_NEAR(static_cast<double>(read), static_cast<double>(low.size() / 2), 2.0);
    return out;
}

} // namespace

// Down to the mix's rate and up again: a tone in the band keeps its level
// and comes back about a millisecond late; one above the band does not fold
// into it (6 kHz would be heard at 1 kHz).
TEST(RateConverter, KeepsTheBandWithLittleDelayAndFoldsNothingIntoIt)
{
    constexpr std::size_t kFrames = kHigh;
    for (const double hertz : {300.0, 1000.0, 2400.0}) {
        const auto played = stereoTone(hertz, kHigh, kFrames);
        const auto heard = component(roundTrip(played), hertz, kHigh);
        EXPECT_NEAR(std::abs(heard), 0.5, 0.5 * 0.12) << hertz; // within 1 dB
        // Read at the lowest tone, whose period is longer than any delay.
        if (hertz == 300.0) {
            const auto turn = heard / component(played, hertz, kHigh);
            const double delayMs = -std::arg(turn) / (2.0 * std::numbers::pi * hertz) * 1000.0;
            EXPECT_GT(delayMs, 0.0);
            EXPECT_LT(delayMs, 1.2);
        }
    }

    RateConverter down(kLow, kHigh);
    const auto high = stereoTone(6000.0, kHigh, kFrames);
    std::vector<float> low(2 * down.maxLowFrames(kFrames));
    low.resize(2 * down.down(high.data(), kFrames, low.data()));
    EXPECT_LT(std::abs(component(low, 1000.0, kLow)), 0.5 * 0.01); // 40 dB down
}
