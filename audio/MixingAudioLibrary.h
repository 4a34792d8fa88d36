#pragma once

#include "AdaptiveResampler.h"
#include "AudioLibrary.h"
#include "DeviceListing.h"
#include "ServerConnection.h"

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RealtimeMixer;

// The rules of the audio library that do not depend on the sound server:
// handles, device numbers and the default device, the current capture
// device, stream formats, routing captures into mixers through their
// matrices, pausing, and what Free and RecordFree release. A back-end opens
// and closes the streams, runs them, hands a capture's route to the thread
// that mixes, lists the devices and keeps the connection.
//
// Devices: each direction is numbered in the order the back-end lists it.
// The numbers a caller reads one after the other from 0 up, as a device list
// is filled, all come from one listing: a device that comes or goes half-way
// shifts none of them, and the next walk from 0 sees it.
//
// Captures and mixers are stereo streams (RecordStart and MixerStreamCreate
// refuse other channel counts); a capture plugs only into a mixer of its own
// rate. Pausing or stopping a capture silences it in the mix while it keeps
// recording, so that resuming brings the route back at once with the delay
// it had.
class MixingAudioLibrary : public AudioLibrary {
  public:
    using Direction = DeviceListing::Direction;

    // How the program names itself to the server, and how long a call waits
    // for it.
    struct ClientOptions {
        std::string applicationName = "KALDRA";
        std::string applicationId = "org.kaldra.Kaldra";
        std::string iconName = "kaldra";
        std::chrono::milliseconds timeout{2000};
        // PipeWire's resampler for a stream whose rate is not the graph's
        // (a pulse-protocol stream only where its device's rate is unknown
        // or moved; a native one on a graph that does not run at 48000 Hz);
        // PulseAudio ignores it. Its default (4) delays a capture and a
        // playback between 7000 Hz and the graph's rate by about 7 ms
        // together; 1 by about 2.3 ms and still passes 2.3 kHz; 0 cuts at
        // 1.9 kHz, too low for speech.
        int resampleQuality = 1;
    };

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

    // Every stream is stereo 32-bit float.
    static constexpr std::uint32_t kChannels = 2;
    static constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);

    // Dropouts, summed over the live mixers; user-interface thread.
    // Frames of silence the mixers rendered because a capture had nothing to
    // give:
    std::uint64_t underrunFrames() const;
    // Times a mixer's playback found nothing to play in time:
    std::uint64_t playbackUnderflows() const;

  protected:
    struct Mixer;
    // A capture channel; plugged into at most one mixer. The back-end's own
    // kind adds its stream; `mixer` and `input` reach the thread that mixes
    // only through route().
    struct Capture {
        explicit Capture(std::uint32_t rate) : rate(rate) {}
        virtual ~Capture() = default;
        std::uint32_t rate;
        Mixer *mixer = nullptr;
        int input = -1;
        bool paused = false;
    };
    // Mixes at `rate`; its inputs steered toward `targetDelayMs` in hand.
    struct Mixer {
        Mixer(std::uint32_t rate, double targetDelayMs);
        virtual ~Mixer();
        std::uint32_t rate;
        std::unique_ptr<RealtimeMixer> realtimeMixer;
        std::atomic<std::uint64_t> underflows{0}; // counted where it plays
    };

    // Locks the connection's loop for the scope.
    class LoopLock {
      public:
        explicit LoopLock(MixingAudioLibrary &library) : connection_(*library.serverConnection())
        {
            connection_.lock();
        }
        ~LoopLock() { connection_.unlock(); }
        LoopLock(const LoopLock &) = delete;
        LoopLock &operator=(const LoopLock &) = delete;

      private:
        ServerConnection &connection_;
    };

    MixingAudioLibrary() = default;

    // The server-specific work. Called from the user-interface thread; those
    // said to be called with the loop locked are called inside a LoopLock.
    // The back-end's connection; nullptr until makeConnection() has made it.
    virtual ServerConnection *serverConnection() const = 0;
    // Makes the connection, telling it what to call back when devices come
    // and go; throws when it cannot.
    virtual void makeConnection() = 0;
    // Loop locked: the devices of `direction` sorted by name, the name of
    // its default device; nullopt when the server does not say.
    virtual std::optional<std::vector<DeviceListing::Device>> listDevices(Direction direction) = 0;
    virtual std::optional<std::string> defaultDeviceName(Direction direction) = 0;
    // Loop locked: whether a capture on the default device, now
    // `defaultDevice`, follows the server to another default.
    virtual bool captureFollowsDefault(const std::string &defaultDevice);
    // Loop locked: a capture or mixer named `name` on `device` (the server's
    // name, "" for the default) at `rate`, running (a mixer paused) and
    // ready; nullptr, having said why, when it could not be opened.
    virtual std::unique_ptr<Capture> openCapture(const std::string &name, std::uint32_t rate,
                                                 const std::string &device) = 0;
    virtual std::unique_ptr<Mixer> openMixer(const std::string &name, std::uint32_t rate,
                                             const std::string &device) = 0;
    // Plays (running), pauses, or stops (not running, flushed) a mixer.
    virtual bool runMixer(Mixer &mixer, bool running, bool flush) = 0;
    // What a mixer input fed by `capture` holds in hand, in ms, and whether
    // the capture runs on the mixer's clock.
    struct InputTiming {
        double delayMs = 0.0;
        AdaptiveResampler::Clock clock = AdaptiveResampler::Clock::kOwn;
    };
    virtual InputTiming inputTiming(const Capture &capture) = 0;
    // Hands `capture`'s route (into `mixer` at `input`, or nowhere: nullptr,
    // -1) to the thread that mixes; once it returns, that thread uses it.
    virtual void route(Capture &capture, Mixer *mixer, int input) = 0;

    // Whether a stream that lost its device `heldTo` ("" for the default
    // device) reopens on `appeared`, a device the server has just announced.
    static bool reopensOn(const std::string &heldTo, const std::string &appeared);
    // Any thread: the server has added or removed a device.
    void noteDeviceListChanged();
    // True while the server is still there; forgets it and every channel
    // made on it otherwise.
    bool serverAlive();
    // Releases every mixer, every capture, or both; with the loop locked
    // where there are any, so that their streams close there.
    void freeMixers();
    void freeCaptures();
    void freeChannels();

    // Read by the loop thread under the loop lock, changed only under it.
    std::map<AudioHandle, std::unique_ptr<Capture>> captures_;
    std::map<AudioHandle, std::unique_ptr<Mixer>> mixers_;

  private:
    // Whether the connection is up; kLost once the server has gone, after
    // saying so.
    enum class ServerState { kUp, kNone, kLost };

    static bool validStreamFormat(std::uint32_t frequency, std::uint32_t channels);
    bool connect();
    // Makes the connection if needed and connects; false, having said why,
    // when the server cannot be reached.
    bool openConnection();
    ServerState serverState();
    // Resolves `device` of a direction to a server device name ("" for the
    // default device); false when there is no such device.
    bool resolveDevice(Direction direction, int device, std::string &name);
    // `walking`: the caller reads the numbers one after the other, so the
    // next number is read from the listing the walk began with.
    bool deviceInfo(Direction direction, int device, AudioDeviceInfo &info, bool walking);
    bool setRunning(AudioHandle channel, bool running, bool flush);
    void unplug(Capture &capture);
    void unplugAll();
    // Releases every channel of `channels` (mixers_ or captures_).
    template <typename Channels> void release(Channels &channels);
    AudioHandle newHandle();
    // The handle of a stream of `frequency` and `channelCount` that `open`
    // opens with the loop locked, kept in `channels`; 0 when the format is
    // refused, the server is gone or `open` gives nothing.
    template <typename Channels, typename Open>
    AudioHandle openChannel(Channels &channels, std::uint32_t frequency, std::uint32_t channelCount,
                            Open open);
    Capture *findCapture(AudioHandle handle);
    Mixer *findMixer(AudioHandle handle);

    std::atomic<std::uint64_t> deviceListChanges_{0};
    bool initialized_ = false;
    std::string playbackDevice_; // "" for the default
    // None until RecordInit succeeds; "" for the default.
    std::optional<std::string> currentCaptureDevice_;
    int capturesStarted_ = 0; // since RecordFree; names the captures
    AudioHandle lastHandle_ = 0;
    // Per direction, playback first: the listing a walk reads and the number
    // that continues it (-1: none).
    struct Walk {
        std::vector<DeviceListing::Device> devices;
        int next = -1;
    };
    std::array<Walk, 2> walks_;
};
