#pragma once

#include "PulseConnection.h"
#include "PulseHandles.h"

#include <atomic>
#include <cstdint>
#include <string>

struct pa_stream;

// The yardstick for the library's delay: one capture stream copied as it
// comes into one playback stream, nothing in between, at the buffer sizes
// given and the server's defaults otherwise. Runs on its own connection and
// loop thread from construction until destruction.
class PlainRelay {
  public:
    // Relays capture device `source` to playback device `sink` (server device
    // names) as stereo at `rate`. Throws std::runtime_error when it cannot.
    PlainRelay(const std::string &source, const std::string &sink, std::uint32_t rate,
               double fragmentMs, double bufferMs);
    ~PlainRelay();
    PlainRelay(const PlainRelay &) = delete;
    PlainRelay &operator=(const PlainRelay &) = delete;

    // Times the server found the playback buffer empty.
    std::uint64_t underflows() const { return underflows_.load(std::memory_order_relaxed); }

  private:
    // With the loop locked: releases the streams and throws `why`.
    [[noreturn]] void fail(const char *why);
    static void onRead(pa_stream *stream, std::size_t bytes, void *userdata);

    PulseConnection connection_;
    PulseStream capture_;
    PulseStream playback_;
    std::atomic<std::uint64_t> underflows_{0};
};
