#include "PipeWireAudioLibrary.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

namespace {

using Direction = PipeWireConnection::Direction;

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);
constexpr std::uint32_t kGraphRate = 48000;

bool validStreamFormat(std::uint32_t frequency, std::uint32_t channels)
{
    return channels == kChannels && frequency > 0 && frequency <= 384000;
}

bool settled(int state)
{
    return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING ||
           state == PW_STREAM_STATE_ERROR;
}

} // namespace

PipeWireAudioLibrary::PipeWireAudioLibrary() : PipeWireAudioLibrary(Options{}) {}

PipeWireAudioLibrary::PipeWireAudioLibrary(Options options) : options_(std::move(options)) {}

PipeWireAudioLibrary::~PipeWireAudioLibrary()
{
    if (connection_) {
        freeMixers();
        freeCaptures();
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

std::uint32_t PipeWireAudioLibrary::GetVersion()
{
    return kVersion;
}

bool PipeWireAudioLibrary::connect()
{
    try {
        if (!connection_) {
            connection_ = std::make_unique<PipeWireConnection>(
                PipeWireConnection::Properties{{PW_KEY_APP_NAME, options_.applicationName},
                                               {PW_KEY_APP_ID, options_.applicationId},
                                               {PW_KEY_APP_ICON_NAME, options_.iconName}},
                options_.remote, options_.timeout, kAudioThreadName, kDataThreadName);
        }
    } catch (const std::exception &) {
        return false;
    }
    if (!serverAlive()) {
        std::lock_guard lock(*connection_);
        if (!connection_->connect()) {
            connection_->report("connecting to the sound server");
            return false;
        }
    }
    return true;
}

bool PipeWireAudioLibrary::serverAlive()
{
    if (!connection_)
        return false;
    {
        std::lock_guard lock(*connection_);
        if (connection_->ready())
            return true;
        if (!connection_->broken())
            return false;
        // The server closed the connection or stopped answering: the
        // streams made on it are gone.
        connection_->report("the connection to the sound server");
    }
    freeMixers();
    freeCaptures();
    initialized_ = false;
    std::lock_guard lock(*connection_);
    connection_->disconnect();
    return false;
}

bool PipeWireAudioLibrary::resolveDevice(Direction direction, int device, std::string &name)
{
    AudioDeviceInfo info;
    if (!deviceInfo(direction, device, info))
        return false;
    name = device == -1 ? std::string() : info.driver;
    return true;
}

bool PipeWireAudioLibrary::deviceInfo(Direction direction, int device, AudioDeviceInfo &info)
{
    if (device < -1 || !connect())
        return false;
    std::lock_guard lock(*connection_);
    // What the server has said so far is in: the listing is current.
    if (!connection_->sync())
        return false;
    auto devices = connection_->devices(direction);
    if (!devices)
        return false;
    std::string name;
    if (device == -1) {
        auto defaultName = connection_->defaultDeviceName(direction);
        if (!defaultName)
            return false;
        name = *defaultName;
    } else if (static_cast<std::size_t>(device) < devices->size()) {
        name = (*devices)[static_cast<std::size_t>(device)].name;
    }
    for (const auto &found : *devices) {
        if (found.name == name) {
            info.name = found.description;
            info.driver = found.name;
            info.flags = 0;
            return true;
        }
    }
    return false;
}

bool PipeWireAudioLibrary::Init(int device, std::uint32_t frequency, std::uint32_t flags)
{
    (void)frequency; // the mixers choose their own rate; the server converts
    (void)flags;
    Free();
    std::string name;
    if (!resolveDevice(Direction::Playback, device, name))
        return false;
    playbackDevice_ = name;
    initialized_ = true;
    return true;
}

bool PipeWireAudioLibrary::Free()
{
    if (connection_)
        freeMixers();
    initialized_ = false;
    playbackDevice_.clear();
    return true;
}

bool PipeWireAudioLibrary::GetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Playback, device, info);
}

bool PipeWireAudioLibrary::RecordGetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Capture, device, info);
}

bool PipeWireAudioLibrary::RecordInit(int device)
{
    // A missing device leaves none current: the previous one is some other
    // radio.
    captureDevice_.reset();
    AudioDeviceInfo info;
    if (!deviceInfo(Direction::Capture, device, info))
        return false;
    // The default device follows the server's choice, unless it is a
    // monitor: that is reached only through its sink, by name.
    std::lock_guard lock(*connection_);
    const bool followDefault = device == -1 && !connection_->monitoredSink(info.driver);
    captureDevice_ = followDefault ? std::string() : info.driver;
    return true;
}

AudioHandle PipeWireAudioLibrary::RecordStart(std::uint32_t frequency, std::uint32_t channels,
                                              std::uint32_t flags)
{
    (void)flags;
    if (!captureDevice_ || !validStreamFormat(frequency, channels) || !serverAlive())
        return 0;
    auto capture = std::make_unique<Capture>();
    capture->rate = frequency;
    capture->name = "Radio " + std::to_string(++capturesStarted_);
    std::lock_guard lock(*connection_);
    if (!openStream(*capture, true, *captureDevice_))
        return 0;
    AudioHandle handle = newHandle();
    captures_.emplace(handle, std::move(capture));
    return handle;
}

bool PipeWireAudioLibrary::RecordFree()
{
    if (connection_)
        freeCaptures();
    captureDevice_.reset();
    capturesStarted_ = 0;
    return true;
}

bool PipeWireAudioLibrary::ChannelPlay(AudioHandle channel, bool restart)
{
    return setRunning(channel, true, restart);
}

bool PipeWireAudioLibrary::ChannelPause(AudioHandle channel)
{
    return setRunning(channel, false, false);
}

bool PipeWireAudioLibrary::ChannelStop(AudioHandle channel)
{
    return setRunning(channel, false, true);
}

bool PipeWireAudioLibrary::setRunning(AudioHandle channel, bool running, bool flush)
{
    if (!serverAlive())
        return false;
    if (Mixer *mixer = findMixer(channel)) {
        std::lock_guard lock(*connection_);
        mixer->playing.store(running);
        if (flush)
            pw_stream_flush(mixer->stream, false);
        // The server has seen the change once it answers.
        return pw_stream_set_active(mixer->stream, running) >= 0 && connection_->sync();
    }
    Capture *capture = findCapture(channel);
    if (capture == nullptr)
        return false;
    // A capture keeps recording while paused or stopped, so that it comes
    // back at once and at the delay it had; only its gain in the mix drops.
    capture->paused = !running;
    if (capture->mixer != nullptr)
        capture->mixer->mixer->setPaused(capture->input, !running);
    return true;
}

AudioHandle PipeWireAudioLibrary::MixerStreamCreate(std::uint32_t frequency, std::uint32_t channels,
                                                    std::uint32_t flags)
{
    (void)flags;
    if (!initialized_ || !validStreamFormat(frequency, channels) || !serverAlive())
        return 0;
    auto mixer = std::make_unique<Mixer>();
    mixer->rate = frequency;
    mixer->name = "Headphones";
    RealtimeMixer::Config config;
    config.sampleRate = frequency;
    config.targetDelayMs = options_.mixerMarginMs;
    mixer->mixer = std::make_unique<RealtimeMixer>(config);
    mixer->cycleFrames = std::max<std::size_t>(1, options_.quantumFrames * frequency / kGraphRate);
    std::lock_guard lock(*connection_);
    if (!openStream(*mixer, false, playbackDevice_))
        return 0;
    AudioHandle handle = newHandle();
    mixers_.emplace(handle, std::move(mixer));
    return handle;
}

bool PipeWireAudioLibrary::MixerStreamAddChannel(AudioHandle mixerHandle, AudioHandle channel,
                                                 std::uint32_t flags)
{
    // Every source enters through its own matrix; without kMatrixMixing that
    // matrix simply stays the identity.
    (void)flags;
    if (!serverAlive())
        return false;
    Mixer *mixer = findMixer(mixerHandle);
    Capture *capture = findCapture(channel);
    if (mixer == nullptr || capture == nullptr || capture->mixer != nullptr ||
        capture->rate != mixer->rate)
        return false;
    // Each input holds one capture burst beyond the margin: the cycle's
    // burst is pushed just before it is mixed. A server that granted a
    // larger quantum than asked for brings larger bursts.
    const double quantumMs =
        1000.0 * std::max(options_.quantumFrames, capture->quantum.load()) / kGraphRate;
    const int input = mixer->mixer->attachInput(options_.mixerMarginMs + quantumMs);
    if (input < 0)
        return false;
    mixer->mixer->setPaused(input, capture->paused);
    capture->mixer = mixer;
    capture->input = input;
    plug(*capture, mixer);
    return true;
}

bool PipeWireAudioLibrary::MixerChannelRemove(AudioHandle channel)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    unplug(*capture);
    return true;
}

bool PipeWireAudioLibrary::MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    matrix = capture->mixer->mixer->matrix(capture->input);
    return true;
}

bool PipeWireAudioLibrary::MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    capture->mixer->mixer->setMatrix(capture->input, matrix);
    return true;
}

std::uint64_t PipeWireAudioLibrary::underrunFrames() const
{
    std::uint64_t frames = 0;
    for (const auto &[handle, mixer] : mixers_)
        frames += mixer->mixer->underrunFrames();
    return frames;
}

std::uint64_t PipeWireAudioLibrary::playbackUnderflows() const
{
    std::uint64_t underflows = 0;
    for (const auto &[handle, mixer] : mixers_)
        underflows += mixer->underflows.load(std::memory_order_relaxed);
    return underflows;
}

std::uint32_t PipeWireAudioLibrary::grantedQuantum() const
{
    std::uint32_t quantum = 0;
    for (const auto &[handle, capture] : captures_)
        quantum = std::max(quantum, capture->quantum.load(std::memory_order_relaxed));
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
    // uses the old plug once this returns.
    pw_loop_invoke(connection_->dataLoop(), apply, 0, &change, sizeof change, true, nullptr);
}

void PipeWireAudioLibrary::unplug(Capture &capture)
{
    plug(capture, nullptr);
    capture.mixer->mixer->detachInput(capture.input);
    capture.mixer = nullptr;
    capture.input = -1;
}

void PipeWireAudioLibrary::unplugAll()
{
    for (auto &[handle, capture] : captures_)
        if (capture->mixer != nullptr)
            unplug(*capture);
}

void PipeWireAudioLibrary::freeMixers()
{
    unplugAll();
    std::lock_guard lock(*connection_);
    for (auto &[handle, mixer] : mixers_)
        closeStream(*mixer);
    mixers_.clear();
}

void PipeWireAudioLibrary::freeCaptures()
{
    unplugAll();
    std::lock_guard lock(*connection_);
    for (auto &[handle, capture] : captures_)
        closeStream(*capture);
    captures_.clear();
}

bool PipeWireAudioLibrary::openStream(Stream &stream, bool capture, const std::string &target)
{
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
    if (!target.empty()) {
        const auto sink = capture ? connection_->monitoredSink(target) : std::nullopt;
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, sink ? sink->c_str() : target.c_str());
        if (sink)
            pw_properties_set(props, PW_KEY_STREAM_CAPTURE_SINK, "true");
        // A device chosen by name stays that device.
        pw_properties_set(props, PW_KEY_NODE_DONT_RECONNECT, "true");
    }
    stream.connection = connection_.get();
    stream.stream = pw_stream_new(connection_->core(), stream.name.c_str(), props);
    if (stream.stream == nullptr) {
        connection_->report("making stream " + stream.name);
        return false;
    }
    static const pw_stream_events stateEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = [](void *data, pw_stream_state, pw_stream_state state,
                                  const char *) {
            auto *self = static_cast<Stream *>(data);
            self->state = state;
            self->connection->signal();
        };
        return events;
    }();
    static const pw_stream_events captureEvents = [] {
        pw_stream_events events = stateEvents;
        events.process = onCaptureProcess;
        return events;
    }();
    static const pw_stream_events playbackEvents = [] {
        pw_stream_events events = stateEvents;
        events.process = onPlaybackProcess;
        return events;
    }();
    pw_stream_add_listener(stream.stream, &stream.listener,
                           capture ? &captureEvents : &playbackEvents, &stream);

    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = stream.rate;
    info.channels = kChannels;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::uint8_t buffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod *params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(stream.stream, capture ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT,
                          PW_ID_ANY, flags, params, 1) < 0 ||
        !connection_->waitUntil([&] { return settled(stream.state) || !connection_->ready(); }) ||
        stream.state == PW_STREAM_STATE_ERROR || !connection_->ready()) {
        connection_->report("opening stream " + stream.name);
        closeStream(stream);
        return false;
    }
    connection_->nameDataThread();
    return true;
}

void PipeWireAudioLibrary::closeStream(Stream &stream)
{
    if (stream.stream == nullptr)
        return;
    spa_hook_remove(&stream.listener);
    pw_stream_destroy(stream.stream);
    stream.stream = nullptr;
}

AudioHandle PipeWireAudioLibrary::newHandle()
{
    // Handles are never reused while the library lives, so a stale one can
    // never name a newer channel (until the counter wraps after 4 billion).
    do {
        ++lastHandle_;
    } while (lastHandle_ == 0 || captures_.contains(lastHandle_) || mixers_.contains(lastHandle_));
    return lastHandle_;
}

PipeWireAudioLibrary::Capture *PipeWireAudioLibrary::findCapture(AudioHandle handle)
{
    auto found = captures_.find(handle);
    return found == captures_.end() ? nullptr : found->second.get();
}

PipeWireAudioLibrary::Mixer *PipeWireAudioLibrary::findMixer(AudioHandle handle)
{
    auto found = mixers_.find(handle);
    return found == mixers_.end() ? nullptr : found->second.get();
}

void PipeWireAudioLibrary::onCaptureProcess(void *data)
{
    auto &capture = static_cast<Capture &>(*static_cast<Stream *>(data));
    pw_buffer *buffer = pw_stream_dequeue_buffer(capture.stream);
    if (buffer == nullptr)
        return;
    const spa_data &block = buffer->buffer->datas[0];
    const std::size_t frames = block.chunk->size / kFrameBytes;
    const std::uint32_t quantum =
        static_cast<std::uint32_t>(frames * kGraphRate / std::max<std::uint32_t>(capture.rate, 1));
    if (quantum > capture.quantum.load(std::memory_order_relaxed))
        capture.quantum.store(quantum, std::memory_order_relaxed);
    if (capture.plugged != nullptr && block.data != nullptr) {
        const auto *samples = reinterpret_cast<const float *>(
            static_cast<const std::uint8_t *>(block.data) + block.chunk->offset);
        capture.plugged->mixer->push(capture.input, samples, frames);
    }
    pw_stream_queue_buffer(capture.stream, buffer);
}

void PipeWireAudioLibrary::onPlaybackProcess(void *data)
{
    auto &mixer = static_cast<Mixer &>(*static_cast<Stream *>(data));
    pw_buffer *buffer = pw_stream_dequeue_buffer(mixer.stream);
    if (buffer == nullptr) {
        mixer.underflows.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    spa_data &block = buffer->buffer->datas[0];
    std::size_t frames = buffer->requested != 0 ? buffer->requested : mixer.cycleFrames;
    frames = std::min<std::size_t>(frames, block.maxsize / kFrameBytes);
    if (block.data == nullptr)
        frames = 0;
    else if (mixer.playing.load(std::memory_order_relaxed))
        mixer.mixer->render(static_cast<float *>(block.data), frames);
    else
        std::fill_n(static_cast<float *>(block.data), frames * kChannels, 0.0f);
    block.chunk->offset = 0;
    block.chunk->stride = kFrameBytes;
    block.chunk->size = static_cast<std::uint32_t>(frames * kFrameBytes);
    buffer->size = frames;
    pw_stream_queue_buffer(mixer.stream, buffer);
}
