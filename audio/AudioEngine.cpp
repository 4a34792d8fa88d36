#include "AudioEngine.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

struct RouteMatrices {
    RoutingMatrix first;
    RoutingMatrix second;
    TSO2RState state;
};

// By Route: Rig1, Rig12, Rig2, Reverse.
constexpr std::array<RouteMatrices, 4> kRoutes = {{
    {{1, 1, 1, 1}, {0, 0, 0, 0}, ddLeft},
    {{1, 1, 0, 0}, {0, 0, 1, 1}, ddCenter},
    {{0, 0, 0, 0}, {1, 1, 1, 1}, ddRight},
    {{0, 0, 1, 1}, {1, 1, 0, 0}, ddSwap},
}};

} // namespace

AudioEngine::AudioEngine(AudioLibrary &library, AudioEngineHost &host)
    : library_(library), host_(host)
{
}

AudioHandle &AudioEngine::secondCapture()
{
    return host_.SO3R() == ddRadio3 ? capture3_ : capture2_;
}

std::int32_t AudioEngine::SecondInputDevice() const
{
    return host_.SO3R() == ddRadio3 ? Input3Device : Input2Device;
}

void AudioEngine::TogglePower()
{
    if (host_.SO2R() != ddOff)
        PowerOff();
    else
        PowerOn();
}

void AudioEngine::PowerOn()
{
    audioStarted_ = true;
    if ((library_.GetVersion() >> 16) != (AudioLibrary::kVersion >> 16)) {
        host_.EndOnAudioFailure("An incorrect version of the audio library was loaded", true);
        return;
    }
    if (!library_.Init(OutputDevice, kFrequency, 0)) {
        host_.EndOnAudioFailure("Can't initialize device", false);
        return;
    }
    mixerStream_ = library_.MixerStreamCreate(kFrequency, kChannels, 0);
    startCapture(Input1Device, capture1_);
    startCapture(SecondInputDevice(), secondCapture());
    library_.ChannelPlay(mixerStream_, false);

    host_.SetSO2R(ddCenter);
    SetRoute(Route::Rig12);
    host_.ShowMode();
    host_.WriteSettings();
}

void AudioEngine::startCapture(std::int32_t device, AudioHandle &capture)
{
    library_.RecordInit(device);
    capture = library_.RecordStart(kFrequency, kChannels, 0);
    library_.MixerStreamAddChannel(mixerStream_, capture, AudioLibrary::kMatrixMixing);
}

void AudioEngine::PowerOff()
{
    host_.SetSO2R(ddOff);
    if (!audioStarted_)
        return;
    library_.ChannelStop(mixerStream_);
    library_.MixerChannelRemove(capture1_);
    library_.MixerChannelRemove(secondCapture());
    library_.RecordFree();
    library_.Free();
    host_.WriteSettings();
}

void AudioEngine::SetRoute(Route route)
{
    route_ = route;
    writeMatrices();
    host_.SetSO2R(kRoutes.at(static_cast<std::size_t>(route)).state);
    host_.WriteSettings();
}

void AudioEngine::SetLatchedRoute(std::optional<Route> heard)
{
    if (heard == latched_)
        return;
    latched_ = heard;
    if (playing())
        writeMatrices();
}

void AudioEngine::SetBlendPercent(int percent)
{
    const float blend = static_cast<float>(std::clamp(percent, 0, 100)) / 100.0F;
    if (blend == blend_)
        return;
    blend_ = blend;
    if (playing())
        writeMatrices();
}

bool AudioEngine::playing() const
{
    return audioStarted_ && host_.SO2R() != ddOff;
}

void AudioEngine::writeMatrices()
{
    const Route heard = latched_.value_or(route_);
    RouteMatrices matrices = kRoutes.at(static_cast<std::size_t>(heard));
    if (heard == Route::Rig12 || heard == Route::Reverse) {
        // One radio per ear: the silent side of each carries the blend.
        for (RoutingMatrix *matrix : {&matrices.first, &matrices.second})
            for (float &gain : *matrix)
                gain = gain == 0.0F ? blend_ : gain;
    }
    writeMatrix(capture1_, matrices.first);
    writeMatrix(secondCapture(), matrices.second);
}

void AudioEngine::writeMatrix(AudioHandle capture, const RoutingMatrix &matrix)
{
    // Read before write; the old value itself is not needed.
    library_.MixerChannelGetMatrix(capture, RouteMatrix);
    RouteMatrix = matrix;
    library_.MixerChannelSetMatrix(capture, RouteMatrix);
}

void AudioEngine::ToggleMute()
{
    if (!audioStarted_)
        return;
    if (host_.SO2R() == ddMute) {
        library_.ChannelPlay(capture1_, false);
        library_.ChannelPlay(secondCapture(), false);
        host_.SetSO2R(host_.LastSO2R());
    } else {
        host_.SetLastSO2R(host_.SO2R());
        library_.ChannelPause(capture1_);
        library_.ChannelPause(secondCapture());
        host_.SetSO2R(ddMute);
    }
    host_.WriteSettings();
}

void AudioEngine::ReleaseAtShutdown()
{
    library_.RecordFree();
    library_.Free();
}
