#include "GraphStalls.h"

#include <signal.h>

GraphStalls::GraphStalls(pid_t process, std::chrono::microseconds stall,
                         std::chrono::milliseconds period)
    : thread_([this, process, stall, period] {
          auto next = std::chrono::steady_clock::now() + period;
          while (!stopping_.load()) {
              std::this_thread::sleep_until(next);
              next += period;
              if (stopping_.load() || kill(process, SIGSTOP) != 0)
                  return;
              // Spun, not slept: a sleep of a few ms can overrun by as much.
              const auto until = std::chrono::steady_clock::now() + stall;
              while (std::chrono::steady_clock::now() < until) {
              }
              kill(process, SIGCONT);
              count_.fetch_add(1, std::memory_order_relaxed);
          }
      })
{
}

GraphStalls::~GraphStalls()
{
    stopping_.store(true);
    thread_.join();
}
