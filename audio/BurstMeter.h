#pragma once

#include <array>
#include <cstddef>

// Measures how many frames a server takes from a playback stream at once. A
// server that runs its graph at a large cycle takes a whole cycle at once,
// whatever request size it granted, and does so every cycle; a thread that
// stalled, or a stream that starts, moves a large amount once, and a busy
// machine delays a few fills in a row. So the size reported is one that
// most bursts reach: at least kRecurring of the last kHistory.
//
// One thread only (the one that sees the stream's callbacks); never
// allocates.
class BurstMeter {
  public:
    static constexpr std::size_t kHistory = 16;
    static constexpr std::size_t kRecurring = 8;

    void moved(std::size_t frames);

    // The largest burst that recurs; 0 until enough have been seen. Never
    // goes down: a cycle once seen may come back.
    std::size_t recurringFrames() const { return recurring_; }

  private:
    std::array<std::size_t, kHistory> history_{};
    std::size_t next_ = 0;
    std::size_t recurring_ = 0;
};
