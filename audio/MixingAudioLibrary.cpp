#include "MixingAudioLibrary.h"

#include "RealtimeMixer.h"

#include <stdexcept>
#include <utility>

MixingAudioLibrary::Mixer::Mixer(std::uint32_t rate, double targetDelayMs) : rate(rate)
{
    RealtimeMixer::Config config;
    config.sampleRate = rate;
    config.targetDelayMs = targetDelayMs;
    realtimeMixer = std::make_unique<RealtimeMixer>(config);
}

MixingAudioLibrary::Mixer::~Mixer() = default;

bool MixingAudioLibrary::validStreamFormat(std::uint32_t frequency, std::uint32_t channels)
{
    // The highest rate either server takes for a stream.
    constexpr std::uint32_t kMaxRate = 384000;
    return channels == kChannels && frequency > 0 && frequency <= kMaxRate;
}

std::uint32_t MixingAudioLibrary::GetVersion()
{
    return kVersion;
}

bool MixingAudioLibrary::connect()
{
    return serverAlive() || openConnection();
}

bool MixingAudioLibrary::openConnection()
{
    try {
        if (serverConnection() == nullptr)
            makeConnection();
    } catch (const std::exception &) {
        return false;
    }
    LoopLock lock(*this);
    if (serverConnection()->connect())
        return true;
    serverConnection()->report("connecting to the sound server");
    return false;
}

MixingAudioLibrary::ServerState MixingAudioLibrary::serverState()
{
    ServerConnection *connection = serverConnection();
    if (connection == nullptr)
        return ServerState::kNone;
    LoopLock lock(*this);
    if (connection->ready())
        return ServerState::kUp;
    if (!connection->broken())
        return ServerState::kNone;
    // The server closed the connection or stopped answering.
    connection->report("the connection to the sound server");
    return ServerState::kLost;
}

bool MixingAudioLibrary::serverAlive()
{
    switch (serverState()) {
    case ServerState::kUp:
        return true;
    case ServerState::kNone:
        return false;
    case ServerState::kLost:
        break;
    }
    // The streams made on the lost server are gone.
    freeChannels();
    initialized_ = false;
    LoopLock lock(*this);
    serverConnection()->disconnect();
    return false;
}

bool MixingAudioLibrary::captureFollowsDefault(const std::string &)
{
    return true;
}

bool MixingAudioLibrary::resolveDevice(Direction direction, int device, std::string &name)
{
    AudioDeviceInfo info;
    if (!deviceInfo(direction, device, info, false))
        return false;
    name = device == -1 ? std::string() : info.driver;
    return true;
}

bool MixingAudioLibrary::deviceInfo(Direction direction, int device, AudioDeviceInfo &info,
                                    bool walking)
{
    if (device < -1 || !connect())
        return false;
    Walk &walk = walks_[direction == Direction::Playback ? 0 : 1];
    const bool continued = walking && device >= 0 && device == walk.next;
    walk.next = -1;
    LoopLock lock(*this);
    if (!continued) {
        auto devices = listDevices(direction);
        if (!devices)
            return false;
        walk.devices = std::move(*devices);
    }
    std::string name;
    if (device == -1) {
        auto defaultName = defaultDeviceName(direction);
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
            info.busPath = found.busPath;
            info.flags = 0;
            if (device >= 0)
                walk.next = device + 1;
            return true;
        }
    }
    return false;
}

bool MixingAudioLibrary::Init(int device, std::uint32_t frequency, std::uint32_t flags)
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

bool MixingAudioLibrary::Free()
{
    freeMixers();
    initialized_ = false;
    playbackDevice_.clear();
    return true;
}

bool MixingAudioLibrary::GetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Playback, device, info, true);
}

bool MixingAudioLibrary::RecordGetDeviceInfo(int device, AudioDeviceInfo &info)
{
    return deviceInfo(Direction::Capture, device, info, true);
}

std::uint64_t MixingAudioLibrary::DeviceListChanges()
{
    return deviceListChanges_.load(std::memory_order_relaxed);
}

void MixingAudioLibrary::noteDeviceListChanged()
{
    deviceListChanges_.fetch_add(1, std::memory_order_relaxed);
}

bool MixingAudioLibrary::RecordInit(int device)
{
    // A missing device leaves none current: the previous one is some other
    // radio.
    currentCaptureDevice_.reset();
    AudioDeviceInfo info;
    if (!deviceInfo(Direction::Capture, device, info, false))
        return false;
    bool followDefault = device == -1;
    if (followDefault) {
        LoopLock lock(*this);
        followDefault = captureFollowsDefault(info.driver);
    }
    currentCaptureDevice_ = followDefault ? std::string() : info.driver;
    return true;
}

AudioHandle MixingAudioLibrary::RecordStart(std::uint32_t frequency, std::uint32_t channels,
                                            std::uint32_t flags)
{
    (void)flags;
    if (!currentCaptureDevice_)
        return 0;
    return openChannel(captures_, frequency, channels, [&] {
        return openCapture("Radio " + std::to_string(++capturesStarted_), frequency,
                           *currentCaptureDevice_);
    });
}

bool MixingAudioLibrary::RecordFree()
{
    freeCaptures();
    currentCaptureDevice_.reset();
    capturesStarted_ = 0;
    return true;
}

bool MixingAudioLibrary::ChannelPlay(AudioHandle channel, bool restart)
{
    return setRunning(channel, true, restart);
}

bool MixingAudioLibrary::ChannelPause(AudioHandle channel)
{
    return setRunning(channel, false, false);
}

bool MixingAudioLibrary::ChannelStop(AudioHandle channel)
{
    return setRunning(channel, false, true);
}

bool MixingAudioLibrary::setRunning(AudioHandle channel, bool running, bool flush)
{
    if (!serverAlive())
        return false;
    if (Mixer *mixer = findMixer(channel))
        return runMixer(*mixer, running, flush);
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

AudioHandle MixingAudioLibrary::MixerStreamCreate(std::uint32_t frequency, std::uint32_t channels,
                                                  std::uint32_t flags)
{
    (void)flags;
    if (!initialized_)
        return 0;
    return openChannel(mixers_, frequency, channels,
                       [&] { return openMixer("Headphones", frequency, playbackDevice_); });
}

bool MixingAudioLibrary::MixerStreamAddChannel(AudioHandle mixerHandle, AudioHandle channel,
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
    const InputTiming timing = inputTiming(*capture);
    const int input = mixer->realtimeMixer->attachInput(timing.delayMs, timing.clock);
    if (input < 0)
        return false;
    mixer->realtimeMixer->setPaused(input, capture->paused);
    route(*capture, mixer, input);
    return true;
}

bool MixingAudioLibrary::MixerChannelRemove(AudioHandle channel)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    unplug(*capture);
    return true;
}

bool MixingAudioLibrary::MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    matrix = capture->mixer->realtimeMixer->matrix(capture->input);
    return true;
}

bool MixingAudioLibrary::MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix)
{
    Capture *capture = findCapture(channel);
    if (capture == nullptr || capture->mixer == nullptr || !serverAlive())
        return false;
    capture->mixer->realtimeMixer->setMatrix(capture->input, matrix);
    return true;
}

std::uint64_t MixingAudioLibrary::underrunFrames() const
{
    std::uint64_t frames = 0;
    for (const auto &[handle, mixer] : mixers_)
        frames += mixer->realtimeMixer->underrunFrames();
    return frames;
}

std::uint64_t MixingAudioLibrary::playbackUnderflows() const
{
    std::uint64_t underflows = 0;
    for (const auto &[handle, mixer] : mixers_)
        underflows += mixer->underflows.load(std::memory_order_relaxed);
    return underflows;
}

void MixingAudioLibrary::unplug(Capture &capture)
{
    Mixer *mixer = capture.mixer;
    const int input = capture.input;
    route(capture, nullptr, -1);
    mixer->realtimeMixer->detachInput(input);
}

void MixingAudioLibrary::unplugAll()
{
    for (auto &[handle, capture] : captures_)
        if (capture->mixer != nullptr)
            unplug(*capture);
}

bool MixingAudioLibrary::reopensOn(const std::string &heldTo, const std::string &appeared)
{
    // One on the default device that the server could not move elsewhere
    // takes any device that comes.
    return heldTo.empty() || heldTo == appeared;
}

template <typename Channels> void MixingAudioLibrary::release(Channels &channels)
{
    unplugAll();
    if (channels.empty())
        return;
    LoopLock lock(*this);
    channels.clear();
}

void MixingAudioLibrary::freeMixers()
{
    release(mixers_);
}

void MixingAudioLibrary::freeCaptures()
{
    release(captures_);
}

void MixingAudioLibrary::freeChannels()
{
    freeMixers();
    freeCaptures();
}

template <typename Channels, typename Open>
AudioHandle MixingAudioLibrary::openChannel(Channels &channels, std::uint32_t frequency,
                                            std::uint32_t channelCount, Open open)
{
    if (!validStreamFormat(frequency, channelCount) || !serverAlive())
        return 0;
    LoopLock lock(*this);
    auto channel = open();
    if (!channel)
        return 0;
    const AudioHandle handle = newHandle();
    channels.emplace(handle, std::move(channel));
    return handle;
}

AudioHandle MixingAudioLibrary::newHandle()
{
    // Handles are never reused while the library lives, so a stale one can
    // never name a newer channel (until the counter wraps after 4 billion).
    do {
        ++lastHandle_;
    } while (lastHandle_ == 0 || captures_.contains(lastHandle_) || mixers_.contains(lastHandle_));
    return lastHandle_;
}

MixingAudioLibrary::Capture *MixingAudioLibrary::findCapture(AudioHandle handle)
{
    auto found = captures_.find(handle);
    return found == captures_.end() ? nullptr : found->second.get();
}

MixingAudioLibrary::Mixer *MixingAudioLibrary::findMixer(AudioHandle handle)
{
    auto found = mixers_.find(handle);
    return found == mixers_.end() ? nullptr : found->second.get();
}
