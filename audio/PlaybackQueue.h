#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Decides what a mixer writes to its playback stream, and when, apart from
// the server so that the rules can be checked on their own.
//
// The server buffer is large, but the queue in it is kept at a level: a few
// ms, enough to ride out a stalled loop thread. What the mixer's inputs can
// give leaves at once. When a capture is late the queue is let run down
// toward its reserve while waiting for it, and only below the reserve is
// silence mixed in. When the server finds the queue empty anyway (the
// machine stalled longer than the queue lasts) the level rises by a step,
// taken at once as silence added to the gap the server has just played; after
// each quiet spell without underflow it falls back by a step toward where it
// started.
//
// Frames throughout. Loop thread only, except level().
class PlaybackQueue {
  public:
    struct Sizes {
        std::size_t buffer = 0;       // what the server holds at most
        std::size_t level = 0;        // the level to start at and come back to
        std::size_t step = 0;         // how far one underflow raises it
        std::size_t reserve = 0;      // below this, silence rather than waiting
        std::uint64_t quietSpell = 0; // frames written without underflow
                                      // before the level steps down
    };

    // Writes nothing until configured.
    void configure(const Sizes &sizes);

    struct Plan {
        std::size_t silence = 0; // write these first, as silence
        std::size_t mixed = 0;   // then these from the mixer
    };
    // `writable`: what the server asks for now; `ready`: what the mixer can
    // give without running dry. The caller writes the whole plan.
    Plan plan(std::size_t writable, std::size_t ready);

    // The server played from an empty queue.
    void underflow();

    // Any thread: the level kept now.
    std::size_t level() const { return level_.load(std::memory_order_relaxed); }

  private:
    Sizes sizes_;
    std::atomic<std::size_t> level_{0};
    std::size_t gap_ = 0; // silence still owed for a raised level
    std::uint64_t quiet_ = 0;
};
