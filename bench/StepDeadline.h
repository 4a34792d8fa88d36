#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Bounds one path of the bench. A wait that never ends (a server that
// stops answering, a window event that never comes) would otherwise hold the
// whole run, where every run must end with each path's figures or the
// reason it has none. When the scope is not left within `limit`, prints
// "# <path> measured nothing: <step> did not finish within N s", runs
// `release` (to let go of what the process holds outside itself) and ends
// the process with status 1.
class StepDeadline {
  public:
    StepDeadline(std::string path, std::chrono::seconds limit, std::function<void()> release = {});
    ~StepDeadline();
    StepDeadline(const StepDeadline &) = delete;
    StepDeadline &operator=(const StepDeadline &) = delete;

    // What the path does from now on, named when it overruns ("the route
    // timings"); "it" until the first call.
    void step(std::string what);

  private:
    void watch(std::chrono::steady_clock::time_point deadline);

    const std::string path_;
    const std::chrono::seconds limit_;
    const std::function<void()> release_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false; // under mutex_
    std::string step_;  // under mutex_
    std::thread watcher_;
};
