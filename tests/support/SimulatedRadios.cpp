#include "SimulatedRadios.h"

#include "ToneAnalysis.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace SimulatedRadios {

std::string mismatch(const std::vector<float> &heard, Ears expected)
{
    if (heard.empty())
        return "no recording";
    // A level of NaN passes every comparison: a route that feeds the
    // headphones back into themselves grows to infinity.
    if (!std::ranges::all_of(heard, [](float sample) { return std::isfinite(sample); }))
        return "samples that are not finite";
    std::ostringstream report;
    const double expectedHz[] = {expected.left, expected.right};
    for (int ear = 0; ear < 2; ++ear) {
        if (expectedHz[ear] == kSilence) {
            if (levelDb(heard, ear) >= kSilentDb)
                report << "ear " << ear << " not silent: " << levelDb(heard, ear) << " dB; ";
            continue;
        }
        for (double hz : {kRadio1Hz, kRadio2Hz, kRadio3Hz}) {
            const double db = toneDb(heard, ear, hz, kAnalysisRate);
            const bool wanted = hz == expectedHz[ear];
            if (wanted ? db <= kPresentDb : db >= kAbsentDb)
                report << hz << " Hz in ear " << ear << " at " << db << " dB; ";
        }
    }
    return report.str();
}

} // namespace SimulatedRadios
