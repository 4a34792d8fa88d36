#include "AdaptiveResampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::size_t kChannels = 2;
// Largest piece of the ring copied out for the filter at once.
constexpr std::size_t kWindowFrames = 512;
// Low-pass of the delay: bursts of 5 to 10 ms shrink to a fraction of a frame.
constexpr double kSmoothingSeconds = 1.0;
// The delay loop: critically damped at this angular frequency (rad/s), fast
// enough to catch a 300 ppm offset within a few frames, slow enough to keep
// the ratio's jitter far below anything audible.
constexpr double kLoopRadPerSecond = 0.2;
// Largest speed change, 0.5 %: 30 times the worst crystal, a few cents of pitch.
constexpr double kMaxAdjust = 0.005;

} // namespace

AdaptiveResampler::AdaptiveResampler(double sampleRate, double targetDelayFrames)
    : sampleRate_(sampleRate), window_(kWindowFrames * kChannels)
{
    reset(targetDelayFrames);
}

void AdaptiveResampler::reset(double targetDelayFrames, Clock clock)
{
    clock_ = clock;
    cycleSlack_ = clock == Clock::kSameCycle ? targetDelayFrames : 0.0;
    leastTarget_ = std::max(targetDelayFrames, reach());
    setTarget(leastTarget_);
    calmFrames_ = 0;
    calmLeastLeft_ = std::numeric_limits<double>::max();
    heldCycle_ = 0.0;
    cyclePeak_ = 0.0;
    cycleWindowFrames_ = 0;
    sinceDryFrames_ = std::numeric_limits<std::size_t>::max() / 4;
    lastDryIntervalFrames_ = sinceDryFrames_;
    recurringDry_ = false;
    gapOpen_ = false;
    gapFrames_ = 0;
    running_ = false;
    repeat_ = 0;
    peakDelay_ = 0.0;
    peakFrames_ = 0;
    smoothedDelay_ = 0.0;
    integral_ = 0.0;
    ratio_ = 1.0;
    // The filter starts on the ring's first frames.
    position_ = static_cast<double>(kept());
}

void AdaptiveResampler::raiseTarget(double targetDelayFrames)
{
    if (targetDelayFrames <= leastTarget_)
        return;
    leastTarget_ = targetDelayFrames;
    if (targetDelayFrames <= targetDelay_)
        return;
    setTarget(targetDelayFrames);
    running_ = false;
}

void AdaptiveResampler::holdCycle(double frames)
{
    // A cycle that plays a frame more than the last is not a late capture:
    // the input plays on, with that frame in hand from now on.
    if (frames > heldCycle_) {
        leastTarget_ += frames - heldCycle_;
        heldCycle_ = frames;
        if (targetDelay_ < leastTarget_)
            setTarget(leastTarget_);
    }
    // Once the graph's cycles have been shorter for a while (the node that
    // asked for a larger quantum has gone), what they no longer need is
    // given back, or the radio would stay that much late until power-off.
    cyclePeak_ = std::max(cyclePeak_, frames);
    cycleWindowFrames_ += static_cast<std::size_t>(frames);
    if (cycleWindowFrames_ >= static_cast<std::size_t>(kCalmSeconds * sampleRate_)) {
        const double unneeded = heldCycle_ - cyclePeak_;
        leastTarget_ -= unneeded;
        heldCycle_ = cyclePeak_;
        setTarget(std::max(leastTarget_, targetDelay_ - unneeded));
        cyclePeak_ = 0.0;
        cycleWindowFrames_ = 0;
    }
}

void AdaptiveResampler::setTarget(double frames)
{
    targetDelay_ = frames;
    resyncDelay_ = targetDelay_ + kResyncSeconds * sampleRate_;
}

double AdaptiveResampler::reach() const
{
    // A copy at ratio 1 needs the frame it reads, and at least one.
    return clock_ == Clock::kOwn ? kReachFrames : 1.0;
}

std::size_t AdaptiveResampler::kept() const
{
    return clock_ == Clock::kOwn ? SincInterpolator::kBefore : 0;
}

double AdaptiveResampler::delayFrames(const SpscRing<float> &ring) const
{
    return static_cast<double>(ring.readable() / kChannels) - position_;
}

std::size_t AdaptiveResampler::readyFrames(const SpscRing<float> &ring) const
{
    if (!running_)
        return 0;
    const double ahead = delayFrames(ring) - (clock_ == Clock::kOwn ? kReachFrames : 0.0);
    return ahead > 0.0 ? static_cast<std::size_t>(ahead * ratio_) : 0;
}

void AdaptiveResampler::skip(SpscRing<float> &ring, double frames)
{
    position_ += frames;
    dropPassedFrames(ring);
}

void AdaptiveResampler::dropPassedFrames(SpscRing<float> &ring)
{
    const double behind = std::floor(position_) - static_cast<double>(kept());
    const auto unreached =
        std::min(static_cast<std::size_t>(std::max(0.0, behind)), ring.readable() / kChannels);
    ring.drop(unreached * kChannels);
    position_ -= static_cast<double>(unreached);
}

AdaptiveResampler::Pull AdaptiveResampler::pull(SpscRing<float> &ring, float *out,
                                                std::size_t frames)
{
    Pull result;
    if (clock_ == Clock::kSameCycle)
        holdCycle(static_cast<double>(frames));
    double delay = delayFrames(ring);
    const bool settledHigh =
        clock_ != Clock::kOwn && running_ && smoothedDelay_ > targetDelay_ + kSettledExcessFrames;
    if (delay > resyncDelay_ || (settledHigh && delay > targetDelay_)) {
        const double excess = std::floor(delay - targetDelay_);
        skip(ring, excess);
        result.discarded = static_cast<std::size_t>(excess);
        delay -= excess;
        smoothedDelay_ = delay;
    }
    // A cycle whose capture never came (the graph ran late and caught up)
    // leaves the delay a burst short for good: play the next frames twice
    // and have it back, or the next late capture finds the input dry. Short
    // for a whole window, not just in a late capture's wait.
    if (clock_ != Clock::kOwn && running_) {
        peakDelay_ = std::max(peakDelay_, delay);
        peakFrames_ += frames;
        if (peakFrames_ >= static_cast<std::size_t>(kShortWindowSeconds * sampleRate_)) {
            if (repeat_ == 0 && peakDelay_ < targetDelay_ - kSettledExcessFrames)
                repeat_ =
                    std::min(frames, static_cast<std::size_t>(std::ceil(targetDelay_ - delay)));
            peakDelay_ = 0.0;
            peakFrames_ = 0;
        }
    }
    sinceDryFrames_ += frames;
    if (!running_) {
        repeat_ = 0;
        peakDelay_ = 0.0;
        peakFrames_ = 0;
        if (gapOpen_ && delay >= reach())
            holdGap();
        else if (gapOpen_)
            gapFrames_ += frames;
        if (delay < targetDelay_)
            return result;
        // Start at the target, not up to a burst above it: nothing of this has
        // been heard yet.
        const double excess = std::floor(delay - targetDelay_);
        skip(ring, excess);
        delay -= excess;
        running_ = true;
        smoothedDelay_ = delay;
    }
    steer(delay, frames);
    result.produced = clock_ == Clock::kOwn ? convert(ring, out, frames) : copy(ring, out, frames);
    if (result.produced < frames) {
        running_ = false;
        if (clock_ == Clock::kOwn) {
            recurringDry_ = sinceDryFrames_ + lastDryIntervalFrames_ <
                            static_cast<std::size_t>(kRecurSeconds * sampleRate_);
            lastDryIntervalFrames_ = sinceDryFrames_;
            sinceDryFrames_ = 0;
            gapOpen_ = true;
            gapFrames_ = frames - result.produced;
        }
    }
    adaptTarget(frames, running_, delayFrames(ring));
    return result;
}

void AdaptiveResampler::holdGap()
{
    // A longer gap is a device that went away, not a clump: holding it would
    // leave the radio late for hours.
    const double gap = static_cast<double>(gapFrames_);
    if (recurringDry_ && gap <= kMaxGapSeconds * sampleRate_)
        setTarget(std::min(targetDelay_ + gap, leastTarget_ + kMaxGapSeconds * sampleRate_));
    gapOpen_ = false;
}

void AdaptiveResampler::adaptTarget(std::size_t frames, bool played, double delayLeft)
{
    const auto request = static_cast<double>(frames);
    if (!played) {
        // A capture came later than the margin allowed for: this machine
        // needs another cycle in hand.
        if (clock_ != Clock::kOwn)
            setTarget(std::min(targetDelay_ + request, leastTarget_ + kMaxLateCycles * request));
        calmFrames_ = 0;
        calmLeastLeft_ = std::numeric_limits<double>::max();
    } else if (targetDelay_ > leastTarget_) {
        calmLeastLeft_ = std::min(calmLeastLeft_, delayLeft);
        if ((calmFrames_ += frames) >= static_cast<std::size_t>(kCalmSeconds * sampleRate_)) {
            setTarget(std::max(leastTarget_, targetDelay_ - calmGiveBack()));
            calmFrames_ = 0;
            calmLeastLeft_ = std::numeric_limits<double>::max();
        }
    }
}

double AdaptiveResampler::calmGiveBack() const
{
    // A late cycle may come again any minute: it goes back a frame at a
    // time. A held gap of up to kMaxGapSeconds would take hours that way
    // once the clumps have stopped; half of what the captures left unused
    // goes back at once, so the delay follows them down within a minute
    // and a server still in clumps keeps what it uses.
    if (clock_ != Clock::kOwn)
        return 1.0;
    const double unused = std::min(calmLeastLeft_, targetDelay_) - reach();
    return std::max(1.0, std::floor(unused / 2.0));
}

void AdaptiveResampler::steer(double delay, std::size_t frames)
{
    const double seconds = static_cast<double>(frames) / sampleRate_;
    smoothedDelay_ += (delay - smoothedDelay_) * std::min(1.0, seconds / kSmoothingSeconds);
    if (clock_ != Clock::kOwn)
        return;
    const double error = smoothedDelay_ - targetDelay_;
    // Gains per frame of error: the delay moves by sampleRate * (offset - adjust)
    // frames per second, which these place a double pole at -kLoopRadPerSecond.
    const double proportional = 2.0 * kLoopRadPerSecond / sampleRate_;
    const double integralGain = kLoopRadPerSecond * kLoopRadPerSecond / sampleRate_;
    const double integralLimit = kMaxAdjust / integralGain;
    integral_ = std::clamp(integral_ + error * seconds, -integralLimit, integralLimit);
    const double adjust =
        std::clamp(proportional * error + integralGain * integral_, -kMaxAdjust, kMaxAdjust);
    ratio_ = 1.0 / (1.0 + adjust);
}

std::size_t AdaptiveResampler::convert(SpscRing<float> &ring, float *out, std::size_t frames)
{
    const double step = 1.0 / ratio_;
    std::size_t produced = 0;
    while (produced < frames) {
        const std::size_t copied = ring.peek(window_.data(), window_.size()) / kChannels;
        const std::size_t before = produced;
        for (; produced < frames; ++produced) {
            const double whole = std::floor(position_);
            const auto first = static_cast<std::size_t>(whole) - SincInterpolator::kBefore;
            if (first + SincInterpolator::kTaps > copied)
                break;
            SincInterpolator::interpolate(window_.data() + first * kChannels, position_ - whole,
                                          out + produced * kChannels);
            position_ += step;
        }
        dropPassedFrames(ring);
        if (produced == before)
            break;
    }
    return produced;
}

std::size_t AdaptiveResampler::copy(SpscRing<float> &ring, float *out, std::size_t frames)
{
    // Frames to be played twice go out first and stay in the ring.
    const std::size_t repeated = ring.peek(out, std::min(repeat_, frames) * kChannels) / kChannels;
    repeat_ -= repeated;
    const std::size_t copied =
        ring.peek(out + repeated * kChannels, (frames - repeated) * kChannels) / kChannels;
    ring.drop(copied * kChannels);
    return repeated + copied;
}
