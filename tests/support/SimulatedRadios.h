#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// An ear that hears no radio at all.
constexpr double kSilence = 0;
constexpr double kSilentDb = -60.0;

// The radio each ear should hear, by its tone, or kSilence.
struct Ears {
    double left;
    double right;
};

// Empty when the recording `heard` holds just the expected radio (or
// silence) in each ear; otherwise what it holds instead.
std::string mismatch(const std::vector<float> &heard, Ears expected);

} // namespace SimulatedRadios
