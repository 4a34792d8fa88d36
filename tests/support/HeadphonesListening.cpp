#include "HeadphonesListening.h"

#include "ServerProbe.h"
#include "ToneAnalysis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <utility>

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

void expectHeard(ServerProbe &probe, SimulatedRadios::Ears expected, const char *callerFile,
                 int callerLine)
{
    const auto heard = listenUntil(probe, [&](const std::vector<float> &heard) {
        return SimulatedRadios::mismatch(heard, expected).empty();
    });
    const std::string mismatch = SimulatedRadios::mismatch(heard, expected);
    if (mismatch.empty())
        return;
    // What each radio plays at its own monitor tells a fault of the server
    // from one of the program.
    std::ostringstream sources;
    for (const auto &[radio, hz] : {std::pair{1, SimulatedRadios::kRadio1Hz},
                                    {2, SimulatedRadios::kRadio2Hz},
                                    {3, SimulatedRadios::kRadio3Hz}}) {
        const auto played = probe.record("radio" + std::to_string(radio) + ".monitor", 0.25,
                                         SimulatedRadios::kAnalysisRate);
        sources << "radio " << radio << ": "
                << toneDb(played, 0, hz, SimulatedRadios::kAnalysisRate) << " dB, longest gap "
                << longestGapSeconds(played, 0, SimulatedRadios::kAnalysisRate) * 1000 << " ms; ";
    }
    ADD_FAILURE_AT(callerFile, callerLine) << "the headphones play something else: " << mismatch
                                           << "\nat their monitors, " << sources.str();
}
