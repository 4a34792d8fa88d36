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
    return 1000.0 * static_cast<double>(bytes / MixingAudioLibrary::kFrameBytes) / rate;
}

std::uint32_t bytesFor(double ms, std::uint32_t rate)
{
    auto frames = static_cast<std::uint32_t>(std::lround(ms * rate / 1000.0));
    return std::max<std::uint32_t>(frames, 1) * MixingAudioLibrary::kFrameBytes;
}

// Frames converted at a time, at the stream's rate.
constexpr std::size_t kChunkFrames = 256;

std::optional<RateConverter> converterBetween(std::uint32_t rate, std::uint32_t streamRate)
{
    if (streamRate == rate)
        return std::nullopt;
    return RateConverter(rate, streamRate);
}

} // namespace

PulseAudioLibrary::Capture::Capture(std::uint32_t rate, std::uint32_t streamRate)
    : MixingAudioLibrary::Capture(rate), streamRate(streamRate),
      converter(converterBetween(rate, streamRate))
{
}

PulseAudioLibrary::Mixer::Mixer(std::uint32_t rate, std::uint32_t streamRate, double targetDelayMs)
    : MixingAudioLibrary::Mixer(rate, targetDelayMs), streamRate(streamRate),
      converter(converterBetween(rate, streamRate))
{
}

PulseAudioLibrary::PulseAudioLibrary() : PulseAudioLibrary(Options{}) {}

PulseAudioLibrary::PulseAudioLibrary(Options options) : options_(std::move(options)) {}

PulseAudioLibrary::~PulseAudioLibrary()
{
    // Before the loop thread stops with the connection.
    freeChannels();
}

void PulseAudioLibrary::makeConnection()
{
    connection_ = std::make_unique<PulseConnection>(
        PulseConnection::Properties{{PA_PROP_APPLICATION_NAME, options_.applicationName},
                                    {PA_PROP_APPLICATION_ID, options_.applicationId},
                                    {PA_PROP_APPLICATION_ICON_NAME, options_.iconName}},
        options_.timeout, kAudioThreadName, options_.server);
    connection_->onDeviceAdded(
        [this](Direction direction, const std::string &device) { reopen(direction, device); });
    connection_->onDevicesChanged([this] { noteDeviceListChanged(); });
}

std::optional<std::vector<DeviceListing::Device>>
PulseAudioLibrary::listDevices(Direction direction)
{
    return connection_->devices(direction);
}

std::optional<std::string> PulseAudioLibrary::defaultDeviceName(Direction direction)
{
    return connection_->defaultDeviceName(direction);
}

std::unique_ptr<MixingAudioLibrary::Capture>
PulseAudioLibrary::openCapture(const std::string &name, std::uint32_t rate,
                               const std::string &device)
{
    auto capture = std::make_unique<Capture>(rate, streamRate(Direction::Capture, device, rate));
    capture->library = this;
    capture->device = device;
    capture->grant.stream = name;
    capture->client = captureClient();
    if (!capture->client) {
        connection_->report("connecting for capture stream " + name);
        return nullptr;
    }
    if (!openStream(*capture, "capture"))
        return nullptr;
    return capture;
}

std::unique_ptr<MixingAudioLibrary::Mixer>
PulseAudioLibrary::openMixer(const std::string &name, std::uint32_t rate, const std::string &device)
{
    auto mixer = std::make_unique<Mixer>(rate, streamRate(Direction::Playback, device, rate),
                                         options_.mixerDelayMs);
    mixer->device = device;
    mixer->grant.stream = name;
    mixer->reserveMarginMs = options_.playbackReserveMs - options_.playbackRequestMs;
    if (!openStream(*mixer, "playback"))
        return nullptr;
    return mixer;
}

std::shared_ptr<pa_context> PulseAudioLibrary::captureClient()
{
    // Apart from the headphones' client: a capture that shares it comes
    // about 1 ms later on PulseAudio. PipeWire's pulse layer also holds a
    // capture's sound back while its client has any other message still to
    // send, and behind the other radio's messages a capture came hundreds of
    // ms late on a loaded machine, a gap in the operator's ear: there each
    // capture has a client of its own. PulseAudio does not, and each client
    // maps the server's memory pool anew, some 1.5 MB resident, so there the
    // captures share one.
    if (auto shared = sharedCaptureClient_.lock();
        shared && !connection_->pipeWire() &&
        PA_CONTEXT_IS_GOOD(pa_context_get_state(shared.get())))
        return shared;
    std::shared_ptr<pa_context> client = connection_->newStreamClient();
    if (!connection_->pipeWire())
        sharedCaptureClient_ = client;
    return client;
}

std::uint32_t PulseAudioLibrary::streamRate(Direction direction, const std::string &device,
                                            std::uint32_t rate)
{
    const auto name = device.empty() ? connection_->defaultDeviceName(direction) : device;
    const auto devices = connection_->devices(direction);
    if (!name || !devices)
        return rate;
    const auto found = std::ranges::find(*devices, *name, &DeviceListing::Device::name);
    return found != devices->end() && found->rate > rate ? found->rate : rate;
}

bool PulseAudioLibrary::runMixer(MixingAudioLibrary::Mixer &mixer, bool running, bool flush)
{
    return cork(static_cast<Mixer &>(mixer), !running, flush);
}

MixingAudioLibrary::InputTiming
PulseAudioLibrary::inputTiming(const MixingAudioLibrary::Capture &capture)
{
    std::lock_guard lock(connection_->loop());
    return {inputDelayMs(static_cast<const Capture &>(capture)), AdaptiveResampler::Clock::kOwn};
}

double PulseAudioLibrary::inputDelayMs(const Capture &capture) const
{
    // The grants alone do not show a graph's cycle: PipeWire's pulse layer
    // takes the playback a cycle at a time whatever request was granted,
    // and brings the captures a cycle at a time in any phase to it, so
    // there the input holds a cycle more, or every cycle that brings one
    // capture fragment less than it takes runs it dry. On PulseAudio,
    // mixerDelayMs covers pulls up to the queue's reserve.
    double delayMs = options_.mixerDelayMs +
                     std::max(0.0, capture.grant.fragmentMs - options_.captureFragmentMs);
    if (capture.mixer != nullptr) {
        const double pulled = pulledMs(static_cast<const Mixer &>(*capture.mixer));
        delayMs +=
            connection_->pipeWire() ? pulled : std::max(0.0, pulled - options_.playbackReserveMs);
    }
    return delayMs;
}

double PulseAudioLibrary::pulledMs(const Mixer &mixer)
{
    return msFor(static_cast<std::uint32_t>(mixer.pulls.recurringFrames() * kFrameBytes),
                 mixer.streamRate);
}

void PulseAudioLibrary::route(MixingAudioLibrary::Capture &capture,
                              MixingAudioLibrary::Mixer *mixer, int input)
{
    std::lock_guard lock(connection_->loop());
    capture.mixer = mixer;
    capture.input = input;
}

std::vector<PulseAudioLibrary::Grant> PulseAudioLibrary::grants() const
{
    std::vector<Grant> granted;
    if (!connection_)
        return granted;
    std::lock_guard lock(connection_->loop());
    for (const auto &[handle, capture] : captures_)
        granted.push_back(static_cast<const Capture &>(*capture).grant);
    for (const auto &[handle, channel] : mixers_) {
        const auto &mixer = static_cast<const Mixer &>(*channel);
        granted.push_back(mixer.grant);
        granted.back().pullMs = pulledMs(mixer);
    }
    return granted;
}

PulseStream PulseAudioLibrary::newStream(const std::string &name, std::uint32_t rate,
                                         pa_context *client)
{
    // Session managers keep a volume per application, not per stream: each
    // stream names itself as its own, so that the two radios' volumes stay
    // apart.
    const std::string key = options_.applicationId + "." + name;
    return connection_->newStereoStream(
        name, rate,
        {{PA_PROP_APPLICATION_ID, key},
         {"module-stream-restore.id", key},
         {"resample.quality", std::to_string(options_.resampleQuality)}},
        client);
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
    // Emptied, not taken: no pull to measure, and what plays next starts
    // from silence.
    if (flush) {
        mixer.queuedAfterFill = 0;
        if (mixer.converter)
            mixer.converter->reset();
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

template <typename Channel> bool PulseAudioLibrary::openStream(Channel &channel, const char *kind)
{
    if (!connectChannel(channel) || !connection_->waitUntilReady(channel.stream.get())) {
        connection_->report(std::string("opening ") + kind + " stream " + channel.grant.stream);
        return false;
    }
    watch(channel);
    return true;
}

template <typename Channel, typename Connect>
bool PulseAudioLibrary::replaceStream(Channel &channel, Connect connect)
{
    PulseStream stream = newStream(channel.grant.stream, channel.streamRate, clientOf(channel));
    if (!stream || !connect(stream.get()))
        return false;
    channel.stream = std::move(stream);
    channel.lost = false;
    return true;
}

bool PulseAudioLibrary::connectChannel(Capture &capture)
{
    return replaceStream(capture, [this, &capture](pa_stream *stream) {
        pa_stream_set_read_callback(stream, onRead, &capture);
        pa_stream_set_buffer_attr_callback(stream, onCaptureGrant, &capture);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = bytesFor(options_.captureFragmentMs, capture.streamRate);
        const auto streamFlags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | pinnedTo(capture.device));
        return pa_stream_connect_record(stream, deviceOrDefault(capture.device), &attr,
                                        streamFlags) == 0;
    });
}

bool PulseAudioLibrary::connectChannel(Mixer &mixer)
{
    return replaceStream(mixer, [this, &mixer](pa_stream *stream) {
        pa_stream_set_write_callback(stream, onWrite, &mixer);
        pa_stream_set_underflow_callback(stream, onUnderflow, &mixer);
        pa_stream_set_buffer_attr_callback(stream, onMixerGrant, &mixer);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = bytesFor(options_.playbackBufferMs, mixer.streamRate);
        attr.minreq = bytesFor(options_.playbackRequestMs, mixer.streamRate);
        // No prebuffering: after a late write the server plays the gap as
        // silence and carries on at the same delay, instead of stopping the
        // stream and adding the gap to the delay for good.
        attr.prebuf = 0;
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // Early requests keep the device's share of the latency at one
        // request; adjusted latency would give it half the buffer and leave
        // the queue that rides out stalls only half of it.
        const auto streamFlags = static_cast<pa_stream_flags_t>(
            PA_STREAM_EARLY_REQUESTS | PA_STREAM_START_CORKED | pinnedTo(mixer.device));
        return pa_stream_connect_playback(stream, deviceOrDefault(mixer.device), &attr, streamFlags,
                                          nullptr, nullptr) == 0;
    });
}

template <typename Channel, typename Channels>
void PulseAudioLibrary::reopenLost(Channels &channels, const std::string &device)
{
    for (auto &[handle, channel] : channels) {
        auto &own = static_cast<Channel &>(*channel);
        if (own.lost && reopensOn(own.device, device) && connectChannel(own))
            watch(own);
    }
}

void PulseAudioLibrary::reopen(Direction direction, const std::string &device)
{
    if (direction == Direction::Capture)
        reopenLost<Capture>(captures_, device);
    else
        reopenLost<Mixer>(mixers_, device);
}

void PulseAudioLibrary::watch(Capture &capture)
{
    pa_stream_set_state_callback(capture.stream.get(), onCaptureState, &capture);
    onCaptureState(capture.stream.get(), &capture);
}

void PulseAudioLibrary::watch(Mixer &mixer)
{
    pa_stream_set_state_callback(mixer.stream.get(), onMixerState, &mixer);
    onMixerState(mixer.stream.get(), &mixer);
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
        if (data != nullptr && capture->mixer != nullptr)
            push(*capture, static_cast<const float *>(data), bytes / kFrameBytes);
        pa_stream_drop(stream);
    }
    if (capture->mixer != nullptr) {
        capture->mixer->realtimeMixer->raiseTarget(capture->input,
                                                   capture->library->inputDelayMs(*capture));
        fill(static_cast<Mixer &>(*capture->mixer));
    }
}

void PulseAudioLibrary::push(Capture &capture, const float *frames, std::size_t count)
{
    RealtimeMixer &mixer = *capture.mixer->realtimeMixer;
    if (!capture.converter) {
        mixer.push(capture.input, frames, count);
        return;
    }
    float converted[kChunkFrames * kChannels];
    for (std::size_t done = 0; done < count; done += kChunkFrames) {
        const std::size_t chunk = std::min(kChunkFrames, count - done);
        mixer.push(capture.input, converted,
                   capture.converter->down(frames + done * kChannels, chunk, converted));
    }
}

void PulseAudioLibrary::render(Mixer &mixer, float *frames, std::size_t count)
{
    if (!mixer.converter) {
        mixer.realtimeMixer->render(frames, count);
        return;
    }
    float mixed[kChunkFrames * kChannels];
    for (std::size_t done = 0; done < count; done += kChunkFrames) {
        const std::size_t chunk = std::min(kChunkFrames, count - done);
        mixer.realtimeMixer->render(mixed, mixer.converter->upInputFrames(chunk));
        mixer.converter->up(mixed, chunk, frames + done * kChannels);
    }
}

void PulseAudioLibrary::onWrite(pa_stream *, std::size_t, void *userdata)
{
    fill(*static_cast<Mixer *>(userdata));
}

void PulseAudioLibrary::onCaptureGrant(pa_stream *stream, void *userdata)
{
    auto &capture = *static_cast<Capture *>(userdata);
    capture.grant.fragmentMs =
        msFor(pa_stream_get_buffer_attr(stream)->fragsize, capture.streamRate);
}

void PulseAudioLibrary::onMixerGrant(pa_stream *stream, void *userdata)
{
    auto &mixer = *static_cast<Mixer *>(userdata);
    const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream);
    mixer.grant.bufferMs = msFor(granted->tlength, mixer.streamRate);
    mixer.grant.requestMs = msFor(granted->minreq, mixer.streamRate);
    configureWriteRule(mixer);
}

void PulseAudioLibrary::configureWriteRule(Mixer &mixer)
{
    // A server that takes more than was asked at once, a larger granted
    // request or a whole graph cycle, takes it in one go: the queue has to
    // keep one of those plus the margin in hand.
    const double takenMs = std::max(mixer.grant.requestMs, pulledMs(mixer));
    mixer.writeRule.configure(pa_stream_get_buffer_attr(mixer.stream.get())->tlength / kFrameBytes,
                              bytesFor(takenMs + mixer.reserveMarginMs, mixer.streamRate) /
                                  kFrameBytes);
}

void PulseAudioLibrary::onUnderflow(pa_stream *, void *userdata)
{
    auto *mixer = static_cast<Mixer *>(userdata);
    mixer->underflows.fetch_add(1, std::memory_order_relaxed);
    mixer->behindServer = true;
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
    // A queue found empty tells nothing of the pull's size: the server may
    // have run on past it.
    const std::size_t queued = mixer.writeRule.queued(writable / kFrameBytes);
    if (queued != 0 && mixer.queuedAfterFill > queued) {
        const std::size_t known = mixer.pulls.recurringFrames();
        mixer.pulls.moved(mixer.queuedAfterFill - queued);
        if (mixer.pulls.recurringFrames() != known)
            configureWriteRule(mixer);
    }
    mixer.queuedAfterFill = queued;
    const std::size_t ready = mixer.realtimeMixer->readyFrames();
    std::size_t frames = mixer.writeRule.framesToMix(
        writable / kFrameBytes, mixer.converter ? mixer.converter->upOutputFrames(ready) : ready);
    while (frames > 0) {
        void *data = nullptr;
        std::size_t granted = frames * kFrameBytes;
        if (pa_stream_begin_write(mixer.stream.get(), &data, &granted) < 0 || granted < kFrameBytes)
            return;
        const std::size_t part = std::min(frames, granted / kFrameBytes);
        render(mixer, static_cast<float *>(data), part);
        // Once it has played silence, the server reads ahead of what was
        // written: written after that, the sound would fall into the past
        // and the stream stay silent while it is fed.
        const pa_seek_mode_t seek =
            mixer.behindServer ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE;
        mixer.behindServer = false;
        pa_stream_write(mixer.stream.get(), data, part * kFrameBytes, nullptr, 0, seek);
        mixer.queuedAfterFill += part;
        frames -= part;
    }
}
