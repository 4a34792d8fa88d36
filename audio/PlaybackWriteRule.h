#pragma once

#include <cstddef>

// Decides how much a mixer writes to its playback stream, apart from the
// server so that the rule can be checked on its own.
//
// What the mixer's inputs can give leaves at once, up to what the server
// asks for. When a capture is late (after the loop thread or the server
// stalled, its request for a stretch of time arrives before the capture of
// that time), mixing at once would play silence and then drop that capture.
// Instead the queue ahead of the device is let run down while waiting for
// it, and only the part below the reserve is mixed without it.
//
// Frames throughout; loop thread only.
class PlaybackWriteRule {
  public:
    // `buffer`: what the server holds at most; `reserve`: below this the
    // queue is filled rather than waiting.
    void configure(std::size_t buffer, std::size_t reserve);

    // How many frames to mix now. `writable`: what the server asks for;
    // `ready`: what the mixer can give without running dry.
    std::size_t framesToMix(std::size_t writable, std::size_t ready) const;

    // What the server holds queued when it asks for `writable`.
    std::size_t queued(std::size_t writable) const;

  private:
    std::size_t buffer_ = 0;
    std::size_t reserve_ = 0;
};
