#pragma once

#include <cstdint>

// What the private sound server's radios play, and how a recording of the
// headphones tells them apart (see ToneAnalysis.h).
namespace SimulatedRadios {

constexpr double kRadio1Hz = 600;
constexpr double kRadio2Hz = 1000;
constexpr double kRadio3Hz = 1500;
// The rate recordings are analysed at.
constexpr std::uint32_t kAnalysisRate = 8000;
// A routed tone arrives near full scale (the radios play at -6 dB and a row
// of 1, 1 sums both channels); one routed nowhere leaves only what a dropout
// on a loaded machine splashes across the spectrum.
constexpr double kPresentDb = -12.0;
constexpr double kAbsentDb = -40.0;

} // namespace SimulatedRadios
