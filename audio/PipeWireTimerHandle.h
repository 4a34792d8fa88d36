#pragma once

#include <chrono>
#include <cstdint>

struct pw_loop;
struct spa_source;

// The one owner of a repeating timer on a PipeWire loop, which calls
// `callback` on that loop's thread. With that loop locked, from any thread
// but its own, or on it.
class PipeWireTimerHandle {
  public:
    using Callback = void (*)(void *data, std::uint64_t expirations);

    PipeWireTimerHandle() = default;
    ~PipeWireTimerHandle() { close(); }
    PipeWireTimerHandle(const PipeWireTimerHandle &) = delete;
    PipeWireTimerHandle &operator=(const PipeWireTimerHandle &) = delete;

    // Closes the timer held, then calls `callback` with `data` every
    // `interval` on `loop`; false when the loop could not make it.
    bool start(pw_loop *loop, std::chrono::milliseconds interval, Callback callback, void *data);
    void close();
    bool running() const { return source_ != nullptr; }

  private:
    pw_loop *loop_ = nullptr;
    spa_source *source_ = nullptr;
};
