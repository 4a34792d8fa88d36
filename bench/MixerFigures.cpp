#include "MixerFigures.h"

#include "ClockDriftSimulation.h"
#include "RealtimeMixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <numbers>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The delay's largest departure, in ms, from where it sits without drift.
double worstDeparture(const DriftOutcome &outcome, double referenceMs)
{
    return std::max(outcome.maxDelayMs - referenceMs, referenceMs - outcome.minDelayMs);
}

void printDriftFigures()
{
    const auto start = Clock::now();
    DriftScenario reference;
    reference.seconds = 600.0;
    const double referenceMs = simulateClockDrift(reference).meanDelayMs;

    // Judged from the first sound on, start-up included.
    DriftScenario contest;
    contest.seconds = 48.0 * 3600.0;
    contest.settleSeconds = 0.0;
    contest.ppm = 300.0;
    auto fast = std::async(std::launch::async, simulateClockDrift, contest);
    contest.ppm = -300.0;
    const DriftOutcome slow = simulateClockDrift(contest);
    const DriftOutcome quick = fast.get();

    const double fastMs = worstDeparture(quick, referenceMs);
    const double slowMs = worstDeparture(slow, referenceMs);
    std::printf("drift_hours=48\n");
    std::printf("drift_delay_ms=%.3f\n", referenceMs);
    std::printf("drift_max_ms=%.3f\n", std::max(fastMs, slowMs));
    std::printf("drift_max_ms_fast_300ppm=%.3f\n", fastMs);
    std::printf("drift_max_ms_slow_300ppm=%.3f\n", slowMs);
    std::printf("drift_dropped_samples=%llu\n",
                static_cast<unsigned long long>(quick.underrunFrames + quick.overflowFrames +
                                                slow.underrunFrames + slow.overflowFrames));
    std::printf("drift_simulation_seconds=%.1f\n", secondsSince(start));
}

// Two stereo captures at 7000 Hz on route Rig1+2, in 10 ms blocks.
void printMixingFigures()
{
    constexpr double kRate = 7000.0;
    constexpr std::size_t kBlock = 70;
    constexpr std::size_t kBlocks = 200000; // 2000 s of audio
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    const int radio1 = mixer.attachInput();
    const int radio2 = mixer.attachInput();
    mixer.setMatrix(radio1, {1, 1, 0, 0});
    mixer.setMatrix(radio2, {0, 0, 1, 1});

    std::vector<float> captured(kBlock * 2);
    for (std::size_t i = 0; i < kBlock; ++i)
        captured[2 * i] = captured[2 * i + 1] =
            0.25f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 600.0 * i / kRate));
    std::vector<float> played(kBlock * 2);

    const auto start = Clock::now();
    for (std::size_t block = 0; block < kBlocks; ++block) {
        mixer.push(radio1, captured.data(), kBlock);
        mixer.push(radio2, captured.data(), kBlock);
        mixer.render(played.data(), kBlock);
    }
    const double seconds = secondsSince(start);
    const double audioSeconds = static_cast<double>(kBlocks * kBlock) / kRate;
    std::printf("mix_block_frames=%zu\n", kBlock);
    std::printf("mix_realtime_factor=%.0f\n", audioSeconds / seconds);
    std::printf("mix_ns_per_block=%.0f\n", seconds * 1e9 / static_cast<double>(kBlocks));
    std::printf("mix_underrun_frames=%llu\n",
                static_cast<unsigned long long>(mixer.underrunFrames()));
    std::fflush(stdout); // the drift figures take minutes
}

} // namespace

void printMixerFigures()
{
    printMixingFigures();
    printDriftFigures();
}
