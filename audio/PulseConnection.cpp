#include "PulseConnection.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/stream.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

bool settled(pa_context_state_t state)
{
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

struct DeviceQuery {
    PulseMainLoop *loop;
    std::vector<PulseConnection::Device> devices;
};

template <typename Info> void collectDevice(const Info *info, int endOfList, void *userdata)
{
    auto *query = static_cast<DeviceQuery *>(userdata);
    if (endOfList == 0 && info != nullptr) {
        query->devices.push_back({info->name, info->description ? info->description : info->name});
    }
    query->loop->signal();
}

void onSinkInfo(pa_context *, const pa_sink_info *info, int endOfList, void *userdata)
{
    collectDevice(info, endOfList, userdata);
}

void onSourceInfo(pa_context *, const pa_source_info *info, int endOfList, void *userdata)
{
    collectDevice(info, endOfList, userdata);
}

struct DefaultQuery {
    PulseMainLoop *loop;
    PulseConnection::Direction direction;
    std::optional<std::string> name;
};

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *query = static_cast<DefaultQuery *>(userdata);
    if (info != nullptr) {
        const char *name = query->direction == PulseConnection::Direction::Playback
                               ? info->default_sink_name
                               : info->default_source_name;
        query->name = name ? name : "";
    }
    query->loop->signal();
}

void onOperationState(pa_operation *, void *userdata)
{
    static_cast<PulseMainLoop *>(userdata)->signal();
}

} // namespace

PulseConnection::PulseConnection(std::string applicationName, std::chrono::milliseconds timeout,
                                 const char *threadName)
    : applicationName_(std::move(applicationName)), timeout_(timeout), loop_(threadName)
{
}

PulseConnection::~PulseConnection()
{
    std::lock_guard lock(loop_);
    disconnect();
}

bool PulseConnection::connect(const std::string &server)
{
    if (ready()) {
        return true;
    }
    disconnect();
    context_ = pa_context_new(loop_.api(), applicationName_.c_str());
    if (context_ == nullptr) {
        return false;
    }
    pa_context_set_state_callback(
        context_,
        [](pa_context *, void *userdata) { static_cast<PulseMainLoop *>(userdata)->signal(); },
        &loop_);
    if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return false;
    }
    loop_.waitUntil([this] { return settled(pa_context_get_state(context_)); }, timeout_);
    if (!ready()) {
        disconnect();
        return false;
    }
    return true;
}

void PulseConnection::disconnect()
{
    if (context_ == nullptr) {
        return;
    }
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
    unresponsive_ = false;
}

bool PulseConnection::ready() const
{
    return context_ != nullptr && !unresponsive_ &&
           pa_context_get_state(context_) == PA_CONTEXT_READY;
}

std::optional<std::vector<PulseConnection::Device>> PulseConnection::devices(Direction direction)
{
    if (!ready()) {
        return std::nullopt;
    }
    DeviceQuery query{&loop_, {}};
    pa_operation *operation = direction == Direction::Playback
                                  ? pa_context_get_sink_info_list(context_, onSinkInfo, &query)
                                  : pa_context_get_source_info_list(context_, onSourceInfo, &query);
    if (!await(operation)) {
        return std::nullopt;
    }
    std::ranges::sort(query.devices, {}, &Device::name);
    return std::move(query.devices);
}

std::optional<std::string> PulseConnection::defaultDeviceName(Direction direction)
{
    if (!ready()) {
        return std::nullopt;
    }
    DefaultQuery query{&loop_, direction, std::nullopt};
    if (!await(pa_context_get_server_info(context_, onServerInfo, &query))) {
        return std::nullopt;
    }
    return query.name;
}

bool PulseConnection::await(pa_operation *operation)
{
    if (operation == nullptr) {
        return false;
    }
    pa_operation_set_state_callback(operation, onOperationState, &loop_);
    bool done = loop_.waitUntil(
        [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
        timeout_);
    if (!done) {
        pa_operation_cancel(operation);
        giveUp();
    }
    bool finished = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return finished;
}

bool PulseConnection::waitUntilReady(pa_stream *stream)
{
    pa_stream_set_state_callback(
        stream, [](pa_stream *, void *loop) { static_cast<PulseMainLoop *>(loop)->signal(); },
        &loop_);
    loop_.waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeout_);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING) {
        giveUp();
    }
    return state == PA_STREAM_READY;
}

void PulseConnection::closeStream(pa_stream *&stream)
{
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}
