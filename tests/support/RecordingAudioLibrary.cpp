#include "RecordingAudioLibrary.h"

#include <sstream>

namespace {

bool lookUp(const std::vector<std::string> &names,
            const std::vector<RecordingAudioLibrary::Identity> &identities, int device,
            AudioDeviceInfo &info)
{
    if (device < 0 || static_cast<std::size_t>(device) >= names.size())
        return false;
    const auto index = static_cast<std::size_t>(device);
    info.name = names[index];
    info.driver = "test" + std::to_string(device);
    info.busPath.clear();
    if (index < identities.size()) {
        info.driver = identities[index].driver;
        info.busPath = identities[index].busPath;
    }
    info.flags = 0;
    return true;
}

std::string formatMatrixValue(float value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

} // namespace

void RecordingAudioLibrary::log(const std::string &operation,
                                const std::vector<long long> &arguments)
{
    std::string line = operation + "(";
    for (std::size_t i = 0; i < arguments.size(); ++i)
        line += (i ? "," : "") + std::to_string(arguments[i]);
    calls.push_back(line + ")");
}

AudioHandle RecordingAudioLibrary::newHandle()
{
    if (handlesFail)
        return 0;
    ++lastHandle_;
    playing[lastHandle_] = false;
    return lastHandle_;
}

bool RecordingAudioLibrary::known(AudioHandle handle) const
{
    return handle != 0 && playing.count(handle) != 0;
}

std::uint32_t RecordingAudioLibrary::GetVersion()
{
    log("GetVersion", {});
    return version;
}

bool RecordingAudioLibrary::Init(int device, std::uint32_t frequency, std::uint32_t flags)
{
    log("Init", {device, frequency, flags});
    return initSucceeds;
}

bool RecordingAudioLibrary::Free()
{
    log("Free", {});
    std::erase_if(playing, [this](const auto &entry) { return !captures_.contains(entry.first); });
    matrices.clear();
    return true;
}

bool RecordingAudioLibrary::GetDeviceInfo(int device, AudioDeviceInfo &info)
{
    log("GetDeviceInfo", {device});
    return lookUp(playbackDevices, playbackIdentities, device, info);
}

bool RecordingAudioLibrary::RecordGetDeviceInfo(int device, AudioDeviceInfo &info)
{
    log("RecordGetDeviceInfo", {device});
    return lookUp(captureDevices, captureIdentities, device, info);
}

std::uint64_t RecordingAudioLibrary::DeviceListChanges()
{
    return deviceListChanges;
}

bool RecordingAudioLibrary::RecordInit(int device)
{
    log("RecordInit", {device});
    return true;
}

AudioHandle RecordingAudioLibrary::RecordStart(std::uint32_t frequency, std::uint32_t channels,
                                               std::uint32_t flags)
{
    log("RecordStart", {frequency, channels, flags});
    const AudioHandle handle = newHandle();
    if (handle != 0) {
        playing[handle] = true;
        captures_.insert(handle);
    }
    return handle;
}

bool RecordingAudioLibrary::RecordFree()
{
    log("RecordFree", {});
    for (AudioHandle capture : captures_) {
        playing.erase(capture);
        matrices.erase(capture);
    }
    captures_.clear();
    return true;
}

bool RecordingAudioLibrary::ChannelPlay(AudioHandle channel, bool restart)
{
    log("ChannelPlay", {channel, restart});
    if (!known(channel))
        return false;
    playing[channel] = true;
    return true;
}

bool RecordingAudioLibrary::ChannelPause(AudioHandle channel)
{
    log("ChannelPause", {channel});
    if (!known(channel))
        return false;
    playing[channel] = false;
    return true;
}

bool RecordingAudioLibrary::ChannelStop(AudioHandle channel)
{
    log("ChannelStop", {channel});
    if (!known(channel))
        return false;
    playing[channel] = false;
    return true;
}

AudioHandle RecordingAudioLibrary::MixerStreamCreate(std::uint32_t frequency,
                                                     std::uint32_t channels, std::uint32_t flags)
{
    log("MixerStreamCreate", {frequency, channels, flags});
    return newHandle();
}

bool RecordingAudioLibrary::MixerStreamAddChannel(AudioHandle mixer, AudioHandle channel,
                                                  std::uint32_t flags)
{
    log("MixerStreamAddChannel", {mixer, channel, flags});
    if (!known(mixer) || !known(channel))
        return false;
    matrices[channel] = {1.0f, 0.0f, 0.0f, 1.0f};
    return true;
}

bool RecordingAudioLibrary::MixerChannelRemove(AudioHandle channel)
{
    log("MixerChannelRemove", {channel});
    return matrices.erase(channel) != 0;
}

bool RecordingAudioLibrary::MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix)
{
    log("MixerChannelGetMatrix", {channel});
    const auto found = matrices.find(channel);
    if (found == matrices.end())
        return false;
    matrix = found->second;
    return true;
}

bool RecordingAudioLibrary::MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix)
{
    std::string line = "MixerChannelSetMatrix(" + std::to_string(channel);
    for (float value : matrix)
        line += "," + formatMatrixValue(value);
    calls.push_back(line + ")");
    const auto found = matrices.find(channel);
    if (found == matrices.end())
        return false;
    found->second = matrix;
    return true;
}
