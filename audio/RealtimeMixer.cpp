#include "RealtimeMixer.h"

#include "AdaptiveResampler.h"
#include "SpscRing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>

namespace {

constexpr std::size_t kChannels = 2;
// Render works through blocks of at most this many frames per input.
constexpr std::size_t kChunkFrames = 256;
constexpr RoutingMatrix kIdentity = {1.0f, 0.0f, 0.0f, 1.0f};

enum SlotState : int { kFree, kActive, kDetached };

// An odd number never equals a published (even) sequence: forces a first read.
constexpr std::uint32_t kNothingSeen = 1;

} // namespace

struct RealtimeMixer::Input {
    // Room for the target, the margin before a resynchronisation and a second
    // more, of which an input's own target may take half: the ring only
    // fills up when the output has stalled.
    Input(double sampleRate, double targetFrames)
        : ring(kChannels *
               std::bit_ceil(static_cast<std::size_t>(
                   targetFrames + (AdaptiveResampler::kResyncSeconds + 1.0) * sampleRate))),
          resampler(sampleRate, targetFrames)
    {
    }

    SpscRing<float> ring;
    AdaptiveResampler resampler;
    std::atomic<int> state{kFree};

    // Control thread only.
    RoutingMatrix matrix = kIdentity;
    bool paused = false;
    std::uint64_t detachEpoch = 0;

    // Control to consumer, as a sequence lock: odd while being written.
    std::atomic<std::uint32_t> sequence{0};
    std::array<std::atomic<float>, 4> sharedMatrix{};
    std::atomic<bool> sharedPaused{false};

    // Consumer only (reset by attachInput before the input goes live).
    std::uint32_t seenSequence = kNothingSeen;
    std::array<float, 4> gain{};
    std::array<float, 4> target{};
    std::array<float, 4> step{};
    std::size_t rampLeft = 0;

    std::atomic<double> delayMs{0.0};
    // Control or back-end to consumer: the least target wanted, in frames.
    std::atomic<double> raisedTarget{0.0};

    // Sequentially consistent throughout, so no fences are needed: a reader
    // that saw any part of a newer write also sees the sequence moved on.
    void publish()
    {
        const std::uint32_t start = sequence.load();
        sequence.store(start + 1);
        for (std::size_t k = 0; k < 4; ++k)
            sharedMatrix[k].store(matrix[k]);
        sharedPaused.store(paused);
        sequence.store(start + 2);
    }

    // Consumer: picks up a complete change, if any; a change caught half
    // written is picked up at the next block.
    void takeControls(std::size_t rampFrames)
    {
        const std::uint32_t seen = sequence.load();
        if (seen == seenSequence || (seen & 1U) != 0)
            return;
        std::array<float, 4> wanted;
        for (std::size_t k = 0; k < 4; ++k)
            wanted[k] = sharedMatrix[k].load();
        const bool silent = sharedPaused.load();
        if (sequence.load() != seen)
            return;
        seenSequence = seen;
        if (silent)
            wanted.fill(0.0f);
        rampTo(wanted, rampFrames);
    }

    void rampTo(const std::array<float, 4> &wanted, std::size_t rampFrames)
    {
        target = wanted;
        for (std::size_t k = 0; k < 4; ++k)
            step[k] = (target[k] - gain[k]) / static_cast<float>(rampFrames);
        rampLeft = rampFrames;
    }

    bool inaudible() const
    {
        const auto zero = [](float value) { return value == 0.0f; };
        return std::all_of(gain.begin(), gain.end(), zero) &&
               std::all_of(target.begin(), target.end(), zero);
    }
};

RealtimeMixer::RealtimeMixer(const Config &config)
    : config_(config),
      rampFrames_(std::max<std::size_t>(
          1, static_cast<std::size_t>(std::lround(config.rampMs * config.sampleRate / 1000.0)))),
      scratch_(kChunkFrames * kChannels)
{
    if (!(config.sampleRate > 0.0) || !(config.targetDelayMs >= 0.0) || !(config.rampMs >= 0.0))
        throw std::invalid_argument("mixer: rate must be positive, delay and ramp not negative");
    const double targetFrames = config.targetDelayMs * config.sampleRate / 1000.0;
    for (auto &input : inputs_)
        input = std::make_unique<Input>(config.sampleRate, targetFrames);
}

RealtimeMixer::~RealtimeMixer() = default;

RealtimeMixer::Input *RealtimeMixer::live(int input) const
{
    if (input < 0 || input >= kMaxInputs)
        return nullptr;
    Input *slot = inputs_[static_cast<std::size_t>(input)].get();
    return slot->state.load(std::memory_order_acquire) == kActive ? slot : nullptr;
}

int RealtimeMixer::attachInput()
{
    return attachInput(config_.targetDelayMs);
}

double RealtimeMixer::targetFrames(double targetDelayMs) const
{
    const double delayMs = targetDelayMs >= 0.0
                               ? std::min(targetDelayMs, config_.targetDelayMs + kMaxExtraDelayMs)
                               : 0.0;
    return delayMs * config_.sampleRate / 1000.0;
}

int RealtimeMixer::attachInput(double targetDelayMs, AdaptiveResampler::Clock clock)
{
    const double targetFrames = this->targetFrames(targetDelayMs);
    const std::uint64_t epoch = renderEpoch_.load();
    for (int index = 0; index < kMaxInputs; ++index) {
        Input &input = *inputs_[static_cast<std::size_t>(index)];
        const int state = input.state.load(std::memory_order_relaxed);
        if (state == kActive)
            continue;
        // Detached during a render that has not finished: the consumer may
        // still be reading it.
        if (state == kDetached && (input.detachEpoch & 1U) != 0 && epoch == input.detachEpoch)
            continue;
        input.ring.clear();
        input.resampler.reset(targetFrames, clock);
        input.matrix = kIdentity;
        input.paused = false;
        input.publish();
        input.seenSequence = kNothingSeen;
        input.gain.fill(0.0f);
        input.target.fill(0.0f);
        input.rampLeft = 0;
        input.delayMs.store(0.0, std::memory_order_relaxed);
        input.raisedTarget.store(0.0, std::memory_order_relaxed);
        input.state.store(kActive, std::memory_order_release);
        return index;
    }
    return -1;
}

void RealtimeMixer::detachInput(int input)
{
    Input *slot = live(input);
    if (!slot)
        return;
    slot->state.store(kDetached);
    slot->detachEpoch = renderEpoch_.load();
}

void RealtimeMixer::raiseTarget(int input, double targetDelayMs)
{
    if (Input *slot = live(input))
        slot->raisedTarget.store(targetFrames(targetDelayMs), std::memory_order_relaxed);
}

void RealtimeMixer::setMatrix(int input, const RoutingMatrix &matrix)
{
    if (Input *slot = live(input)) {
        slot->matrix = matrix;
        slot->publish();
    }
}

RoutingMatrix RealtimeMixer::matrix(int input) const
{
    const Input *slot = live(input);
    return slot ? slot->matrix : RoutingMatrix{};
}

void RealtimeMixer::setPaused(int input, bool paused)
{
    Input *slot = live(input);
    if (!slot || slot->paused == paused)
        return;
    slot->paused = paused;
    slot->publish();
}

void RealtimeMixer::push(int input, const float *samples, std::size_t frames)
{
    Input *slot = live(input);
    if (!slot)
        return;
    const std::size_t written = slot->ring.write(samples, frames * kChannels) / kChannels;
    if (written < frames)
        overflowFrames_.fetch_add(frames - written, std::memory_order_relaxed);
}

void RealtimeMixer::render(float *samples, std::size_t frames)
{
    renderEpoch_.fetch_add(1);
    std::fill_n(samples, frames * kChannels, 0.0f);
    for (auto &slot : inputs_) {
        if (slot->state.load() != kActive)
            continue;
        slot->takeControls(rampFrames_);
        slot->resampler.raiseTarget(slot->raisedTarget.load(std::memory_order_relaxed));
        for (std::size_t done = 0; done < frames; done += kChunkFrames)
            mixInput(*slot, samples + done * kChannels, std::min(kChunkFrames, frames - done));
        slot->delayMs.store(slot->resampler.smoothedDelayFrames() * 1000.0 / config_.sampleRate,
                            std::memory_order_relaxed);
    }
    for (float &sample : std::span(samples, frames * kChannels))
        sample = std::clamp(sample, -kMaxSample, kMaxSample);
    renderEpoch_.fetch_add(1);
}

std::size_t RealtimeMixer::readyFrames() const
{
    std::size_t ready = std::numeric_limits<std::size_t>::max();
    for (const auto &slot : inputs_)
        if (slot->state.load() == kActive && slot->resampler.running())
            ready = std::min(ready, slot->resampler.readyFrames(slot->ring));
    return ready;
}

void RealtimeMixer::mixInput(Input &input, float *samples, std::size_t frames)
{
    const bool wasRunning = input.resampler.running();
    const AdaptiveResampler::Pull pulled =
        input.resampler.pull(input.ring, scratch_.data(), frames);
    if (pulled.discarded != 0)
        overflowFrames_.fetch_add(pulled.discarded, std::memory_order_relaxed);
    if (pulled.produced < frames) {
        if ((wasRunning || pulled.produced != 0) && !input.inaudible())
            underrunFrames_.fetch_add(frames - pulled.produced, std::memory_order_relaxed);
        std::fill(scratch_.begin() + static_cast<std::ptrdiff_t>(pulled.produced * kChannels),
                  scratch_.begin() + static_cast<std::ptrdiff_t>(frames * kChannels), 0.0f);
    }

    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (input.rampLeft != 0) {
            for (std::size_t k = 0; k < 4; ++k)
                input.gain[k] += input.step[k];
            if (--input.rampLeft == 0)
                input.gain = input.target;
        }
        const float left = scratch_[frame * kChannels];
        const float right = scratch_[frame * kChannels + 1];
        samples[frame * kChannels] += input.gain[0] * left + input.gain[1] * right;
        samples[frame * kChannels + 1] += input.gain[2] * left + input.gain[3] * right;
    }

    // Starved or still filling: come back with a fade-in, not a step.
    if (!input.resampler.running()) {
        input.gain.fill(0.0f);
        input.rampTo(input.target, rampFrames_);
    }
}

std::uint64_t RealtimeMixer::underrunFrames() const
{
    return underrunFrames_.load(std::memory_order_relaxed);
}

std::uint64_t RealtimeMixer::overflowFrames() const
{
    return overflowFrames_.load(std::memory_order_relaxed);
}

double RealtimeMixer::delayMs(int input) const
{
    const Input *slot = live(input);
    return slot ? slot->delayMs.load(std::memory_order_relaxed) : 0.0;
}
