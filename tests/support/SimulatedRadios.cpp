#include "SimulatedRadios.h"

#include "ToneAnalysis.h"

#include <sstream>

namespace SimulatedRadios {

std::string mismatch(const std::vector<float> &heard, Ears expected)
{
    if (heard.empty())
        return "no recording";
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
