#pragma once

#include <chrono>
#include <functional>

struct pa_threaded_mainloop;
struct pa_mainloop_api;

// Owns a running libpulse threaded main loop: the one thread that runs every
// stream and context callback.
//
// lock() and unlock() make it usable with std::lock_guard. Callbacks already
// run under the lock, so the loop thread never takes it; every other thread
// holds it around each libpulse call.
class PulseMainLoop {
  public:
    // Starts the loop thread, named `threadName` (seen in top -H). Throws
    // std::runtime_error when libpulse cannot start it.
    explicit PulseMainLoop(const char *threadName);
    ~PulseMainLoop();
    PulseMainLoop(const PulseMainLoop &) = delete;
    PulseMainLoop &operator=(const PulseMainLoop &) = delete;

    void lock();
    void unlock();

    // Caller holds the lock.
    pa_mainloop_api *api();

    // Loop thread: wakes every thread blocked in waitUntil.
    void signal();

    // Caller holds the lock, outside the loop thread. Releases it while
    // waiting until `done` is true (checked after every signal) or `timeout`
    // has passed; returns `done`'s last answer.
    bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout);

  private:
    pa_threaded_mainloop *loop_;
};
