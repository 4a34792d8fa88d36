#include "HeadphonesListening.h"

#include "ServerProbe.h"

#include <gtest/gtest.h>

#include <chrono>

std::vector<float> listenUntil(ServerProbe &probe,
                               const std::function<bool(const std::vector<float> &)> &heard)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<float> recording;
    do {
        recording = probe.record("headphones.monitor", 0.25, SimulatedRadios::kAnalysisRate);
    } while (!heard(recording) && std::chrono::steady_clock::now() < deadline);
    return recording;
}

void expectHeard(ServerProbe &probe, SimulatedRadios::Ears expected)
{
    const auto heard = listenUntil(probe, [&](const std::vector<float> &heard) {
        return SimulatedRadios::mismatch(heard, expected).empty();
    });
    EXPECT_EQ(SimulatedRadios::mismatch(heard, expected), "")
        << "the headphones play something else";
}
