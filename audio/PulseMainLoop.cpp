#include "PulseMainLoop.h"

#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <pthread.h>
#include <sched.h>

#include <latch>
#include <stdexcept>

PulseMainLoop::PulseMainLoop(const char *threadName) : loop_(pa_threaded_mainloop_new())
{
    if (loop_ == nullptr)
        throw std::runtime_error("cannot create the sound server main loop");
    pa_threaded_mainloop_set_name(loop_, threadName);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        throw std::runtime_error("cannot start the sound server main loop");
    }
    // Audio is late when this thread waits behind ordinary work; ask for a
    // modest real-time priority, and carry on without it where the system
    // refuses. The request is waited for: a loop stopped before it ran would
    // leak what libpulse holds for it.
    std::latch prioritySet(1);
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_once_unlocked(
        loop_,
        [](pa_threaded_mainloop *, void *done) {
            sched_param priority{};
            priority.sched_priority = 4;
            pthread_setschedparam(pthread_self(), SCHED_RR, &priority);
            static_cast<std::latch *>(done)->count_down();
        },
        &prioritySet);
    pa_threaded_mainloop_unlock(loop_);
    prioritySet.wait();
}

PulseMainLoop::~PulseMainLoop()
{
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseMainLoop::lock()
{
    pa_threaded_mainloop_lock(loop_);
}

void PulseMainLoop::unlock()
{
    pa_threaded_mainloop_unlock(loop_);
}

pa_mainloop_api *PulseMainLoop::api()
{
    return pa_threaded_mainloop_get_api(loop_);
}

void PulseMainLoop::signal()
{
    pa_threaded_mainloop_signal(loop_, 0);
}

namespace {

struct Deadline {
    PulseMainLoop *loop;
    bool passed = false;
};

void onDeadline(pa_mainloop_api *, pa_time_event *, const timeval *, void *userdata)
{
    auto *deadline = static_cast<Deadline *>(userdata);
    deadline->passed = true;
    deadline->loop->signal();
}

} // namespace

bool PulseMainLoop::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    Deadline deadline{this};
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC);
    pa_mainloop_api *loopApi = api();
    pa_time_event *event = loopApi->time_new(loopApi, &when, onDeadline, &deadline);
    bool result = done();
    while (!result && !deadline.passed) {
        pa_threaded_mainloop_wait(loop_);
        result = done();
    }
    loopApi->time_free(event);
    return result;
}
