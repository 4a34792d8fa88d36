#include "PulseConnection.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace {

// The pulse server of PipeWire grants no buffer, fragment or request below
// these, taken from the client's properties; its defaults are 256/48000.
const PulseConnection::Properties kSmallBuffers = {
    {"pulse.min.req", "48/48000"},
    {"pulse.min.frag", "48/48000"},
    {"pulse.min.quantum", "48/48000"},
};

PulseProplist newProplist(const PulseConnection::Properties &properties)
{
    PulseProplist list(pa_proplist_new());
    for (const auto &[key, value] : properties)
        pa_proplist_sets(list.get(), key.c_str(), value.c_str());
    return list;
}

bool settled(pa_context_state_t state)
{
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

// Kept as soon as it ends, on the loop thread: a change reported after it
// then empties what was kept, in the order the server said them.
struct DeviceQuery {
    PulseMainLoop *loop;
    std::optional<std::vector<DeviceListing::Device>> *kept;
    DeviceListing listing;
    // Monitor source name to its sink's name: the server gives a monitor
    // no bus path of its own.
    std::map<std::string, std::string> monitors;
};

template <typename Info> void collectDevice(const Info *info, int endOfList, void *userdata)
{
    auto *query = static_cast<DeviceQuery *>(userdata);
    if (endOfList != 0) {
        query->listing.finish(endOfList < 0);
        *query->kept = query->listing.devices();
    } else if (info != nullptr) {
        const char *busPath = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_BUS_PATH);
        query->listing.add({info->name, info->description ? info->description : info->name,
                            busPath ? busPath : "", info->sample_spec.rate});
    }
    query->loop->signal();
}

void onSinkInfo(pa_context *, const pa_sink_info *info, int endOfList, void *userdata)
{
    collectDevice(info, endOfList, userdata);
}

void onSourceInfo(pa_context *, const pa_source_info *info, int endOfList, void *userdata)
{
    if (info != nullptr && info->monitor_of_sink_name != nullptr)
        static_cast<DeviceQuery *>(userdata)->monitors[info->name] = info->monitor_of_sink_name;
    collectDevice(info, endOfList, userdata);
}

// The answer is the query's own as well as kept: a device's change that
// comes in before the caller wakes clears what is kept, not this answer.
struct DefaultQuery {
    PulseMainLoop *loop;
    std::optional<std::string> *keptSink;
    std::optional<std::string> *keptSource;
    bool *pipeWire;
    std::optional<std::string> sink;
    std::optional<std::string> source;
};

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *query = static_cast<DefaultQuery *>(userdata);
    if (info != nullptr) {
        query->sink = info->default_sink_name ? info->default_sink_name : "";
        query->source = info->default_source_name ? info->default_source_name : "";
        *query->keptSink = query->sink;
        *query->keptSource = query->source;
        *query->pipeWire =
            info->server_name != nullptr && std::strstr(info->server_name, "PipeWire") != nullptr;
    }
    query->loop->signal();
}

void onOperationState(pa_operation *, void *userdata)
{
    static_cast<PulseMainLoop *>(userdata)->signal();
}

} // namespace

PulseConnection::PulseConnection(Properties client, std::chrono::milliseconds timeout,
                                 const char *threadName, std::string server)
    : ServerConnection(client), client_(std::move(client)), timeout_(timeout),
      server_(std::move(server)), loop_(threadName)
{
    client_.insert(client_.end(), kSmallBuffers.begin(), kSmallBuffers.end());
}

PulseConnection::~PulseConnection()
{
    std::lock_guard lock(loop_);
    disconnect();
}

bool PulseConnection::connect()
{
    if (ready())
        return true;
    disconnect();
    refusal_.clear();
    context_ = newClient();
    if (!context_)
        return false;
    if (ready()) {
        pa_context_set_subscribe_callback(
            context(),
            [](pa_context *, pa_subscription_event_type_t event, std::uint32_t index, void *self) {
                static_cast<PulseConnection *>(self)->changed(event, index);
            },
            this);
        const auto watched = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
        // The server's defaults asked at once tell what kind of server it is.
        if (await(PulseOperation(pa_context_subscribe(context(), watched, nullptr, nullptr))) &&
            defaultDeviceName(Direction::Playback))
            return true;
    }
    // Kept for the report: disconnecting forgets the context's error.
    refusal_ = reason();
    disconnect();
    return false;
}

PulseContext PulseConnection::newClient()
{
    PulseContext client(
        pa_context_new_with_proplist(loop_.api(), nullptr, newProplist(client_).get()));
    if (!client)
        return client;
    pa_context_set_state_callback(
        client.get(),
        [](pa_context *, void *userdata) { static_cast<PulseMainLoop *>(userdata)->signal(); },
        &loop_);
    pa_context *connecting = client.get();
    if (pa_context_connect(connecting, server_.empty() ? nullptr : server_.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
        !loop_.waitUntil([connecting] { return settled(pa_context_get_state(connecting)); },
                         timeout_))
        giveUp();
    return client;
}

PulseContext PulseConnection::newStreamClient()
{
    PulseContext client = ready() ? newClient() : nullptr;
    if (client && pa_context_get_state(client.get()) != PA_CONTEXT_READY)
        client.reset();
    return client;
}

void PulseConnection::disconnect()
{
    lookups_.clear();
    context_.reset();
    unresponsive_ = false;
    kept_ = {};
}

bool PulseConnection::ready() const
{
    return context_ && !unresponsive_ && pa_context_get_state(context()) == PA_CONTEXT_READY;
}

std::optional<std::vector<PulseConnection::Device>> PulseConnection::devices(Direction direction)
{
    if (!ready())
        return std::nullopt;
    auto &kept = kept_[slot(direction)].devices;
    if (kept)
        return kept;
    DeviceQuery query{&loop_, &kept, {}, {}};
    PulseOperation operation(
        direction == Direction::Playback
            ? pa_context_get_sink_info_list(context(), onSinkInfo, &query)
            : pa_context_get_source_info_list(context(), onSourceInfo, &query));
    if (!await(std::move(operation)))
        return std::nullopt;
    auto devices = query.listing.devices();
    if (!devices) {
        report(direction == Direction::Playback ? "listing the playback devices"
                                                : "listing the capture devices");
        return devices;
    }
    if (!query.monitors.empty()) {
        const auto sinks = this->devices(Direction::Playback);
        if (!sinks)
            return std::nullopt;
        for (Device &device : *devices) {
            const auto monitor = query.monitors.find(device.name);
            if (monitor == query.monitors.end())
                continue;
            const auto sink = std::ranges::find(*sinks, monitor->second, &Device::name);
            if (sink != sinks->end())
                device.busPath = sink->busPath;
        }
        // Unless a change has emptied it meanwhile.
        if (kept)
            kept = devices;
    }
    return devices;
}

std::optional<std::string> PulseConnection::defaultDeviceName(Direction direction)
{
    if (!ready())
        return std::nullopt;
    auto &kept = kept_[slot(direction)].defaultName;
    if (kept)
        return kept;
    DefaultQuery query{&loop_,
                       &kept_[slot(Direction::Playback)].defaultName,
                       &kept_[slot(Direction::Capture)].defaultName,
                       &pipeWire_,
                       {},
                       {}};
    if (!await(PulseOperation(pa_context_get_server_info(context(), onServerInfo, &query))))
        return std::nullopt;
    return direction == Direction::Playback ? query.sink : query.source;
}

void PulseConnection::changed(unsigned event, std::uint32_t index)
{
    const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        for (Kept &kept : kept_)
            kept.defaultName.reset();
        return;
    }
    // Both directions: a playback device brings its monitor, and one that
    // goes may take a default with it.
    kept_ = {};
    const Direction direction =
        facility == PA_SUBSCRIPTION_EVENT_SINK ? Direction::Playback : Direction::Capture;
    const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (type != PA_SUBSCRIPTION_EVENT_CHANGE && devicesChanged_)
        devicesChanged_();
    if (type == PA_SUBSCRIPTION_EVENT_NEW && deviceAdded_)
        lookUpAdded(direction, index);
}

void PulseConnection::lookUpAdded(Direction direction, std::uint32_t index)
{
    std::erase_if(lookups_, [](const PulseOperation &lookup) {
        return pa_operation_get_state(lookup.get()) != PA_OPERATION_RUNNING;
    });
    PulseOperation lookup(
        direction == Direction::Playback
            ? pa_context_get_sink_info_by_index(
                  context(), index,
                  [](pa_context *, const pa_sink_info *info, int endOfList, void *added) {
                      if (endOfList == 0 && info != nullptr)
                          (*static_cast<DeviceAdded *>(added))(Direction::Playback, info->name);
                  },
                  &deviceAdded_)
            : pa_context_get_source_info_by_index(
                  context(), index,
                  [](pa_context *, const pa_source_info *info, int endOfList, void *added) {
                      if (endOfList == 0 && info != nullptr)
                          (*static_cast<DeviceAdded *>(added))(Direction::Capture, info->name);
                  },
                  &deviceAdded_));
    if (lookup)
        lookups_.push_back(std::move(lookup));
}

std::string PulseConnection::failure() const
{
    return context_ ? pa_strerror(pa_context_errno(context())) : refusal_;
}

PulseStream PulseConnection::newStereoStream(const std::string &name, std::uint32_t rate,
                                             const Properties &properties, pa_context *client)
{
    if (client == nullptr)
        client = context();
    if (client == nullptr)
        return nullptr;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, rate, 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    PulseProplist list = newProplist(properties);
    pa_proplist_sets(list.get(), PA_PROP_MEDIA_NAME, name.c_str());
    return PulseStream(pa_stream_new_with_proplist(client, name.c_str(), &spec, &map, list.get()));
}

bool PulseConnection::await(PulseOperation operation)
{
    if (!operation)
        return false;
    pa_operation *running = operation.get();
    pa_operation_set_state_callback(running, onOperationState, &loop_);
    if (!loop_.waitUntil(
            [running] { return pa_operation_get_state(running) != PA_OPERATION_RUNNING; },
            timeout_))
        giveUp();
    return pa_operation_get_state(running) == PA_OPERATION_DONE;
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
    if (state == PA_STREAM_CREATING)
        giveUp();
    return state == PA_STREAM_READY;
}
