#include "AdaptiveResampler.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

constexpr std::size_t kChannels = 2;
// Largest piece of input handed to the converter in one call.
constexpr std::size_t kMaxOfferFrames = 512;
// Input the converter may hold beyond the position of its output: a little
// more than the half length of its filter, so that one call usually does.
constexpr double kLookaheadFrames = 64.0;
// Input the converter needs beyond an output's position before it produces
// that output: the half length of its filter (about 20 frames), plus a frame
// for the ratio wandering below 1.
constexpr double kFilterReachFrames = 22.0;
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
    : sampleRate_(sampleRate), targetDelay_(targetDelayFrames),
      resyncDelay_(targetDelayFrames + kResyncSeconds * sampleRate),
      input_(kMaxOfferFrames * kChannels)
{
    int error = 0;
    converter_ = src_new(SRC_SINC_FASTEST, static_cast<int>(kChannels), &error);
    if (!converter_)
        throw std::runtime_error(std::string("cannot create a resampler: ") + src_strerror(error));
}

AdaptiveResampler::~AdaptiveResampler()
{
    src_delete(converter_);
}

void AdaptiveResampler::reset()
{
    src_reset(converter_);
    running_ = false;
    smoothedDelay_ = 0.0;
    integral_ = 0.0;
    ratio_ = 1.0;
    consumed_ = 0.0;
    position_ = 0.0;
}

double AdaptiveResampler::delayFrames(const SpscRing<float> &ring) const
{
    return static_cast<double>(ring.readable() / kChannels) + (consumed_ - position_);
}

std::size_t AdaptiveResampler::readyFrames(const SpscRing<float> &ring) const
{
    if (!running_)
        return 0;
    const double reach = delayFrames(ring) - kFilterReachFrames;
    return reach > 0.0 ? static_cast<std::size_t>(reach * ratio_) : 0;
}

AdaptiveResampler::Pull AdaptiveResampler::pull(SpscRing<float> &ring, float *out,
                                                std::size_t frames)
{
    Pull result;
    double delay = delayFrames(ring);
    if (delay > resyncDelay_) {
        const auto excess =
            std::min(ring.readable() / kChannels, static_cast<std::size_t>(delay - targetDelay_));
        ring.drop(excess * kChannels);
        result.discarded = excess;
        delay -= static_cast<double>(excess);
        smoothedDelay_ = delay;
    }
    if (!running_) {
        if (delay < targetDelay_)
            return result;
        // Start at the target, not up to a burst above it: nothing of this has
        // been heard yet.
        const auto excess =
            std::min(ring.readable() / kChannels, static_cast<std::size_t>(delay - targetDelay_));
        ring.drop(excess * kChannels);
        delay -= static_cast<double>(excess);
        running_ = true;
        smoothedDelay_ = delay;
    }
    steer(delay, frames);
    result.produced = convert(ring, out, frames);
    if (result.produced < frames)
        running_ = false;
    return result;
}

void AdaptiveResampler::steer(double delay, std::size_t frames)
{
    const double seconds = static_cast<double>(frames) / sampleRate_;
    smoothedDelay_ += (delay - smoothedDelay_) * std::min(1.0, seconds / kSmoothingSeconds);
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
    src_set_ratio(converter_, ratio_); // no glide inside the call: the position stays exact
    std::size_t produced = 0;
    while (produced < frames) {
        const auto remaining = frames - produced;
        const double wanted =
            position_ + static_cast<double>(remaining) / ratio_ + kLookaheadFrames - consumed_;
        const std::size_t offer =
            std::min({static_cast<std::size_t>(std::max(0.0, std::ceil(wanted))), kMaxOfferFrames,
                      ring.readable() / kChannels});
        ring.peek(input_.data(), offer * kChannels);

        SRC_DATA data{};
        data.data_in = input_.data();
        data.data_out = out + produced * kChannels;
        data.input_frames = static_cast<long>(offer);
        data.output_frames = static_cast<long>(remaining);
        data.src_ratio = ratio_;
        if (src_process(converter_, &data) != 0)
            break;

        const auto used = static_cast<std::size_t>(data.input_frames_used);
        const auto generated = static_cast<std::size_t>(data.output_frames_gen);
        ring.drop(used * kChannels);
        produced += generated;
        consumed_ += static_cast<double>(used);
        position_ += static_cast<double>(generated) / ratio_;
        const double whole = std::floor(std::min(consumed_, position_));
        consumed_ -= whole;
        position_ -= whole;
        if (used == 0 && generated == 0)
            break;
    }
    return produced;
}
