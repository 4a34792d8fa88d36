#include "PlaybackQueue.h"

#include <algorithm>

void PlaybackQueue::configure(std::size_t buffer, std::size_t reserve)
{
    buffer_ = buffer;
    reserve_ = std::min(reserve, buffer);
}

std::size_t PlaybackQueue::framesToMix(std::size_t writable, std::size_t ready) const
{
    // The server asks for all of its buffer that is not queued, and after an
    // underflow also for what it played past the end of the queue: the queue
    // is below its reserve when more than buffer - reserve is asked for.
    const std::size_t aboveReserve = buffer_ - reserve_;
    const std::size_t forced = writable > aboveReserve ? writable - aboveReserve : 0;
    return std::min(writable, std::max(ready, forced));
}
