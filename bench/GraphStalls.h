#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <thread>

// Holds the sound server's graph process still for `stall` every `period`
// (SIGSTOP, then SIGCONT), from construction until destruction: how a
// loaded or shared machine treats a server whose threads are not scheduled
// for a few ms. The process is always left running.
class GraphStalls {
  public:
    GraphStalls(pid_t process, std::chrono::microseconds stall, std::chrono::milliseconds period);
    ~GraphStalls();
    GraphStalls(const GraphStalls &) = delete;
    GraphStalls &operator=(const GraphStalls &) = delete;

    // How many stalls so far.
    int count() const { return count_.load(std::memory_order_relaxed); }

  private:
    std::atomic<bool> stopping_{false};
    std::atomic<int> count_{0};
    std::thread thread_;
};
