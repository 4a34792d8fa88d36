#include "RateConverter.h"

#include "WindowedSinc.h"

#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace {

// The band edge, as a share of the low rate: 3220 Hz at 7000 Hz, down 0.1 dB
// at 2.5 kHz.
constexpr double kCutoff = 0.46;
// Filter state below this is zeroed, so that silence never decays into
// denormals, which cost a hundred times more to compute.
constexpr double kTiny = 1e-30;

} // namespace

RateConverter::RateConverter(std::uint32_t lowRate, std::uint32_t highRate)
{
    if (lowRate == 0 || lowRate >= highRate)
        throw std::invalid_argument("rate converter: rates must be 0 < low < high");
    const std::uint32_t divisor = std::gcd(lowRate, highRate);
    low_ = lowRate / divisor;
    high_ = highRate / divisor;
    // The Butterworth poles in pairs, each pair one section of the
    // bilinear-transformed low-pass.
    const double w0 = 2.0 * std::numbers::pi * kCutoff * lowRate / highRate;
    for (std::size_t k = 0; k < kSections; ++k) {
        const double q = 1.0 / (2.0 * std::cos((2.0 * k + 1.0) * std::numbers::pi /
                                               (4.0 * static_cast<double>(kSections))));
        const double alpha = std::sin(w0) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        Section &section = sections_[k];
        section.b1 = (1.0 - std::cos(w0)) / a0;
        section.b0 = section.b2 = section.b1 / 2.0;
        section.a1 = -2.0 * std::cos(w0) / a0;
        section.a2 = (1.0 - alpha) / a0;
    }
    // The phases up ever reads at: the ratio is rational, so a few repeat.
    taps_.resize(high_);
    for (std::uint32_t phase = 0; phase < high_; ++phase)
        taps_[phase] = WindowedSinc::taps<kTaps>(kTaps / 2 - 1, static_cast<double>(phase) / high_,
                                                 WindowedSinc::sinc);
    reset();
}

void RateConverter::reset()
{
    for (Section &section : sections_)
        section.z1 = section.z2 = {0.0, 0.0};
    previous_ = {0.0f, 0.0f};
    history_ = {};
    // Down: the first output falls on the first input; up starts just past
    // the silence before its first.
    phase_ = low_;
}

void RateConverter::filter(float *frame)
{
    for (std::size_t channel = 0; channel < 2; ++channel) {
        double value = frame[channel];
        for (Section &section : sections_) {
            // Transposed direct form II.
            const double out = section.b0 * value + section.z1[channel];
            section.z1[channel] = section.b1 * value - section.a1 * out + section.z2[channel];
            section.z2[channel] = section.b2 * value - section.a2 * out;
            if (std::abs(section.z1[channel]) < kTiny)
                section.z1[channel] = 0.0;
            if (std::abs(section.z2[channel]) < kTiny)
                section.z2[channel] = 0.0;
            value = out;
        }
        frame[channel] = static_cast<float>(value);
    }
}

std::size_t RateConverter::maxLowFrames(std::size_t frames) const
{
    return frames * low_ / high_ + 1;
}

std::size_t RateConverter::down(const float *in, std::size_t frames, float *out)
{
    std::size_t produced = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        float frame[2] = {in[2 * i], in[2 * i + 1]};
        filter(frame);
        // The high rate is the higher: at most one output between two inputs.
        if (phase_ <= low_) {
            const float share = static_cast<float>(phase_) / static_cast<float>(low_);
            for (std::size_t channel = 0; channel < 2; ++channel)
                out[2 * produced + channel] =
                    previous_[channel] + (frame[channel] - previous_[channel]) * share;
            ++produced;
            phase_ += high_;
        }
        phase_ -= low_;
        previous_ = {frame[0], frame[1]};
    }
    return produced;
}

std::size_t RateConverter::upInputFrames(std::size_t frames) const
{
    return (phase_ + frames * low_) / high_;
}

void RateConverter::up(const float *in, std::size_t frames, float *out)
{
    for (std::size_t i = 0; i < frames; ++i) {
        const auto &taps = taps_[phase_];
        float *frame = out + 2 * i;
        for (std::size_t channel = 0; channel < 2; ++channel) {
            float sum = 0.0f;
            for (std::size_t tap = 0; tap < kTaps; ++tap)
                sum += taps[tap] * history_[tap][channel];
            frame[channel] = sum;
        }
        filter(frame);
        phase_ += low_;
        if (phase_ >= high_) {
            phase_ -= high_;
            for (std::size_t tap = 0; tap + 1 < kTaps; ++tap)
                history_[tap] = history_[tap + 1];
            history_[kTaps - 1] = {in[0], in[1]};
            in += 2;
        }
    }
}
