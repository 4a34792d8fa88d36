#include "PipeWireAudioLibrary.h"

#include "RealtimeMixer.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using Direction = PipeWireConnection::Direction;

constexpr std::uint32_t kGraphRate = PipeWireAudioLibrary::kGraphRate;
// Frames converted at once on the data thread, at the graph's rate: a
// capture's in pieces, a playback's whole cycle (PipeWire's largest) at once,
// since the mixer holds its inputs by the requests it sees.
constexpr std::size_t kChunkFrames = 256;
constexpr std::size_t kMaxCycleFrames = 8192;

bool settled(int state)
{
    return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING ||
           state == PW_STREAM_STATE_ERROR;
}

std::optional<RateConverter> converterFor(std::uint32_t rate)
{
    if (rate >= kGraphRate)
        return std::nullopt;
    return RateConverter(rate, kGraphRate);
}

} // namespace

PipeWireAudioLibrary::Capture::Capture(std::uint32_t rate)
    : MixingAudioLibrary::Capture(rate), converter(converterFor(rate))
{
}

PipeWireAudioLibrary::Mixer::Mixer(std::uint32_t rate, double targetDelayMs)
    : MixingAudioLibrary::Mixer(rate, targetDelayMs), converter(converterFor(rate))
{
    if (converter)
        mixed.resize(converter->maxLowFrames(kMaxCycleFrames) * kChannels);
}

std::uint32_t PipeWireAudioLibrary::streamRate(std::uint32_t rate)
{
    return std::max(rate, kGraphRate);
}

PipeWireAudioLibrary::PipeWireAudioLibrary() : PipeWireAudioLibrary(Options{}) {}

PipeWireAudioLibrary::PipeWireAudioLibrary(Options options) : options_(std::move(options)) {}

PipeWireAudioLibrary::~PipeWireAudioLibrary()
{
    // Before the loop threads stop with the connection.
    freeChannels();
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
    auto capture = std::make_unique<Capture>(rate);
    capture->stream.name = name;
    if (!openStream(*capture, device))
        return nullptr;
    return capture;
}

std::unique_ptr<MixingAudioLibrary::Mixer>
PipeWireAudioLibrary::openMixer(const std::string &name, std::uint32_t rate,
                                const std::string &device)
{
    auto mixer = std::make_unique<Mixer>(rate, options_.mixerMarginMs);
    mixer->stream.name = name;
    mixer->cycleFrames =
        std::max<std::size_t>(1, options_.quantumFrames * streamRate(rate) / kGraphRate);
    if (!openStream(*mixer, device))
        return nullptr;
    return mixer;
}

bool PipeWireAudioLibrary::runMixer(MixingAudioLibrary::Mixer &channel, bool running, bool flush)
{
    auto &mixer = static_cast<Mixer &>(channel);
    std::lock_guard lock(*connection_);
    mixer.playing.store(running);
    // Away from its device: it reopens as asked last.
    if (mixer.stream.lost)
        return true;
    if (flush)
        pw_stream_flush(mixer.stream.handle.get(), false);
    // The server has seen the change once it answers.
    return pw_stream_set_active(mixer.stream.handle.get(), running) >= 0 && connection_->sync();
}

MixingAudioLibrary::InputTiming
PipeWireAudioLibrary::inputTiming(const MixingAudioLibrary::Capture &capture)
{
    // Every stream follows the group's one driver, so an input is read as it
    // comes. It holds one capture burst beyond the margin: the cycle's burst
    // is pushed just after the cycle's render. A server that granted a
    // larger quantum than asked for brings larger bursts.
    const double quantumMs =
        1000.0 *
        std::max(options_.quantumFrames, static_cast<const Capture &>(capture).quantum.load()) /
        kGraphRate;
    return {options_.mixerMarginMs + quantumMs, AdaptiveResampler::Clock::kOutputs};
}

void PipeWireAudioLibrary::route(MixingAudioLibrary::Capture &capture,
                                 MixingAudioLibrary::Mixer *mixer, int input)
{
    // The input is set before the data thread sees the mixer, and let go of
    // only after it no longer does.
    if (mixer != nullptr)
        capture.input = input;
    plug(static_cast<Capture &>(capture), static_cast<Mixer *>(mixer));
    if (mixer == nullptr)
        capture.input = input;
    capture.mixer = mixer;
}

std::uint32_t PipeWireAudioLibrary::grantedQuantum() const
{
    std::uint32_t quantum = 0;
    for (const auto &[handle, capture] : captures_)
        quantum = std::max(quantum, static_cast<const Capture &>(*capture).quantum.load(
                                        std::memory_order_relaxed));
    return quantum;
}

void PipeWireAudioLibrary::plug(Capture &capture, Mixer *mixer)
{
    struct Change {
        Capture *capture;
        Mixer *mixer;
    } change{&capture, mixer};
    const auto apply = [](spa_loop *, bool, std::uint32_t, const void *data, std::size_t,
                          void *) -> int {
        const auto *change = static_cast<const Change *>(data);
        change->capture->plugged = change->mixer;
        return 0;
    };
    // Blocks until the data thread has run it, so that no callback still
    // uses the old plug once this returns. With the loop locked: the loop
    // thread's own blocking calls into the data loop wait for the same
    // acknowledgement, and two at once can leave one waiting for ever.
    std::lock_guard lock(*connection_);
    pw_loop_invoke(connection_->dataLoop(), apply, 0, &change, sizeof change, true, nullptr);
}

template <typename Channel>
bool PipeWireAudioLibrary::openStream(Channel &channel, const std::string &device)
{
    constexpr bool capture = std::is_same_v<Channel, Capture>;
    Stream &stream = channel.stream;
    const auto sink = capture ? connection_->monitoredSink(device) : std::nullopt;
    stream.target = sink.value_or(device);
    stream.monitor = sink.has_value();
    if (!connectStream(channel) ||
        !connection_->waitUntil([&] { return settled(stream.state) || !connection_->ready(); }) ||
        stream.state == PW_STREAM_STATE_ERROR || !connection_->ready()) {
        connection_->report("opening stream " + stream.name);
        stream.handle.close();
        return false;
    }
    connection_->nameDataThread();
    return true;
}

template <typename Channel> bool PipeWireAudioLibrary::connectStream(Channel &channel)
{
    constexpr bool capture = std::is_same_v<Channel, Capture>;
    Stream &stream = channel.stream;
    stream.handle.close();
    // Session managers keep a volume per stream name: each radio its own.
    const std::string nodeName = options_.applicationId + "." + stream.name;
    const std::string latency =
        std::to_string(options_.quantumFrames) + "/" + std::to_string(kGraphRate);
    const std::string group = options_.applicationId + "-" + std::to_string(getpid());
    pw_properties *props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, capture ? "Capture" : "Playback",
        PW_KEY_MEDIA_NAME, stream.name.c_str(), PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_APP_NAME,
        options_.applicationName.c_str(), PW_KEY_APP_ID, options_.applicationId.c_str(),
        PW_KEY_APP_ICON_NAME, options_.iconName.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(),
        PW_KEY_NODE_GROUP, group.c_str(), "resample.quality",
        std::to_string(options_.resampleQuality).c_str(), nullptr);
    if (!stream.target.empty()) {
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, stream.target.c_str());
        if (stream.monitor)
            pw_properties_set(props, PW_KEY_STREAM_CAPTURE_SINK, "true");
        // A device chosen by name stays that device: the session manager
        // takes the stream away with it.
        pw_properties_set(props, PW_KEY_NODE_DONT_RECONNECT, "true");
    }
    stream.connection = connection_.get();
    stream.state = PW_STREAM_STATE_UNCONNECTED;
    // Lost until connected: without a stream there is nothing to call.
    stream.lost = true;
    // Its events go to the channel, whose stream the state reaches.
    static const pw_stream_events events = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = [](void *data, pw_stream_state, pw_stream_state state,
                                  const char *) {
            Stream &self = static_cast<Channel *>(data)->stream;
            self.state = state;
            // Its node destroyed by the server, as when its device goes.
            if (state == PW_STREAM_STATE_UNCONNECTED || state == PW_STREAM_STATE_ERROR)
                self.lost = true;
            self.connection->signal();
        };
        events.process = capture ? onCaptureProcess : onPlaybackProcess;
        return events;
    }();
    stream.handle.reset(pw_stream_new(connection_->core(), stream.name.c_str(), props), &events,
                        &channel);
    if (stream.handle.get() == nullptr)
        return false;

    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = streamRate(channel.rate);
    info.channels = kChannels;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::uint8_t buffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod *params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    stream.lost = false;
    if (pw_stream_connect(stream.handle.get(), capture ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT,
                          PW_ID_ANY, flags, params, 1) < 0) {
        stream.lost = true;
        return false;
    }
    return true;
}

void PipeWireAudioLibrary::reopen(const std::string &node)
{
    const auto wanted = [&node](const Stream &stream) {
        return stream.lost && reopensOn(stream.target, node);
    };
    // Destroying the old stream here, under the loop lock, takes it off the
    // data thread before the new one is made; nothing here waits for the
    // server.
    for (auto &[handle, channel] : captures_) {
        auto &capture = static_cast<Capture &>(*channel);
        if (wanted(capture.stream) && !connectStream(capture))
            connection_->report("reopening stream " + capture.stream.name);
    }
    for (auto &[handle, channel] : mixers_) {
        auto &mixer = static_cast<Mixer &>(*channel);
        if (!wanted(mixer.stream))
            continue;
        if (!connectStream(mixer))
            connection_->report("reopening stream " + mixer.stream.name);
        else if (!mixer.playing.load())
            pw_stream_set_active(mixer.stream.handle.get(), false);
    }
}

void PipeWireAudioLibrary::onCaptureProcess(void *data)
{
    auto &capture = *static_cast<Capture *>(data);
    pw_buffer *buffer = pw_stream_dequeue_buffer(capture.stream.handle.get());
    if (buffer == nullptr)
        return;
    const spa_data &block = buffer->buffer->datas[0];
    const std::size_t frames = block.chunk->size / kFrameBytes;
    const std::uint32_t quantum =
        static_cast<std::uint32_t>(frames * kGraphRate / streamRate(capture.rate));
    if (quantum > capture.quantum.load(std::memory_order_relaxed))
        capture.quantum.store(quantum, std::memory_order_relaxed);
    if (capture.plugged != nullptr && block.data != nullptr) {
        RealtimeMixer &mixer = *capture.plugged->realtimeMixer;
        const auto *samples = reinterpret_cast<const float *>(
            static_cast<const std::uint8_t *>(block.data) + block.chunk->offset);
        if (!capture.converter) {
            mixer.push(capture.input, samples, frames);
        } else {
            float converted[kChunkFrames * kChannels];
            for (std::size_t done = 0; done < frames; done += kChunkFrames) {
                const std::size_t chunk = std::min(kChunkFrames, frames - done);
                mixer.push(capture.input, converted,
                           capture.converter->down(samples + done * kChannels, chunk, converted));
            }
        }
    }
    pw_stream_queue_buffer(capture.stream.handle.get(), buffer);
}

void PipeWireAudioLibrary::onPlaybackProcess(void *data)
{
    auto &mixer = *static_cast<Mixer *>(data);
    pw_buffer *buffer = pw_stream_dequeue_buffer(mixer.stream.handle.get());
    if (buffer == nullptr) {
        mixer.underflows.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    spa_data &block = buffer->buffer->datas[0];
    std::size_t frames = buffer->requested != 0 ? buffer->requested : mixer.cycleFrames;
    frames = std::min<std::size_t>(frames, block.maxsize / kFrameBytes);
    auto *samples = static_cast<float *>(block.data);
    if (samples == nullptr) {
        frames = 0;
    } else if (!mixer.playing.load(std::memory_order_relaxed)) {
        std::fill_n(samples, frames * kChannels, 0.0f);
        // Playing again starts from silence, not from what was heard before.
        if (mixer.converter)
            mixer.converter->reset();
    } else if (!mixer.converter) {
        mixer.realtimeMixer->render(samples, frames);
    } else {
        for (std::size_t done = 0; done < frames; done += kMaxCycleFrames) {
            const std::size_t piece = std::min(kMaxCycleFrames, frames - done);
            mixer.realtimeMixer->render(mixer.mixed.data(), mixer.converter->upInputFrames(piece));
            mixer.converter->up(mixer.mixed.data(), piece, samples + done * kChannels);
        }
    }
    block.chunk->offset = 0;
    block.chunk->stride = kFrameBytes;
    block.chunk->size = static_cast<std::uint32_t>(frames * kFrameBytes);
    buffer->size = frames;
    pw_stream_queue_buffer(mixer.stream.handle.get(), buffer);
}
