#pragma once

#include "AudioLibrary.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// Test double of the audio library: logs every call as text, for instance
// "RecordInit(2)" or "MixerChannelSetMatrix(2,1,1,0,0)", and answers from the
// scripted fields below. Handles count up from 1 and keep the interface's
// rules: zero, unknown and released handles are refused (RecordFree releases
// the captures, Free the mixers and every source plugged into them).
// DeviceListChanges, a poll, is not logged.
class RecordingAudioLibrary : public AudioLibrary {
  public:
    // Scripted answers.
    std::uint32_t version = kVersion;
    bool initSucceeds = true;
    bool handlesFail = false; // RecordStart and MixerStreamCreate return 0
    std::vector<std::string> playbackDevices;
    std::vector<std::string> captureDevices;
    // The server's name and bus path of device k; "test" + k and none for a
    // device past their end.
    struct Identity {
        std::string driver;
        std::string busPath;
    };
    std::vector<Identity> playbackIdentities;
    std::vector<Identity> captureIdentities;
    std::uint64_t deviceListChanges = 0;

    // What was done.
    std::vector<std::string> calls;
    std::map<AudioHandle, RoutingMatrix> matrices;
    std::map<AudioHandle, bool> playing;

    std::uint32_t GetVersion() override;
    bool Init(int device, std::uint32_t frequency, std::uint32_t flags) override;
    bool Free() override;
    bool GetDeviceInfo(int device, AudioDeviceInfo &info) override;
    bool RecordGetDeviceInfo(int device, AudioDeviceInfo &info) override;
    std::uint64_t DeviceListChanges() override;
    bool RecordInit(int device) override;
    AudioHandle RecordStart(std::uint32_t frequency, std::uint32_t channels,
                            std::uint32_t flags) override;
    bool RecordFree() override;
    bool ChannelPlay(AudioHandle channel, bool restart) override;
    bool ChannelPause(AudioHandle channel) override;
    bool ChannelStop(AudioHandle channel) override;
    AudioHandle MixerStreamCreate(std::uint32_t frequency, std::uint32_t channels,
                                  std::uint32_t flags) override;
    bool MixerStreamAddChannel(AudioHandle mixer, AudioHandle channel,
                               std::uint32_t flags) override;
    bool MixerChannelRemove(AudioHandle channel) override;
    bool MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix) override;
    bool MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix) override;

  private:
    void log(const std::string &operation, const std::vector<long long> &arguments);
    AudioHandle newHandle();
    bool known(AudioHandle handle) const;

    AudioHandle lastHandle_ = 0;
    std::set<AudioHandle> captures_;
};
