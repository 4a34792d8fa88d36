#pragma once

#include <spa/utils/hook.h>

struct pw_stream;
struct pw_stream_events;

// The one owner of a pw_stream and of its owner's listener on it. Closing
// removes the listener first, so that no callback runs on what the owner is
// freeing, then destroys the stream, which takes it off the data thread:
// once close() returns, no callback of it runs or will. With the loop locked,
// from any thread but the data thread.
class PipeWireStreamHandle {
  public:
    PipeWireStreamHandle() = default;
    ~PipeWireStreamHandle() { close(); }
    PipeWireStreamHandle(const PipeWireStreamHandle &) = delete;
    PipeWireStreamHandle &operator=(const PipeWireStreamHandle &) = delete;

    // Closes the stream held, then holds `stream` (nullptr: none), its
    // `events` going to `data`.
    void reset(pw_stream *stream, const pw_stream_events &events, void *data);
    void close();
    pw_stream *get() const { return stream_; }

  private:
    pw_stream *stream_ = nullptr;
    spa_hook listener_{};
};
