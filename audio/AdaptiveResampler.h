#pragma once

#include "SincInterpolator.h"
#include "SpscRing.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Pulls a stereo capture out of its ring buffer at the output's clock.
//
// The capture and the output run on different crystals, so "7000 Hz" on one is
// a few hundred ppm off "7000 Hz" on the other. The resampler converts at a
// ratio that a PI controller adjusts on every pull, steering the delay (the
// frames in the ring ahead of the position being read) toward a fixed target.
// The position is read through a short interpolating filter (SincInterpolator),
// which reaches kReachFrames beyond it.
// The delay is low-pass filtered first, because captures and playback come in
// bursts that make the instantaneous fill swing by whole bursts.
//
// Until the delay first reaches the target (and again after the ring ran dry)
// pull gives nothing; what lies beyond the target at that moment, never heard,
// is dropped, so that the sound starts at the target delay. A delay far above
// the target (the output stalled while the capture went on) is cut back to
// the target at once rather than slowly played away.
//
// A capture that runs on the output's own clock (the same graph driver of a
// PipeWire server) needs none of this: it is read frame by frame at ratio 1,
// with nothing held for the filter, so its delay can go down to what one
// burst needs. A delay that settles above the target (a cycle that brought
// two bursts) is cut back to it, since nothing would play it away, and one
// that settles below it (a cycle whose capture never came) is made up by
// playing a few frames twice; the target always covers the pull's own frames,
// those of the largest pull within the last kCalmSeconds (holdCycle). Such an
// input that runs dry holds one more of the output's requests from then on
// (up to kMaxLateCycles more), and gives one frame of that back after each
// kCalmSeconds without running dry: a quiet machine keeps the least delay, a
// loaded one the delay it needs.
//
// A capture on its own clock that runs dry three times within kRecurSeconds
// comes in clumps (a server that delivers a large cycle late, several at once):
// it holds as much more as it went without, up to kMaxGapSeconds. After each
// kCalmSeconds without running dry it gives back half of what the captures
// left unused, so that it is back down within a minute of the clumps
// stopping. A single stall, or a longer gap, moves nothing.
//
// Frames are interleaved left, right 32-bit floats; the ring holds samples.
class AdaptiveResampler {
  public:
    enum class Clock {
        kOwn, // the capture's crystal: converted and steered
        // The output's, and pushed in the same callback just before each
        // pull: holds the pull's own frames plus the target, no more.
        kSameCycle,
    };

    struct Pull {
        std::size_t produced = 0;  // frames written to the output
        std::size_t discarded = 0; // frames cut from the ring to resynchronise
    };

    // How far above the target the delay may grow before it is cut back; a
    // ring should hold more than target plus this.
    static constexpr double kResyncSeconds = 0.25;

    // Frames of input the delay has to exceed before the first output: the
    // filter's reach plus one for the ratio changing before the next pull
    // (9 frames, 1.3 ms at 7000 Hz). The least delay any target can give.
    static constexpr double kReachFrames = SincInterpolator::kAfter + 1.0;

    // How far the smoothed delay of a capture on the output's clock may settle
    // above or below the target before it is brought back: more than its
    // frame-by-frame swing, less than any burst.
    static constexpr double kSettledExcessFrames = 3.0;
    static constexpr double kShortWindowSeconds = 0.25;
    static constexpr double kMaxLateCycles = 3.0;
    static constexpr double kCalmSeconds = 10.0;
    static constexpr double kRecurSeconds = 1.0;
    static constexpr double kMaxGapSeconds = 0.1;

    // Allocates (control thread). `targetDelayFrames` in frames of the capture.
    AdaptiveResampler(double sampleRate, double targetDelayFrames);
    AdaptiveResampler(const AdaptiveResampler &) = delete;
    AdaptiveResampler &operator=(const AdaptiveResampler &) = delete;

    // Back to the state after construction, steering toward
    // `targetDelayFrames` now, for a capture on `clock`; only while nobody
    // pulls.
    void reset(double targetDelayFrames, Clock clock = Clock::kOwn);

    // Consumer: steers toward `targetDelayFrames` from now on, never less,
    // when that is above the present target. A capture that is playing falls silent until
    // its delay has grown to it, then fades back in: one gap, where steering
    // the delay up would take seconds of running dry.
    void raiseTarget(double targetDelayFrames);

    // Consumer: writes up to `frames` frames to `out`. Fewer than `frames`
    // while waiting for the target delay, or when the ring ran dry (the rest
    // of `out` is left untouched). Never allocates, locks or blocks.
    Pull pull(SpscRing<float> &ring, float *out, std::size_t frames);

    // Consumer: how many frames the next pull can surely produce from what
    // `ring` holds now (0 while waiting for the target).
    std::size_t readyFrames(const SpscRing<float> &ring) const;

    // Consumer: whether the last pull was playing rather than waiting.
    bool running() const { return running_; }
    // Consumer: smoothed delay in frames as of the last pull.
    double smoothedDelayFrames() const { return smoothedDelay_; }

  private:
    void setTarget(double frames);
    // Same cycle: holds a pull of `frames` and the slack from now on.
    void holdCycle(double frames);
    double delayFrames(const SpscRing<float> &ring) const;
    // Moves the position `frames` ahead without reading, as when frames are
    // cut.
    void skip(SpscRing<float> &ring, double frames);
    // Drops the frames behind the position that the filter no longer
    // reaches; they have been heard.
    void dropPassedFrames(SpscRing<float> &ring);
    void steer(double delay, std::size_t frames);
    // After each pull of `frames`: `played` them all or ran dry, leaving a
    // delay of `delayLeft`.
    void adaptTarget(std::size_t frames, bool played, double delayLeft);
    // How far the target comes down after kCalmSeconds without running dry.
    double calmGiveBack() const;
    // Own clock, once a gap it ran dry in has closed.
    void holdGap();
    std::size_t convert(SpscRing<float> &ring, float *out, std::size_t frames);
    std::size_t copy(SpscRing<float> &ring, float *out, std::size_t frames);
    // The least target delay the clock's reading allows (the filter's reach,
    // or the one frame a copy reads), and the frames kept behind the
    // position for the filter.
    double reach() const;
    std::size_t kept() const;

    const double sampleRate_;
    Clock clock_ = Clock::kOwn;
    double cycleSlack_ = 0.0; // same cycle: what is held beyond the pull's frames
    // Same cycle: the pull held for, and the largest pull in the window of
    // kCalmSeconds now running.
    double heldCycle_ = 0.0;
    double cyclePeak_ = 0.0;
    std::size_t cycleWindowFrames_ = 0;
    double leastTarget_ = 0.0; // what targetDelay_ comes back down to
    double targetDelay_ = 0.0;
    std::size_t calmFrames_ = 0; // played since the target last moved
    double calmLeastLeft_ = 0.0; // the least delay a pull left in that time
    // Own clock: frames pulled since it last ran dry and between the two
    // times before, whether the last three came within kRecurSeconds, and
    // the frames of the gap still open (while gapOpen_).
    std::size_t sinceDryFrames_ = 0;
    std::size_t lastDryIntervalFrames_ = 0;
    bool recurringDry_ = false;
    bool gapOpen_ = false;
    std::size_t gapFrames_ = 0;
    double resyncDelay_ = 0.0;
    std::vector<float> window_; // contiguous copy of the ring for the filter

    bool running_ = false;
    double smoothedDelay_ = 0.0;
    double integral_ = 0.0;
    double ratio_ = 1.0;
    // Where the next output frame is read, in frames from the ring's oldest
    // frame; the frames before it that the filter still reaches stay in the
    // ring.
    double position_ = 0.0;
    // Output's clock: frames at the ring's front still to be played twice,
    // and the largest delay seen in the current window of kShortWindowSeconds.
    std::size_t repeat_ = 0;
    double peakDelay_ = 0.0;
    std::size_t peakFrames_ = 0;
};
