#include "ClockDriftSimulation.h"

#include "RealtimeMixer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// Frames per period of the quadrature tone: 5 Hz at 7000 Hz, 200 ms, far more
// than any delay the mixer may have, so the phase names the frame unambiguously.
constexpr std::size_t kTonePeriod = 1400;
constexpr float kAmplitude = 0.5f;

} // namespace

DriftOutcome simulateClockDrift(const DriftScenario &scenario)
{
    RealtimeMixer mixer({scenario.sampleRate, scenario.targetDelayMs, 5.0});
    const int input = mixer.attachInput();
    if (input < 0)
        throw std::logic_error("no free mixer input");

    std::vector<float> tone(kTonePeriod * 2);
    for (std::size_t i = 0; i < kTonePeriod; ++i) {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / kTonePeriod;
        tone[2 * i] = kAmplitude * static_cast<float>(std::sin(phase));
        tone[2 * i + 1] = kAmplitude * static_cast<float>(std::cos(phase));
    }

    std::mt19937 random(scenario.seed);
    std::uniform_int_distribution<std::size_t> captureBurst(scenario.captureBurstMin,
                                                            scenario.captureBurstMax);
    std::uniform_int_distribution<std::size_t> playbackBurst(scenario.playbackBurstMin,
                                                             scenario.playbackBurstMax);
    std::vector<float> captured(scenario.captureBurstMax * 2);
    std::vector<float> played(scenario.playbackBurstMax * 2);

    const double outputRate = scenario.sampleRate;
    const double captureRate = scenario.sampleRate * (1.0 + scenario.ppm * 1e-6);
    const auto totalFrames = static_cast<std::uint64_t>(scenario.seconds * outputRate);
    const auto settleFrames = static_cast<std::uint64_t>(scenario.settleSeconds * outputRate);

    std::uint64_t capturedFrames = 0;
    std::uint64_t playedFrames = 0;
    std::size_t nextCapture = captureBurst(random);
    double expectedDelay = scenario.targetDelayMs / 1000.0;
    double delaySum = 0.0;
    std::uint64_t delayCount = 0;
    DriftOutcome outcome;
    outcome.minDelayMs = std::numeric_limits<double>::infinity();
    outcome.maxDelayMs = -std::numeric_limits<double>::infinity();

    while (playedFrames < totalFrames) {
        const double captureDue = static_cast<double>(capturedFrames + nextCapture) / captureRate;
        const double playbackDue = static_cast<double>(playedFrames) / outputRate;
        if (captureDue <= playbackDue) {
            for (std::size_t i = 0; i < nextCapture; ++i) {
                const std::size_t slot = (capturedFrames + i) % kTonePeriod;
                captured[2 * i] = tone[2 * slot];
                captured[2 * i + 1] = tone[2 * slot + 1];
            }
            mixer.push(input, captured.data(), nextCapture);
            capturedFrames += nextCapture;
            nextCapture = captureBurst(random);
            continue;
        }

        const std::size_t frames = playbackBurst(random);
        mixer.render(played.data(), frames);
        const double left = played[0];
        const double right = played[1];
        if (std::hypot(left, right) > 0.5 * kAmplitude) {
            // Which captured frame is playing: its index modulo the tone
            // period from the phase, the whole periods from the last delay.
            double slot = std::atan2(left, right) / (2.0 * std::numbers::pi) * kTonePeriod;
            const double guess = (playbackDue - expectedDelay) * captureRate;
            slot += kTonePeriod * std::round((guess - slot) / kTonePeriod);
            expectedDelay = playbackDue - slot / captureRate;
            if (playedFrames >= settleFrames) {
                const double delayMs = expectedDelay * 1000.0;
                outcome.minDelayMs = std::min(outcome.minDelayMs, delayMs);
                outcome.maxDelayMs = std::max(outcome.maxDelayMs, delayMs);
                delaySum += delayMs;
                ++delayCount;
            }
        }
        playedFrames += frames;
    }

    outcome.meanDelayMs = delayCount ? delaySum / static_cast<double>(delayCount) : 0.0;
    outcome.underrunFrames = mixer.underrunFrames();
    outcome.overflowFrames = mixer.overflowFrames();
    return outcome;
}
