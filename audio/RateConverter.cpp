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
// Filter state below this is zeroed after each block, so that silence never
// decays into denormals, which cost a hundred times more to compute: from
// there, that takes well over a block.
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
    taps_.reserve(std::size_t{high_} * kTaps);
    for (std::uint32_t phase = 0; phase < high_; ++phase) {
        const auto taps = WindowedSinc::taps<kTaps>(
            kTaps / 2 - 1, static_cast<double>(phase) / high_, WindowedSinc::sinc);
        taps_.insert(taps_.end(), taps.begin(), taps.end());
    }
    reset();
}

void RateConverter::reset()
{
    for (Section &section : sections_)
        section.z1 = section.z2 = {0.0, 0.0};
    previous_ = {0.0, 0.0};
    history_ = {};
    // Down: the first output falls on the first input; up starts just past
    // the silence before its first.
    phase_ = low_;
}

void RateConverter::filter(Stereo *frames, std::size_t count)
{
    std::array<Stereo, kSections> z1, z2;
    for (std::size_t k = 0; k < kSections; ++k) {
        z1[k] = sections_[k].z1;
        z2[k] = sections_[k].z2;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Stereo value = frames[i];
        for (std::size_t k = 0; k < kSections; ++k) {
            const Section &section = sections_[k];
            // Transposed direct form II.
            Stereo out;
            for (std::size_t channel = 0; channel < 2; ++channel)
                out[channel] = section.b0 * value[channel] + z1[k][channel];
            for (std::size_t channel = 0; channel < 2; ++channel)
                z1[k][channel] =
                    section.b1 * value[channel] - section.a1 * out[channel] + z2[k][channel];
            for (std::size_t channel = 0; channel < 2; ++channel)
                z2[k][channel] = section.b2 * value[channel] - section.a2 * out[channel];
            value = out;
        }
        frames[i] = value;
    }
    for (std::size_t k = 0; k < kSections; ++k) {
        for (std::size_t channel = 0; channel < 2; ++channel) {
            sections_[k].z1[channel] = std::abs(z1[k][channel]) < kTiny ? 0.0 : z1[k][channel];
            sections_[k].z2[channel] = std::abs(z2[k][channel]) < kTiny ? 0.0 : z2[k][channel];
        }
    }
}

std::size_t RateConverter::maxLowFrames(std::size_t frames) const
{
    return frames * low_ / high_ + 1;
}

std::size_t RateConverter::down(const float *in, std::size_t frames, float *out)
{
    std::size_t produced = 0;
    std::array<Stereo, kBlockFrames> block;
    for (std::size_t done = 0; done < frames; done += kBlockFrames) {
        const std::size_t count = std::min(kBlockFrames, frames - done);
        for (std::size_t i = 0; i < count; ++i)
            block[i] = {in[2 * (done + i)], in[2 * (done + i) + 1]};
        filter(block.data(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const Stereo &frame = block[i];
            // The high rate is the higher: at most one output between two
            // inputs.
            if (phase_ <= low_) {
                const double share = static_cast<double>(phase_) / low_;
                for (std::size_t channel = 0; channel < 2; ++channel)
                    out[2 * produced + channel] = static_cast<float>(
                        previous_[channel] + (frame[channel] - previous_[channel]) * share);
                ++produced;
                phase_ += high_;
            }
            phase_ -= low_;
            previous_ = frame;
        }
    }
    return produced;
}

std::size_t RateConverter::upInputFrames(std::size_t frames) const
{
    return (phase_ + frames * low_) / high_;
}

std::size_t RateConverter::upOutputFrames(std::size_t frames) const
{
    return ((frames + 1) * high_ - phase_ - 1) / low_;
}

void RateConverter::up(const float *in, std::size_t frames, float *out)
{
    std::array<Stereo, kBlockFrames> block;
    for (std::size_t done = 0; done < frames; done += kBlockFrames) {
        const std::size_t count = std::min(kBlockFrames, frames - done);
        for (std::size_t i = 0; i < count; ++i) {
            const float *taps = &taps_[std::size_t{phase_} * kTaps];
            std::array<float, 2> sum{};
            for (std::size_t tap = 0; tap < kTaps; ++tap)
                for (std::size_t channel = 0; channel < 2; ++channel)
                    sum[channel] += taps[tap] * history_[tap][channel];
            block[i] = {sum[0], sum[1]};
            phase_ += low_;
            if (phase_ >= high_) {
                phase_ -= high_;
                for (std::size_t tap = 0; tap + 1 < kTaps; ++tap)
                    history_[tap] = history_[tap + 1];
                history_[kTaps - 1] = {in[0], in[1]};
                in += 2;
            }
        }
        filter(block.data(), count);
        for (std::size_t i = 0; i < count; ++i)
            for (std::size_t channel = 0; channel < 2; ++channel)
                out[2 * (done + i) + channel] = static_cast<float>(block[i][channel]);
    }
}
