#include "PipeWireStreamHandle.h"

#include <pipewire/stream.h>

void PipeWireStreamHandle::reset(pw_stream *stream, const pw_stream_events &events, void *data)
{
    close();
    stream_ = stream;
    if (stream_ != nullptr)
        pw_stream_add_listener(stream_, &listener_, &events, data);
}

void PipeWireStreamHandle::close()
{
    if (stream_ == nullptr)
        return;
    spa_hook_remove(&listener_);
    pw_stream_destroy(stream_);
    stream_ = nullptr;
}
