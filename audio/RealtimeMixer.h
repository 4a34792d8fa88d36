#pragma once

#include "AdaptiveResampler.h"
#include "AudioLibrary.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Mixes up to kMaxInputs stereo captures into one stereo output, each capture
// through its own 2 x 2 routing matrix. Knows nothing of any sound server.
//
// Threads:
// - control (the user-interface thread): attachInput, detachInput, setMatrix,
//   matrix, setPaused, statistics;
// - producer, one per input (the capture callback): push;
// - consumer (the playback callback): render.
// push and render never lock, allocate or block. Control changes reach the
// consumer through atomics, take effect at the next rendered block and are
// ramped so that no change clicks.
//
// Each capture reaches the mix through an adaptive resampler that keeps its
// delay (the frames of its ring ahead of the position being read) at
// targetDelayMs whatever the drift between the capture's clock and the
// output's. A new or starved input stays silent until its ring holds the
// target delay, then fades in.
//
// A paused input keeps being drained and resampled, only its gain goes to
// zero: its clock stays locked and resuming brings it back at the target
// delay, with nothing stale in the ring.
//
// Samples are 32-bit floats, interleaved left, right.
class RealtimeMixer {
  public:
    static constexpr int kMaxInputs = 8;
    // The largest sample render gives: every input at full scale, both of its
    // channels into one ear, is half of it. A route that feeds the output
    // back into an input stops here instead of growing to infinity.
    static constexpr float kMaxSample = 4.0f * kMaxInputs;

    struct Config {
        double sampleRate = 7000.0;
        // Delay each input is steered toward; never below what the
        // resampler's filter reaches (AdaptiveResampler::kReachFrames). Rendered at a steady pace,
        // it must cover the largest capture burst plus the largest playback
        // request: 20 ms suits bursts of up to 10 ms each way. A caller that
        // renders no more than readyFrames needs little beyond one capture
        // burst.
        double targetDelayMs = 20.0;
        double rampMs = 5.0; // length of a matrix, pause or play ramp
    };

    // Allocates every input's ring and resampler up front. Throws
    // std::invalid_argument for a rate not above 0 or a negative delay or
    // ramp.
    explicit RealtimeMixer(const Config &config);
    ~RealtimeMixer();
    RealtimeMixer(const RealtimeMixer &) = delete;
    RealtimeMixer &operator=(const RealtimeMixer &) = delete;

    // Control thread. attachInput returns a free input (identity matrix, not
    // paused, empty) or -1 when all are taken; it steers toward the mixer's
    // target delay or toward `targetDelayMs`, for a capture that comes in
    // larger bursts (at most kMaxExtraDelayMs above the mixer's); a capture
    // on the output's own clock is read as it comes (see AdaptiveResampler).
    // An input
    // whose producer still pushes must not be detached: stop the capture
    // first. Unknown or detached inputs are ignored.
    static constexpr double kMaxExtraDelayMs = 500.0;
    int attachInput();
    int attachInput(double targetDelayMs,
                    AdaptiveResampler::Clock clock = AdaptiveResampler::Clock::kOwn);
    void detachInput(int input);
    // Any thread, never locks or allocates: `input` steers toward
    // `targetDelayMs` from its next rendered block when that is above its
    // target (capped as at attachInput), for a capture found to come in
    // larger bursts than it was attached for. It falls silent until its
    // delay has grown, then fades back in.
    void raiseTarget(int input, double targetDelayMs);
    void setMatrix(int input, const RoutingMatrix &matrix);
    RoutingMatrix matrix(int input) const;
    void setPaused(int input, bool paused);

    // Producer of `input`: hands over `frames` captured stereo frames. What
    // does not fit in the ring is dropped and counted in overflowFrames.
    void push(int input, const float *samples, std::size_t frames);

    // Consumer: writes `frames` mixed stereo frames; silence where an input
    // has nothing to give (counted as underrun).
    void render(float *samples, std::size_t frames);

    // Consumer: how many frames render can give now before an input that is
    // playing runs dry (SIZE_MAX when none is playing). Lets the caller hold
    // back part of an output request until late captures have come in.
    std::size_t readyFrames() const;

    // Any thread. Frames of silence played because an audible input ran dry
    // (summed over inputs; a paused or silenced input running dry is not
    // counted).
    std::uint64_t underrunFrames() const;
    // Any thread. Captured frames lost: ring full at push, or cut to bring a
    // delay that grew far past the target (a stalled output) back to it.
    std::uint64_t overflowFrames() const;
    // Any thread. Smoothed delay of `input` in milliseconds, as of the last
    // rendered block; 0 for an unknown input.
    double delayMs(int input) const;

  private:
    struct Input;

    Input *live(int input) const;
    double targetFrames(double targetDelayMs) const;
    void mixInput(Input &input, float *samples, std::size_t frames);

    const Config config_;
    const std::size_t rampFrames_;
    std::array<std::unique_ptr<Input>, kMaxInputs> inputs_;
    std::vector<float> scratch_; // one input's resampled block, consumer only
    // Odd while render runs: tells detachInput when the consumer let go.
    std::atomic<std::uint64_t> renderEpoch_{0};
    std::atomic<std::uint64_t> underrunFrames_{0};
    std::atomic<std::uint64_t> overflowFrames_{0};
};
