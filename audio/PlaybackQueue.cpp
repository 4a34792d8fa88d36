#include "PlaybackQueue.h"

#include <algorithm>

void PlaybackQueue::configure(const Sizes &sizes)
{
    sizes_ = sizes;
    sizes_.level = std::min(sizes.level, sizes.buffer);
    level_.store(sizes_.level, std::memory_order_relaxed);
    gap_ = 0;
    quiet_ = 0;
}

PlaybackQueue::Plan PlaybackQueue::plan(std::size_t writable, std::size_t ready)
{
    // The server asks for all of its buffer that is not queued.
    std::size_t queued = sizes_.buffer > writable ? sizes_.buffer - writable : 0;
    const std::size_t level = level_.load(std::memory_order_relaxed);
    Plan plan;
    plan.silence = std::min(gap_, level > queued ? level - queued : 0);
    gap_ -= plan.silence;
    queued += plan.silence;
    const std::size_t room = level > queued ? level - queued : 0;
    const std::size_t forced = queued < sizes_.reserve ? sizes_.reserve - queued : 0;
    plan.mixed = std::min(room, std::max(ready, forced));

    quiet_ += plan.mixed;
    if (quiet_ >= sizes_.quietSpell && level > sizes_.level) {
        level_.store(std::max(level - std::min(level, sizes_.step), sizes_.level),
                     std::memory_order_relaxed);
        quiet_ = 0;
    }
    return plan;
}

void PlaybackQueue::underflow()
{
    const std::size_t level = level_.load(std::memory_order_relaxed);
    const std::size_t raised = std::min(level + sizes_.step, sizes_.buffer);
    level_.store(raised, std::memory_order_relaxed);
    gap_ += raised - level;
    quiet_ = 0;
}
