#include "PipeWireAudioLibrary.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/node/io.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <utility>

namespace {

using Direction = PipeWireConnection::Direction;

constexpr std::uint32_t kGraphRate = PipeWireAudioLibrary::kGraphRate;
// Frames converted at once on the data thread, at the graph's rate.
constexpr std::size_t kChunkFrames = 256;
constexpr const char *kChannelNames[] = {"FL", "FR"};
// How often the inputs' links are checked, and how many cycles in a row a
// linked input may bring nothing (a device's own gap) before it is linked
// again.
constexpr std::chrono::milliseconds kWatchInterval{250};
constexpr std::uint32_t kStarvedCycles = 16;

// A port's samples in this cycle. No samples: the port has no buffer (an
// input not fed this cycle). Not `fits`: its buffer is shorter than the
// cycle, whose length nobody checks against the buffers; while links move
// the node to another driver, it can be any number.
struct PortSamples {
    float *samples = nullptr;
    bool fits = false;
};

PortSamples portSamples(void *port, std::uint32_t frames, pw_direction direction)
{
    pw_buffer *buffer = pw_filter_dequeue_buffer(port);
    if (buffer == nullptr)
        return {};
    spa_data &data = buffer->buffer->datas[0];
    const PortSamples found{static_cast<float *>(data.data),
                            data.maxsize / sizeof(float) >= frames};
    if (direction == PW_DIRECTION_OUTPUT && found.fits) {
        data.chunk->offset = 0;
        data.chunk->size = frames * sizeof(float);
        data.chunk->stride = sizeof(float);
        data.chunk->flags = 0;
    }
    pw_filter_queue_buffer(port, buffer);
    return found.samples != nullptr ? found : PortSamples{};
}

std::optional<RateConverter> converterFor(std::uint32_t rate)
{
    if (rate >= kGraphRate)
        return std::nullopt;
    return RateConverter(rate, kGraphRate);
}

bool settled(int state)
{
    return state == PW_FILTER_STATE_PAUSED || state == PW_FILTER_STATE_STREAMING ||
           state == PW_FILTER_STATE_ERROR;
}

// The port of `ports` that carries `channel` (0 left, 1 right); a device's
// one mono port carries both. nullptr until the device's ports are all
// there.
const PipeWireConnection::Port *portFor(const std::vector<PipeWireConnection::Port> &ports,
                                        std::size_t channel)
{
    if (ports.size() == 1 && ports.front().channel == "MONO")
        return &ports.front();
    for (const auto &port : ports)
        if (port.channel == kChannelNames[channel])
            return &port;
    return nullptr;
}

} // namespace

PipeWireAudioLibrary::Capture::Capture(std::uint32_t rate)
    : MixingAudioLibrary::Capture(rate), converter(converterFor(rate))
{
}

PipeWireAudioLibrary::Mixer::Mixer(std::uint32_t rate, double targetDelayMs)
    : MixingAudioLibrary::Mixer(rate, targetDelayMs), converter(converterFor(rate))
{
}

PipeWireAudioLibrary::PipeWireAudioLibrary() : PipeWireAudioLibrary(Options{}) {}

PipeWireAudioLibrary::PipeWireAudioLibrary(Options options) : options_(std::move(options)) {}

PipeWireAudioLibrary::~PipeWireAudioLibrary()
{
    // Before the loop threads stop with the connection.
    freeChannels();
    if (connection_) {
        std::lock_guard lock(*connection_);
        watch_.close();
    }
}

bool PipeWireAudioLibrary::serverAnswers(const Options &options)
{
    try {
        PipeWireConnection connection({{PW_KEY_APP_NAME, options.applicationName}}, options.remote,
                                      options.timeout, kAudioThreadName, kDataThreadName);
        std::lock_guard lock(connection);
        return connection.connect();
    } catch (const std::exception &) {
        return false;
    }
}

void PipeWireAudioLibrary::makeConnection()
{
    connection_ = std::make_unique<PipeWireConnection>(
        PipeWireConnection::Properties{{PW_KEY_APP_NAME, options_.applicationName},
                                       {PW_KEY_APP_ID, options_.applicationId},
                                       {PW_KEY_APP_ICON_NAME, options_.iconName}},
        options_.remote, options_.timeout, kAudioThreadName, kDataThreadName);
    connection_->onDeviceAdded([this](const std::string &node) { reopen(node); });
    connection_->onDevicesChanged([this] { noteDeviceListChanged(); });
}

std::optional<std::vector<DeviceListing::Device>>
PipeWireAudioLibrary::listDevices(Direction direction)
{
    // What the server has said so far is in: the listing is current.
    if (!connection_->sync())
        return std::nullopt;
    return connection_->devices(direction);
}

std::optional<std::string> PipeWireAudioLibrary::defaultDeviceName(Direction direction)
{
    return connection_->defaultDeviceName(direction);
}

bool PipeWireAudioLibrary::captureFollowsDefault(const std::string &defaultDevice)
{
    return !connection_->monitoredSink(defaultDevice);
}

std::unique_ptr<MixingAudioLibrary::Capture>
PipeWireAudioLibrary::openCapture(const std::string &name, std::uint32_t rate,
                                  const std::string &device)
{
    if (rate > kGraphRate || !connection_->ready()) {
        connection_->report("opening capture " + name);
        return nullptr;
    }
    auto capture = std::make_unique<Capture>(rate);
    const auto sink = connection_->monitoredSink(device);
    capture->target = sink.value_or(device);
    capture->monitor = sink.has_value();
    return capture;
}

std::unique_ptr<MixingAudioLibrary::Mixer>
PipeWireAudioLibrary::openMixer(const std::string &name, std::uint32_t rate,
                                const std::string &device)
{
    auto mixer = std::make_unique<Mixer>(rate, options_.mixerMarginMs);
    mixer->name = name;
    mixer->target = device;
    if (rate > kGraphRate || !openFilter(*mixer)) {
        connection_->report("opening stream " + name);
        return nullptr;
    }
    return mixer;
}

bool PipeWireAudioLibrary::openFilter(Mixer &mixer)
{
    // Session managers keep a volume per node name: each mixer its own.
    const std::string nodeName = options_.applicationId + "." + mixer.name;
    const std::string latency =
        std::to_string(options_.quantumFrames) + "/" + std::to_string(kGraphRate);
    // The library links the node itself, port by port.
    pw_properties *props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Filter", PW_KEY_MEDIA_ROLE, "DSP",
        PW_KEY_MEDIA_NAME, mixer.name.c_str(), PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_APP_NAME,
        options_.applicationName.c_str(), PW_KEY_APP_ID, options_.applicationId.c_str(),
        PW_KEY_APP_ICON_NAME, options_.iconName.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(),
        PW_KEY_NODE_AUTOCONNECT, "false", nullptr);
    mixer.connection = connection_.get();
    mixer.state = PW_FILTER_STATE_UNCONNECTED;
    static const pw_filter_events events = [] {
        pw_filter_events events{};
        events.version = PW_VERSION_FILTER_EVENTS;
        events.state_changed = [](void *data, pw_filter_state, pw_filter_state state,
                                  const char *) {
            auto *self = static_cast<Mixer *>(data);
            self->state = state;
            self->connection->signal();
        };
        events.process = onProcess;
        return events;
    }();
    mixer.filter.reset(pw_filter_new(connection_->core(), mixer.name.c_str(), props), &events,
                       &mixer);
    if (mixer.filter.get() == nullptr)
        return false;
    const auto addPort = [&](pw_direction direction, const std::string &name, std::size_t channel) {
        return pw_filter_add_port(
            mixer.filter.get(), direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, sizeof(std::uint32_t),
            pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME,
                              name.c_str(), PW_KEY_AUDIO_CHANNEL, kChannelNames[channel], nullptr),
            nullptr, 0);
    };
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
        for (int input = 0; input < RealtimeMixer::kMaxInputs; ++input)
            mixer.inputPorts[input][channel] = addPort(
                PW_DIRECTION_INPUT,
                "input" + std::to_string(input + 1) + "_" + kChannelNames[channel], channel);
        mixer.outputPorts[channel] =
            addPort(PW_DIRECTION_OUTPUT, std::string("output_") + kChannelNames[channel], channel);
    }
    if (pw_filter_connect(mixer.filter.get(), PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0 ||
        !connection_->waitUntil([&] { return settled(mixer.state) || !connection_->ready(); }) ||
        mixer.state == PW_FILTER_STATE_ERROR || !connection_->sync()) {
        mixer.filter.close();
        return false;
    }
    // Ports appear, and devices come and go, on the loop thread.
    connection_->onGraphChanged([this] { relink(); });
    if (!watch_.running())
        watch_.start(
            connection_->loop(), kWatchInterval,
            [](void *data, std::uint64_t) {
                static_cast<PipeWireAudioLibrary *>(data)->relinkStarved();
            },
            this);
    relink(mixer);
    connection_->nameDataThread();
    return true;
}

// What a mixer has in hand is less than a cycle: a stop drops it with the
// silence the paused filter plays.
bool PipeWireAudioLibrary::runMixer(MixingAudioLibrary::Mixer &channel, bool running, bool)
{
    auto &mixer = static_cast<Mixer &>(channel);
    std::lock_guard lock(*connection_);
    mixer.playing.store(running);
    // The server answers: not hung.
    return connection_->sync();
}

MixingAudioLibrary::InputTiming
PipeWireAudioLibrary::inputTiming(const MixingAudioLibrary::Capture &)
{
    // Captured and mixed in the same cycle: an input holds what its cycle
    // plays, and the margin.
    return {options_.mixerMarginMs, AdaptiveResampler::Clock::kSameCycle};
}

void PipeWireAudioLibrary::route(MixingAudioLibrary::Capture &channel,
                                 MixingAudioLibrary::Mixer *mixer, int input)
{
    auto &capture = static_cast<Capture &>(channel);
    std::lock_guard lock(*connection_);
    // Let go of where it was before the data thread sees where it goes.
    if (auto *old = static_cast<Mixer *>(capture.mixer); old != nullptr && capture.input >= 0) {
        plug(*old, capture.input, nullptr);
        old->inputLinks[capture.input] = {};
    }
    capture.input = input;
    capture.mixer = mixer;
    if (mixer != nullptr && input >= 0) {
        plug(static_cast<Mixer &>(*mixer), input, &capture);
        relink(static_cast<Mixer &>(*mixer));
    }
}

std::uint32_t PipeWireAudioLibrary::grantedQuantum() const
{
    std::uint32_t quantum = 0;
    for (const auto &[handle, mixer] : mixers_)
        quantum = std::max(
            quantum, static_cast<const Mixer &>(*mixer).quantum.load(std::memory_order_relaxed));
    return quantum;
}

void PipeWireAudioLibrary::plug(Mixer &mixer, int input, Capture *capture)
{
    struct Change {
        Mixer *mixer;
        int input;
        Capture *capture;
    } change{&mixer, input, capture};
    const auto apply = [](void *data) {
        const auto *change = static_cast<const Change *>(data);
        change->mixer->plugged[change->input] = change->capture;
    };
    // Blocks until the data thread has run it, so that no callback still
    // uses the old plug once this returns. With the loop locked: the loop
    // thread's own blocking calls into the data loop wait for the same
    // acknowledgement, and two at once can leave one waiting for ever.
    connection_->runOnDataThread(apply, &change);
}

void PipeWireAudioLibrary::relink()
{
    for (auto &[handle, mixer] : mixers_)
        relink(static_cast<Mixer &>(*mixer));
}

void PipeWireAudioLibrary::relink(Mixer &mixer)
{
    const auto self = pw_filter_get_node_id(mixer.filter.get());
    if (self == SPA_ID_INVALID)
        return;
    const auto nodeOf = [&](const std::string &name) {
        return connection_->nodeId(name).value_or(0);
    };
    for (const auto &[handle, channel] : captures_) {
        const auto &capture = static_cast<const Capture &>(*channel);
        if (capture.mixer != &mixer || capture.input < 0)
            continue;
        std::string device = capture.target;
        bool monitor = capture.monitor;
        if (device.empty()) {
            device = connection_->defaultDeviceName(Direction::Capture).value_or("");
            if (const auto sink = connection_->monitoredSink(device)) {
                device = *sink;
                monitor = true;
            }
        }
        const std::uint32_t node = nodeOf(device);
        const std::string prefix = "input" + std::to_string(capture.input + 1) + "_";
        link(mixer, mixer.inputLinks[capture.input], node, connection_->ports(node, true, monitor),
             {prefix + "FL", prefix + "FR"}, true);
    }
    const std::string sink = mixer.target.empty()
                                 ? connection_->defaultDeviceName(Direction::Playback).value_or("")
                                 : mixer.target;
    const std::uint32_t node = nodeOf(sink);
    link(mixer, mixer.outputLinks, node, connection_->ports(node, false, false),
         {"output_FL", "output_FR"}, false);
}

void PipeWireAudioLibrary::link(Mixer &mixer, Links &links, std::uint32_t node,
                                const std::vector<PipeWireConnection::Port> &devicePorts,
                                const std::array<std::string, kChannels> &portNames,
                                bool fromDevice)
{
    if (links.node == node && node != 0)
        return;
    links = {};
    const auto self = pw_filter_get_node_id(mixer.filter.get());
    const auto ownPorts = connection_->ports(self, !fromDevice, false);
    std::array<std::uint32_t, kChannels> devicePort{}, ownPort{};
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
        const auto *port = portFor(devicePorts, channel);
        const auto own =
            std::ranges::find(ownPorts, portNames[channel], &PipeWireConnection::Port::name);
        if (node == 0 || port == nullptr || own == ownPorts.end())
            return;
        devicePort[channel] = port->id;
        ownPort[channel] = own->id;
    }
    const std::string deviceNode = std::to_string(node), ownNode = std::to_string(self);
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
        const std::string from =
            std::to_string(fromDevice ? devicePort[channel] : ownPort[channel]);
        const std::string to = std::to_string(fromDevice ? ownPort[channel] : devicePort[channel]);
        pw_properties *props =
            pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, (fromDevice ? deviceNode : ownNode).c_str(),
                              PW_KEY_LINK_OUTPUT_PORT, from.c_str(), PW_KEY_LINK_INPUT_NODE,
                              (fromDevice ? ownNode : deviceNode).c_str(), PW_KEY_LINK_INPUT_PORT,
                              to.c_str(), PW_KEY_OBJECT_LINGER, "false", nullptr);
        auto *proxy = static_cast<pw_proxy *>(
            pw_core_create_object(connection_->core(), "link-factory", PW_TYPE_INTERFACE_Link,
                                  PW_VERSION_LINK, &props->dict, 0));
        pw_properties_free(props);
        if (proxy == nullptr) {
            connection_->report("linking " + mixer.name);
            links = {};
            return;
        }
        links.links.push_back(std::make_unique<PipeWireProxyHandle>());
        links.links.back()->reset(proxy);
    }
    links.node = node;
}

void PipeWireAudioLibrary::relinkStarved()
{
    for (auto &[handle, channel] : mixers_) {
        auto &mixer = static_cast<Mixer &>(*channel);
        bool starved = false;
        for (int input = 0; input < RealtimeMixer::kMaxInputs; ++input) {
            if (mixer.starved[input].exchange(0, std::memory_order_relaxed) < kStarvedCycles ||
                mixer.inputLinks[input].node == 0)
                continue;
            mixer.inputLinks[input] = {};
            starved = true;
        }
        if (starved)
            relink(mixer);
    }
}

void PipeWireAudioLibrary::reopen(const std::string &)
{
    relink();
}

void PipeWireAudioLibrary::onProcess(void *data, spa_io_position *position)
{
    auto &mixer = *static_cast<Mixer *>(data);
    if (position == nullptr)
        return;
    const auto frames = static_cast<std::uint32_t>(position->clock.duration);
    if (frames == 0)
        return;
    float *out[kChannels];
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
        const PortSamples port =
            portSamples(mixer.outputPorts[channel], frames, PW_DIRECTION_OUTPUT);
        if (port.samples != nullptr && !port.fits)
            return;
        out[channel] = port.samples;
    }
    if (out[0] != nullptr && frames > mixer.quantum.load(std::memory_order_relaxed))
        mixer.quantum.store(frames, std::memory_order_relaxed);
    // The converters are made for the graph's usual rate: at another,
    // silence rather than every radio at the wrong pitch.
    const bool playing =
        mixer.playing.load(std::memory_order_relaxed) && position->clock.rate.denom == kGraphRate;
    if (!playing) {
        for (float *samples : out)
            if (samples != nullptr)
                std::fill_n(samples, frames, 0.0f);
        // Playing again starts from silence, not from what was heard before.
        if (mixer.converter)
            mixer.converter->reset();
        return;
    }
    float interleaved[kChunkFrames * kChannels];
    float converted[kChunkFrames * kChannels];
    for (int input = 0; input < RealtimeMixer::kMaxInputs; ++input) {
        Capture *capture = mixer.plugged[input];
        if (capture == nullptr)
            continue;
        const PortSamples left =
            portSamples(mixer.inputPorts[input][0], frames, PW_DIRECTION_INPUT);
        const PortSamples right =
            portSamples(mixer.inputPorts[input][1], frames, PW_DIRECTION_INPUT);
        if (left.samples == nullptr || right.samples == nullptr) {
            mixer.starved[input].fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (!left.fits || !right.fits)
            continue;
        const float *in[kChannels] = {left.samples, right.samples};
        mixer.starved[input].store(0, std::memory_order_relaxed);
        for (std::size_t done = 0; done < frames; done += kChunkFrames) {
            const std::size_t chunk = std::min<std::size_t>(kChunkFrames, frames - done);
            for (std::size_t frame = 0; frame < chunk; ++frame)
                for (std::size_t channel = 0; channel < kChannels; ++channel)
                    interleaved[frame * kChannels + channel] = in[channel][done + frame];
            if (!capture->converter)
                mixer.realtimeMixer->push(input, interleaved, chunk);
            else
                mixer.realtimeMixer->push(input, converted,
                                          capture->converter->down(interleaved, chunk, converted));
        }
    }
    if (out[0] == nullptr || out[1] == nullptr)
        return;
    for (std::size_t done = 0; done < frames; done += kChunkFrames) {
        const std::size_t chunk = std::min<std::size_t>(kChunkFrames, frames - done);
        if (!mixer.converter) {
            mixer.realtimeMixer->render(interleaved, chunk);
        } else {
            mixer.realtimeMixer->render(converted, mixer.converter->upInputFrames(chunk));
            mixer.converter->up(converted, chunk, interleaved);
        }
        for (std::size_t frame = 0; frame < chunk; ++frame)
            for (std::size_t channel = 0; channel < kChannels; ++channel)
                out[channel][done + frame] = interleaved[frame * kChannels + channel];
    }
}
