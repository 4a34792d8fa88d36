#pragma once

#include <array>
#include <cstdint>
#include <string>

// Handle of a capture channel or a mixer stream; 0 means none.
using AudioHandle = std::uint32_t;

// Routing matrix of a source in a mixer: 2 output rows by 2 input columns,
// row after row: left from left, left from right, right from left, right from
// right. 1.0 passes a channel at full level, 0.0 silences it.
using RoutingMatrix = std::array<float, 4>;

struct AudioDeviceInfo {
    std::string name;   // human-readable, what the operator picks by
    std::string driver; // the back-end's own name of the device
    // Where the device hangs on the machine (device.bus_path, e.g.
    // "pci-0000:00:14.0-usb-0:2:1.0"); a monitor has its sink's. Empty when
    // the server does not say.
    std::string busPath;
    std::uint32_t flags = 0;
};

// The capture, mixing and playback operations the program needs.
//
// Device numbers are signed, counted from 0 separately for playback and
// capture; -1 asks for the system's default device.
//
// Rules every implementation keeps:
// - Every call comes from one thread, the user-interface thread; nothing calls
//   back into the caller.
// - A zero, stale or foreign handle given to any operation is refused (false,
//   or no effect), never dereferenced: after a power-off the program still
//   pauses, plays and sets matrices on the handles it kept.
// - RecordFree releases every capture device opened since the last RecordFree
//   (or since Init), not only the current one, so that a power-off leaves no
//   capture running.
// - Free releases the playback device and everything made on it, and may be
//   called any number of times, also without a successful Init.
class AudioLibrary {
  public:
    // Interface version in the high 16 bits: major in the high byte, minor in
    // the low byte. Callers refuse a library whose high 16 bits differ.
    static constexpr std::uint32_t kVersion = 0x02040000;
    // MixerStreamAddChannel flag: the source enters through its own matrix.
    static constexpr std::uint32_t kMatrixMixing = 0x10000;

    AudioLibrary() = default;
    AudioLibrary(const AudioLibrary &) = delete;
    AudioLibrary &operator=(const AudioLibrary &) = delete;
    virtual ~AudioLibrary() = default;

    virtual std::uint32_t GetVersion() = 0;

    // Opens playback device `device` at `frequency` samples per second.
    // False when there is no such device or it cannot be opened.
    virtual bool Init(int device, std::uint32_t frequency, std::uint32_t flags) = 0;
    virtual bool Free() = 0;

    // True and `info` filled while `device` names a device; false from the
    // first number past the last device on (and for numbers below -1).
    virtual bool GetDeviceInfo(int device, AudioDeviceInfo &info) = 0;
    virtual bool RecordGetDeviceInfo(int device, AudioDeviceInfo &info) = 0;
    // A count that grows each time the server adds or removes a device, so
    // that the caller can notice by asking now and then; cheap, never waits.
    virtual std::uint64_t DeviceListChanges() = 0;

    // Makes capture device `device` the current one, opening it if needed.
    virtual bool RecordInit(int device) = 0;
    // Starts a capture channel on the current capture device; 0 on failure.
    virtual AudioHandle RecordStart(std::uint32_t frequency, std::uint32_t channels,
                                    std::uint32_t flags) = 0;
    virtual bool RecordFree() = 0;

    // Starts or resumes a channel (capture or mixer); `restart` rewinds it.
    virtual bool ChannelPlay(AudioHandle channel, bool restart) = 0;
    virtual bool ChannelPause(AudioHandle channel) = 0;
    virtual bool ChannelStop(AudioHandle channel) = 0;

    // A stereo mixer that plays on the playback device once ChannelPlay
    // starts it; 0 on failure.
    virtual AudioHandle MixerStreamCreate(std::uint32_t frequency, std::uint32_t channels,
                                          std::uint32_t flags) = 0;
    // Plugs a capture channel into a mixer; with kMatrixMixing it enters
    // through its own matrix, the identity until set.
    virtual bool MixerStreamAddChannel(AudioHandle mixer, AudioHandle channel,
                                       std::uint32_t flags) = 0;
    virtual bool MixerChannelRemove(AudioHandle channel) = 0;
    virtual bool MixerChannelGetMatrix(AudioHandle channel, RoutingMatrix &matrix) = 0;
    virtual bool MixerChannelSetMatrix(AudioHandle channel, const RoutingMatrix &matrix) = 0;
};
