#include "BurstMeter.h"

#include <algorithm>
#include <functional>

void BurstMeter::moved(std::size_t frames)
{
    history_[next_] = frames;
    next_ = (next_ + 1) % kHistory;
    std::array<std::size_t, kHistory> sorted = history_;
    std::nth_element(sorted.begin(), sorted.begin() + (kRecurring - 1), sorted.end(),
                     std::greater<>());
    recurring_ = std::max(recurring_, sorted[kRecurring - 1]);
}
