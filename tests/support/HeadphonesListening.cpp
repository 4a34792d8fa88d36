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

std::string radiosAtTheirMonitors(ServerProbe &probe)
{
    std::ostringstream sources;
    for (const auto &[radio, hz] : {std::pair{1, SimulatedRadios::kRadio1Hz},
                                    {2, SimulatedRadios::kRadio2Hz},
                                    {3, SimulatedRadios::kRadio3Hz}}) {
        const auto played = probe.record("radio" + std::to_string(radio) + ".monitor", 0.25,
                                         SimulatedRadios::kAnalysisRate);
        if (played.empty()) {
            sources << "radio " << radio << ": " << probe.recordFailure() << "; ";
            continue;
        }
        // Both channels: a player linked to one of them halves what a row
        // of 1, 1 sums.
        sources << "radio " << radio << ": "
                << toneDb(played, 0, hz, SimulatedRadios::kAnalysisRate) << " and "
                << toneDb(played, 1, hz, SimulatedRadios::kAnalysisRate) << " dB, strongest at "
                << strongestHzNear(played, 0, hz, SimulatedRadios::kAnalysisRate)
                << " Hz, longest gap "
                << longestGapSeconds(played, 0, SimulatedRadios::kAnalysisRate) * 1000 << " ms; ";
    }
    return sources.str();
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
    ADD_FAILURE_AT(callerFile, callerLine)
        << "the headphones play something else: " << mismatch
        << (heard.empty() ? " (" + probe.recordFailure() + ")" : std::string())
        << "\nat their monitors, " << radiosAtTheirMonitors(probe);
}
