#pragma once

#include <cstddef>
#include <cstdint>

// One capture played through a RealtimeMixer on two simulated clocks, in one
// thread: the capture hands over bursts as its own crystal fills them, the
// output asks for bursts as its crystal drains them, whichever comes first in
// simulated time runs first.
//
// The capture carries a 5 Hz quadrature tone (sine left, cosine right), so
// every played frame tells, by its phase, which captured frame it came from;
// its end-to-end delay is the playing time minus that frame's capture time.
struct DriftScenario {
    double ppm = 0.0;            // capture clock's offset against the output clock
    double seconds = 60.0;       // simulated output time
    double settleSeconds = 30.0; // delays before this are not judged
    double sampleRate = 7000.0;
    double targetDelayMs = 20.0;
    std::size_t captureBurstMin = 35; // frames per capture hand-over, drawn uniformly
    std::size_t captureBurstMax = 70;
    std::size_t playbackBurstMin = 35; // frames per playback request
    std::size_t playbackBurstMax = 70;
    std::uint32_t seed = 1;
};

struct DriftOutcome {
    // End-to-end delay once settled, in milliseconds.
    double meanDelayMs = 0.0;
    double minDelayMs = 0.0;
    double maxDelayMs = 0.0;
    // Over the whole run.
    std::uint64_t underrunFrames = 0;
    std::uint64_t overflowFrames = 0;
};

DriftOutcome simulateClockDrift(const DriftScenario &scenario);
