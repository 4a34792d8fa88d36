#include "StepDeadline.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

StepDeadline::StepDeadline(std::string path, std::chrono::seconds limit,
                           std::function<void()> release)
    : path_(std::move(path)), limit_(limit), release_(std::move(release)), step_("it"),
      watcher_([this, deadline = std::chrono::steady_clock::now() + limit] { watch(deadline); })
{
}

StepDeadline::~StepDeadline()
{
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
    }
    finished_.notify_one();
    watcher_.join();
}

void StepDeadline::step(std::string what)
{
    const std::lock_guard lock(mutex_);
    step_ = std::move(what);
}

void StepDeadline::watch(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    if (finished_.wait_until(lock, deadline, [this] { return done_; }))
        return;
    // The hung thread cannot be stopped from here, nor the objects it holds
    // be destroyed: the process ends without them.
    if (release_)
        release_();
    std::printf("# %s measured nothing: %s did not finish within %lld s\n", path_.c_str(),
                step_.c_str(), static_cast<long long>(limit_.count()));
    std::fflush(stdout);
    std::_Exit(1);
}
