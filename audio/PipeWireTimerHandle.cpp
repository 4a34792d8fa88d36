#include "PipeWireTimerHandle.h"

#include <pipewire/loop.h>

#include <ctime>

bool PipeWireTimerHandle::start(pw_loop *loop, std::chrono::milliseconds interval,
                                Callback callback, void *data)
{
    close();
    source_ = pw_loop_add_timer(loop, callback, data);
    if (source_ == nullptr)
        return false;
    loop_ = loop;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(interval);
    timespec every{};
    every.tv_sec = seconds.count();
    every.tv_nsec = std::chrono::nanoseconds(interval - seconds).count();
    pw_loop_update_timer(loop_, source_, &every, &every, false);
    return true;
}

void PipeWireTimerHandle::close()
{
    if (source_ == nullptr)
        return;
    pw_loop_destroy_source(loop_, source_);
    source_ = nullptr;
}
