#include "PlaybackWriteRule.h"

#include <algorithm>

void PlaybackWriteRule::configure(std::size_t buffer, std::size_t reserve)
{
    buffer_ = buffer;
    reserve_ = std::min(reserve, buffer);
}

std::size_t PlaybackWriteRule::framesToMix(std::size_t writable, std::size_t ready) const
{
    // The server asks for all of its buffer that is not queued, and after an
    // underflow also for the stretch it played as silence, which no write
    // can fill any more. So there is no use mixing more than the reserve for
    // it from an input that has nothing ready: that would only run the input
    // dry.
    const std::size_t inQueue = queued(writable);
    const std::size_t forced = inQueue < reserve_ ? reserve_ - inQueue : 0;
    return std::min(writable, std::max(ready, forced));
}

std::size_t PlaybackWriteRule::queued(std::size_t writable) const
{
    return buffer_ > writable ? buffer_ - writable : 0;
}
