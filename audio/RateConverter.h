#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Converts stereo frames at a fixed ratio between a low rate (the mix's) and
// a high one (the sound server's graph), one way per instance: `down` for a
// capture, `up` for a playback.
//
// Built for delay rather than finesse. Down: an 8th-order Butterworth
// low-pass just below the low rate's half, then linear interpolation, both at
// the high rate. Up: a 6-tap Lanczos interpolator, then the same low-pass.
// Down and up again delay by about 1 ms at 7000 Hz, where the server's own
// converters take 2.3 ms at their fastest setting that keeps speech; the
// band is flat within 0.7 dB up to 2.4 kHz, and what is let through above
// it is far below what a radio's audio carries there.
//
// Frames are interleaved left, right 32-bit floats. Never allocates, locks
// or blocks after construction.
class RateConverter {
  public:
    // Allocates. Throws std::invalid_argument unless 0 < lowRate < highRate.
    RateConverter(std::uint32_t lowRate, std::uint32_t highRate);

    // Back to silence, as constructed.
    void reset();

    // The most low-rate frames that `frames` high-rate ones give or take.
    std::size_t maxLowFrames(std::size_t frames) const;

    // High to low: takes `frames` frames from `in`, writes what they give to
    // `out` (at most maxLowFrames(frames)) and returns how many.
    std::size_t down(const float *in, std::size_t frames, float *out);

    // Low to high: how many low-rate frames the next `frames` high-rate ones
    // take, and the conversion itself, reading that many from `in`.
    std::size_t upInputFrames(std::size_t frames) const;
    // The most high-rate frames that the next `frames` low-rate ones give.
    std::size_t upOutputFrames(std::size_t frames) const;
    void up(const float *in, std::size_t frames, float *out);

  private:
    static constexpr std::size_t kSections = 4;
    static constexpr std::size_t kTaps = 6; // up: kTaps / 2 frames each side
    // Left and right side by side: written as element-wise loops over a
    // pair, the two channels are computed together in one vector register.
    using Stereo = std::array<double, 2>;
    struct Section {
        double b0, b1, b2, a1, a2;
        alignas(16) Stereo z1, z2;
    };
    // Frames filtered at once, with the filter's state held in registers.
    static constexpr std::size_t kBlockFrames = 64;
    // Low-passes `count` frames, at most kBlockFrames, in place.
    void filter(Stereo *frames, std::size_t count);

    std::uint32_t low_; // the two rates over their greatest common divisor
    std::uint32_t high_;
    std::array<Section, kSections> sections_{};
    // Where the next output frame falls: down, past the last input frame, in
    // 1/low_ of an input frame, in (0, low_] when one falls before the next
    // input; up, past the frame history_[kTaps / 2 - 1], in 1/high_ of one,
    // in [0, high_).
    std::uint32_t phase_ = 0;
    Stereo previous_{};                                 // down: the last input, filtered
    std::array<std::array<float, 2>, kTaps> history_{}; // up: the frames around the position
    std::vector<float> taps_;                           // up: kTaps per phase, phase after phase
};
