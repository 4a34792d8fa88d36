#include "PulseAudioLibrary.h"

#include "RealtimeMixer.h"

#include <pulse/context.h>
#include <pulse/stream.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>

namespace {

using Direction = PulseConnection::Direction;

constexpr std::uint32_t kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);

// A device chosen by name stays that device; only the default (no name)
// follows the server's choice.
pa_stream_flags_t pinnedTo(const std::string &device)
{
    return device.empty() ? PA_STREAM_NOFLAGS : PA_STREAM_DONT_MOVE;
}

const char *deviceOrDefault(const std::string &device)
{
    return device.empty() ? nullptr : device.c_str();
}

double msFor(std::uint32_t bytes, std::uint32_t rate)
{
    return 1000.0 * static_cast<double>(bytes / kFrameBytes) / rate;
}

std::uint32_t bytesFor(double ms, std::uint32_t rate)
{
    auto frames = static_cast<std::uint32_t>(std::lround(ms * rate / 1000.0));
    return std::max<std::uint32_t>(frames, 1) * kFrameBytes;
}

// Closes the stream of every channel in `channels` and forgets them.
template <typename Channels> void closeAll(PulseConnection &connection, Channels &channels)
{
    std::lock_guard lock(connection.loop());
    channels.clear();
}

bool validStreamFormat(std::uint32_t frequency, std::uint32_t channels)
{
    return channels == kChannels && frequency > 0 && frequency <= PA_RATE_MAX;
}

} // namespace

PulseAudioLibrary::PulseAudioLibrary() : PulseAudioLibrary(Options{}) {}

PulseAudioLibrary::PulseAudioLibrary(Options options) : options_(std::move(options)) {}

PulseAudioLibrary::~PulseAudioLibrary()
{
    if (connection_) {
        freeMixers();
        freeCaptures();
        // The loop thread stops here, before the channels' maps go.
        connection_.reset();
    }
}

std::uint32_t PulseAudioLibrary::GetVersion()
{
    return kVersion;
}

bool PulseAudioLibrary::connect()
{
    try {
        if (!connection_) {
            connection_ = std::make_unique<PulseConnection>(
                PulseConnection::Properties{{PA_PROP_APPLICATION_NAME, options_.applicationName},
                                            {PA_PROP_APPLICATION_ID, options_.applicationId},
                                            {PA_PROP_APPLICATION_ICON_NAME, options_.iconName}},
                options_.timeout, kAudioThreadName);
            connection_->onDeviceAdded([this](Direction direction, const std::string &device) {
                reopen(direction, device);
            });
        }
    } catch (const std::exception &) {
        return false;
    }
    if (!serverAlive()) {
        std::lock_guard lock(connection_->loop());
        return connection_->connect(options_.server);
    }
    return true;
}

bool PulseAudioLibrary::serverAlive()
{
    if (!connection_)
        return false;
    {
        std::lock_guard lock(connection_->loop());
        if (connection_->ready())
            return true;
        if (connection_->context() == nullptr)
            return false;
    }
    // The server closed the connection: the streams made on it are gone.
    {
        std::lock_guard lock(connection_->loop());
        connection_->report("the connection to the sound server");
    }
    freeMixers();
    freeCaptures();
    initialized_ = false;
    std::lock_guard lock(connection_->loop());
    connection_->disconnect();
    return false;
}

bool PulseAudioLibrary::resolveDevice(Direction direction, int device, std::string &name)
{
    AudioDeviceInfo info;
    if (!deviceInfo(direction, device, info, false))
        return false;
    name = device == -1 ? std::string() : info.driver;
    return true;
}

bool PulseAudioLibrary::deviceInfo(Direction direction, int device, AudioDeviceInfo &info,
                                   bool walking)
{
    if (device < -1 || !connect())
        return false;
    Walk &walk = walks_[direction == Direction::Playback ? 0 : 1];
    const bool continued = walking && device >= 0 && device == walk.next;
    walk.next = -1;
    std::lock_guard lock(connection_->loop());
    if (!continued) {
        auto devices = connection_->devices(direction);
        if (!devices)
            return false;
        walk.devices = std::move(*devices);
    }
    std::string name;
    if (device == -1) {
        auto defaultName = connection_->defaultDeviceName(direction);
        if (!defaultName)
            return false;
        name = *defaultName;
    } else if (static_cast<std::size_t>(device) < walk.devices.size()) {
        name = walk.devices[static_cast<std::size_t>(device)].name;
    }
    for (const auto &found : walk.devices) {
        if (found.name == name) {
            info.name = found.description;
            info.driver = found.name;
            info.flags = 0;
            if (device >= 0)
                walk.next = device + 1;
            return true;
        }
    }
    return false;
}

bool PulseAudioLibrary::Init(int device, std::uint32_t frequency, std::uint32_t flags)
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

bool PulseAudioLibrary::Free()
{
    if (connection_)
        freeMixers();
    initialized_ = false;
    playbackDevice_.clear();
    return true;
}

bool PulseAudioLibrary::GetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Playback, device, info, true);
}

bool PulseAudioLibrary::RecordGetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Capture, device, info, true);
}

bool PulseAudioLibrary::RecordInit(int device)
{
    std::string name;
    if (!resolveDevice(Direction::Capture, device, name)) {
        // No capture until a device is made current again: the previous
        // one is some other radio.
        currentCaptureDevice_.reset();
        return false;
    }
    currentCaptureDevice_ = name;
    return true;
}

AudioHandle PulseAudioLibrary::RecordStart(std::uint32_t frequency, std::uint32_t channels,
                                           std::uint32_t flags)
{
    (void)flags;
    if (!currentCaptureDevice_ || !validStreamFormat(frequency, channels) || !serverAlive())
        return 0;
    // Locked first, so that a capture given up on releases its stream while
    // the loop is still locked.
    std::lock_guard lock(connection_->loop());
    auto capture = std::make_unique<Capture>();
    capture->rate = frequency;
    capture->device = *currentCaptureDevice_;
    capture->grant.stream = "Radio " + std::to_string(++capturesStarted_);
    if (!connectCapture(*capture) || !connection_->waitUntilReady(capture->stream.get())) {
        connection_->report("opening capture stream " + capture->grant.stream);
        return 0;
    }
    pa_stream_set_state_callback(capture->stream.get(), onCaptureState, capture.get());
    onCaptureGrant(capture->stream.get(), capture.get());
    AudioHandle handle = newHandle();
    captures_.emplace(handle, std::move(capture));
    return handle;
}

bool PulseAudioLibrary::RecordFree()
{
    if (connection_)
        freeCaptures();
    currentCaptureDevice_.reset();
    capturesStarted_ = 0;
    return true;
}

bool PulseAudioLibrary::ChannelPlay(AudioHandle channel, bool restart)
{
    return setRunning(channel, true, restart);
}

bool PulseAudioLibrary::ChannelPause(AudioHandle channel)
{
    return setRunning(channel, false, false);
}

bool PulseAudioLibrary::ChannelStop(AudioHandle channel)
{
    return setRunning(channel, false, true);
}

bool PulseAudioLibrary::setRunning(AudioHandle channel, bool running, bool flush)
{
    if (!serverAlive())
        return false;
    if (Mixer *mixer = findMixer(channel))
        return cork(*mixer, !running, flush);
    Capture *capture = findCapture(channel);
    if (capture == nullptr)
        return false;
    // A capture keeps recording while paused or stopped, so that it comes
    // back at once and at the delay it had; only its gain in the mix drops.
    capture->paused = !running;
    if (capture->mixer != nullptr)
        capture->mixer->realtimeMixer->setPaused(capture->input, !running);
    return true;
}

AudioHandle PulseAudioLibrary::MixerStreamCreate(std::uint32_t frequency, std::uint32_t channels,
                                                 std::uint32_t flags)
{
    (void)flags;
    if (!initialized_ || !validStreamFormat(frequency, channels) || !serverAlive())
        return 0;
    std::lock_guard lock(connection_->loop());
    auto mixer = std::make_unique<Mixer>();
    mixer->rate = frequency;
    RealtimeMixer::Config config;
    config.sampleRate = frequency;
    config.targetDelayMs = options_.mixerDelayMs;
    mixer->realtimeMixer = std::make_unique<RealtimeMixer>(config);
    mixer->device = playbackDevice_;
    mixer->grant.stream = "Headphones";
    mixer->reserveMarginMs = options_.playbackReserveMs - options_.playbackRequestMs;
    if (!connectMixer(*mixer) || !connection_->waitUntilReady(mixer->stream.get())) {
        connection_->report("opening playback stream " + mixer->grant.stream);
        return 0;
    }
    pa_stream_set_state_callback(mixer->stream.get(), onMixerState, mixer.get());
    onMixerGrant(mixer->stream.get(), mixer.get());
    AudioHandle handle = newHandle();
    mixers_.emplace(handle, std::move(mixer));
    return handle;
}

bool PulseAudioLibrary::MixerStreamAddChannel(AudioHandle mixerHandle, AudioHandle channel,
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
    // A capture that comes in larger bursts than asked for needs as much more
    // in hand.
    double fragmentMs = 0.0;
    {
        std::lock_guard lock(connection_->loop());
        fragmentMs = capture->grant.fragmentMs;
    }
    const int input = mixer->realtimeMixer->attachInput(
        options_.mixerDelayMs + std::max(0.0, fragmentMs - options_.captureFragmentMs));
    if (input < 0)
        return false;
    mixer->realtimeMixer->setPaused(input, capture->paused);
    std::lock_guard lock(connection_->loop());
    capture->mixer = mixer;
    capture->input = input;
    return true;
}

bool PulseAudioLibrary::MixerChannelRemove(AudioHandle channel)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    unplug(*capture);
    return true;
}

bool PulseAudioLibrary::MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    matrix = capture->mixer->realtimeMixer->matrix(capture->input);
    return true;
}

bool PulseAudioLibrary::MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    capture->mixer->realtimeMixer->setMatrix(capture->input, matrix);
    return true;
}

std::uint64_t PulseAudioLibrary::underrunFrames() const
{
    std::uint64_t frames = 0;
    for (const auto &[handle, mixer] : mixers_)
        frames += mixer->realtimeMixer->underrunFrames();
    return frames;
}

std::vector<PulseAudioLibrary::Grant> PulseAudioLibrary::grants() const
{
    std::vector<Grant> granted;
    if (!connection_)
        return granted;
    std::lock_guard lock(connection_->loop());
    for (const auto &[handle, capture] : captures_)
        granted.push_back(capture->grant);
    for (const auto &[handle, mixer] : mixers_)
        granted.push_back(mixer->grant);
    return granted;
}

std::uint64_t PulseAudioLibrary::playbackUnderflows() const
{
    std::uint64_t underflows = 0;
    for (const auto &[handle, mixer] : mixers_)
        underflows += mixer->underflows.load(std::memory_order_relaxed);
    return underflows;
}

void PulseAudioLibrary::unplug(Capture &capture)
{
    Mixer *mixer = capture.mixer;
    {
        std::lock_guard lock(connection_->loop());
        capture.mixer = nullptr;
    }
    mixer->realtimeMixer->detachInput(capture.input);
    capture.input = -1;
}

void PulseAudioLibrary::unplugAll()
{
    for (auto &[handle, capture] : captures_)
        if (capture->mixer != nullptr)
            unplug(*capture);
}

void PulseAudioLibrary::freeMixers()
{
    unplugAll();
    closeAll(*connection_, mixers_);
}

void PulseAudioLibrary::freeCaptures()
{
    unplugAll();
    closeAll(*connection_, captures_);
}

PulseStream PulseAudioLibrary::newStream(const std::string &name, std::uint32_t rate)
{
    // Session managers keep a volume per application, not per stream: each
    // stream names itself as its own, so that the two radios' volumes stay
    // apart.
    const std::string key = options_.applicationId + "." + name;
    return connection_->newStereoStream(
        name, rate, {{PA_PROP_APPLICATION_ID, key}, {"module-stream-restore.id", key}});
}

AudioHandle PulseAudioLibrary::newHandle()
{
    // Handles are never reused while the library lives, so a stale one can
    // never name a newer channel (until the counter wraps after 4 billion).
    do {
        ++lastHandle_;
    } while (lastHandle_ == 0 || captures_.contains(lastHandle_) || mixers_.contains(lastHandle_));
    return lastHandle_;
}

PulseAudioLibrary::Capture *PulseAudioLibrary::findCapture(AudioHandle handle)
{
    auto found = captures_.find(handle);
    return found == captures_.end() ? nullptr : found->second.get();
}

PulseAudioLibrary::Mixer *PulseAudioLibrary::findMixer(AudioHandle handle)
{
    auto found = mixers_.find(handle);
    return found == mixers_.end() ? nullptr : found->second.get();
}

bool PulseAudioLibrary::cork(Mixer &mixer, bool corked, bool flush)
{
    std::lock_guard lock(connection_->loop());
    // Away from its device: the stream reopens as asked last.
    if (pa_stream_get_state(mixer.stream.get()) != PA_STREAM_READY) {
        mixer.corked = corked;
        return true;
    }
    if (flush && !connection_->await(
                     PulseOperation(pa_stream_flush(mixer.stream.get(), nullptr, nullptr)))) {
        connection_->report("emptying playback stream " + mixer.grant.stream);
        return false;
    }
    if (!connection_->await(
            PulseOperation(pa_stream_cork(mixer.stream.get(), corked ? 1 : 0, nullptr, nullptr)))) {
        connection_->report((corked ? "pausing playback stream " : "starting playback stream ") +
                            mixer.grant.stream);
        return false;
    }
    mixer.corked = corked;
    return true;
}

bool PulseAudioLibrary::connectCapture(Capture &capture)
{
    PulseStream stream = newStream(capture.grant.stream, capture.rate);
    if (!stream)
        return false;
    pa_stream_set_read_callback(stream.get(), onRead, &capture);
    pa_stream_set_buffer_attr_callback(stream.get(), onCaptureGrant, &capture);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = bytesFor(options_.captureFragmentMs, capture.rate);
    const auto streamFlags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | pinnedTo(capture.device));
    if (pa_stream_connect_record(stream.get(), deviceOrDefault(capture.device), &attr,
                                 streamFlags) < 0)
        return false;
    capture.stream = std::move(stream);
    capture.lost = false;
    return true;
}

bool PulseAudioLibrary::connectMixer(Mixer &mixer)
{
    PulseStream stream = newStream(mixer.grant.stream, mixer.rate);
    if (!stream)
        return false;
    pa_stream_set_write_callback(stream.get(), onWrite, &mixer);
    pa_stream_set_underflow_callback(stream.get(), onUnderflow, &mixer);
    pa_stream_set_buffer_attr_callback(stream.get(), onMixerGrant, &mixer);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(options_.playbackBufferMs, mixer.rate);
    attr.minreq = bytesFor(options_.playbackRequestMs, mixer.rate);
    // No prebuffering: after a late write the server plays the gap as silence
    // and carries on at the same delay, instead of stopping the stream and
    // adding the gap to the delay for good.
    attr.prebuf = 0;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // Early requests keep the device's share of the latency at one request;
    // adjusted latency would give it half the buffer and leave the queue
    // that rides out stalls only half of it.
    const auto streamFlags = static_cast<pa_stream_flags_t>(
        PA_STREAM_EARLY_REQUESTS | PA_STREAM_START_CORKED | pinnedTo(mixer.device));
    if (pa_stream_connect_playback(stream.get(), deviceOrDefault(mixer.device), &attr, streamFlags,
                                   nullptr, nullptr) < 0)
        return false;
    mixer.stream = std::move(stream);
    mixer.lost = false;
    return true;
}

void PulseAudioLibrary::reopen(Direction direction, const std::string &device)
{
    // One on the default device that the server could not move elsewhere
    // takes any device that comes.
    const auto wanted = [&device](const auto &channel) {
        return channel.lost && (channel.device.empty() || channel.device == device);
    };
    if (direction == Direction::Capture) {
        for (auto &[handle, capture] : captures_)
            if (wanted(*capture) && connectCapture(*capture))
                pa_stream_set_state_callback(capture->stream.get(), onCaptureState, capture.get());
    } else {
        for (auto &[handle, mixer] : mixers_)
            if (wanted(*mixer) && connectMixer(*mixer))
                pa_stream_set_state_callback(mixer->stream.get(), onMixerState, mixer.get());
    }
}

void PulseAudioLibrary::onCaptureState(pa_stream *stream, void *userdata)
{
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state))
        static_cast<Capture *>(userdata)->lost = true;
    else if (state == PA_STREAM_READY)
        onCaptureGrant(stream, userdata);
}

void PulseAudioLibrary::onMixerState(pa_stream *stream, void *userdata)
{
    auto *mixer = static_cast<Mixer *>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state)) {
        mixer->lost = true;
    } else if (state == PA_STREAM_READY) {
        onMixerGrant(stream, mixer);
        // Reopened corked, it plays again as it did, or as it was told while
        // away. The request goes out now; its answer is not waited for.
        if (!mixer->corked)
            PulseOperation uncork(pa_stream_cork(stream, 0, nullptr, nullptr));
    }
}

void PulseAudioLibrary::onRead(pa_stream *stream, std::size_t, void *userdata)
{
    auto *capture = static_cast<Capture *>(userdata);
    const void *data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        // data is nullptr for a hole in the capture; the mixer's resampler
        // rides over it.
        if (data != nullptr && capture->mixer != nullptr) {
            capture->mixer->realtimeMixer->push(capture->input, static_cast<const float *>(data),
                                                bytes / kFrameBytes);
        }
        pa_stream_drop(stream);
    }
    if (capture->mixer != nullptr)
        fill(*capture->mixer);
}

void PulseAudioLibrary::onWrite(pa_stream *, std::size_t, void *userdata)
{
    fill(*static_cast<Mixer *>(userdata));
}

void PulseAudioLibrary::onCaptureGrant(pa_stream *stream, void *userdata)
{
    auto &capture = *static_cast<Capture *>(userdata);
    capture.grant.fragmentMs = msFor(pa_stream_get_buffer_attr(stream)->fragsize, capture.rate);
}

void PulseAudioLibrary::onMixerGrant(pa_stream *stream, void *userdata)
{
    // A server that grants larger requests than asked takes each in one go:
    // the queue has to keep one of them plus the margin in hand.
    auto &mixer = *static_cast<Mixer *>(userdata);
    const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream);
    mixer.grant.bufferMs = msFor(granted->tlength, mixer.rate);
    mixer.grant.requestMs = msFor(granted->minreq, mixer.rate);
    mixer.writeRule.configure(granted->tlength / kFrameBytes,
                              bytesFor(mixer.grant.requestMs + mixer.reserveMarginMs, mixer.rate) /
                                  kFrameBytes);
}

void PulseAudioLibrary::onUnderflow(pa_stream *, void *userdata)
{
    static_cast<Mixer *>(userdata)->underflows.fetch_add(1, std::memory_order_relaxed);
}

void PulseAudioLibrary::fill(Mixer &mixer)
{
    // Away from its device, or reopening: asking would only leave an error
    // in the context for the next failure's report.
    if (pa_stream_get_state(mixer.stream.get()) != PA_STREAM_READY)
        return;
    const std::size_t writable = pa_stream_writable_size(mixer.stream.get());
    if (writable == static_cast<std::size_t>(-1))
        return;
    std::size_t frames =
        mixer.writeRule.framesToMix(writable / kFrameBytes, mixer.realtimeMixer->readyFrames());
    while (frames > 0) {
        void *data = nullptr;
        std::size_t granted = frames * kFrameBytes;
        if (pa_stream_begin_write(mixer.stream.get(), &data, &granted) < 0 || granted < kFrameBytes)
            return;
        const std::size_t part = std::min(frames, granted / kFrameBytes);
        mixer.realtimeMixer->render(static_cast<float *>(data), part);
        pa_stream_write(mixer.stream.get(), data, part * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        frames -= part;
    }
}
