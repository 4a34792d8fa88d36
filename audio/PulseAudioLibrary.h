#pragma once

#include "AudioLibrary.h"
#include "PlaybackWriteRule.h"
#include "PulseConnection.h"
#include "PulseHandles.h"

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RealtimeMixer;
struct pa_stream;

// The audio library on a PulseAudio server (PipeWire desktops included,
// through their pulse server), mixing in RealtimeMixer on libpulse's
// threaded main loop.
//
// Devices: playback devices are the server's sinks, capture devices its
// sources (the monitors of the sinks included), each direction sorted by the
// server's device name so that a stored number names the same device on the
// next run; the device-info name is the server's description, the driver its
// device name. The numbers a caller reads one after the other from 0 up, as a
// device list is filled, all come from one listing: a device that comes or
// goes half-way shifts none of them, and the next walk from 0 sees it.
//
// Captures and mixers are stereo 32-bit float streams (RecordStart and
// MixerStreamCreate refuse other channel counts); a capture plugs only into a
// mixer of its own rate. Init's frequency is not used: the server converts
// each stream to its device's rate. Pausing or stopping a capture silences it
// in the mix while it keeps recording, so that resuming brings the route back
// at once with the delay it had; pausing a mixer corks its stream, stopping
// it also drops what it had queued.
//
// A device that goes away under a stream (a sound card unplugged) leaves that
// stream silent and every other one playing; when a device of the same
// server name comes back, the stream reopens on it by itself, with its route,
// matrix and pause state, and its handle stays good. A stream on the default
// device follows the server to another device instead.
//
// When the server goes away (or stops answering) every stream and handle
// made on it is dropped: later calls fail (false, 0), Free and RecordFree
// still succeed, and a later Init connects afresh. No call waits for the
// server longer than Options::timeout.
class PulseAudioLibrary : public AudioLibrary {
  public:
    // Name of the thread that runs every stream callback, mixing included.
    static constexpr const char *kAudioThreadName = "kaldra-audio";

    struct Options {
        std::string server; // empty: libpulse's default, which honours PULSE_SERVER
        std::string applicationName = "KALDRA";
        std::string applicationId = "org.kaldra.Kaldra";
        std::string iconName = "kaldra";
        std::chrono::milliseconds timeout{2000};
        // Low delay without dropouts. The capture hands over small
        // fragments, and what they bring leaves for the playback device as
        // soon as it comes in. The device takes one request at a time, here
        // 1 ms, behind the queued buffer: that queue, normally above
        // buffer - request (6 ms), is what rides out a stalled loop thread or
        // a late capture. A late capture is waited for, not played as
        // silence, while the queue stays above its reserve. Each mixer input
        // holds the filter's reach and about a capture fragment
        // beyond it, and more when the server grants larger fragments than
        // asked for. Measured capture to headphones on the private server:
        // about 14 ms.
        double captureFragmentMs = 3.0;
        double playbackBufferMs = 7.0;
        double playbackRequestMs = 1.0;
        double mixerDelayMs = 3.5;
        double playbackReserveMs = 2.0;
    };

    PulseAudioLibrary();
    explicit PulseAudioLibrary(Options options);
    ~PulseAudioLibrary() override;

    std::uint32_t GetVersion() override;
    bool Init(int device, std::uint32_t frequency, std::uint32_t flags) override;
    bool Free() override;
    bool GetDeviceInfo(int device, AudioDeviceInfo &info) override;
    bool RecordGetDeviceInfo(int device, AudioDeviceInfo &info) override;
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

    // Dropouts, summed over the live mixers; user-interface thread.
    // Frames of silence the mixers rendered because a capture had nothing to
    // give:
    std::uint64_t underrunFrames() const;
    // Times the server found a mixer's playback buffer empty:
    std::uint64_t playbackUnderflows() const;

    // What the server granted each live stream, in ms: a capture's fragment,
    // a mixer's buffer (tlength) and request (minreq); 0 where not used.
    struct Grant {
        std::string stream; // its name: "Radio 1", "Headphones"
        double fragmentMs = 0.0;
        double bufferMs = 0.0;
        double requestMs = 0.0;
    };
    std::vector<Grant> grants() const;

  private:
    struct Mixer;
    // A capture channel; plugged into at most one mixer. Its mixer fields are
    // read by the read callback and changed only under the loop lock, as are
    // its stream and `lost`.
    struct Capture {
        PulseStream stream;
        std::string device; // the server's name; "" for the default
        bool lost = false;  // its device went away
        std::uint32_t rate = 0;
        Grant grant;
        Mixer *mixer = nullptr;
        int input = -1;
        bool paused = false;
    };
    // Its stream, `lost` and `corked` change only under the loop lock.
    struct Mixer {
        PulseStream stream;
        std::string device; // the server's name; "" for the default
        bool lost = false;
        bool corked = true; // as the caller last asked
        std::uint32_t rate = 0;
        Grant grant;
        // What the queue keeps beyond one granted request before it is
        // filled without waiting for a late capture.
        double reserveMarginMs = 0.0;
        std::unique_ptr<RealtimeMixer> realtimeMixer;
        std::atomic<std::uint64_t> underflows{0}; // counted by the loop thread
        PlaybackWriteRule writeRule;              // configured under the loop lock
    };

    // Resolves `device` of a direction to a server device name ("" for the
    // default device); false when there is no such device.
    bool resolveDevice(PulseConnection::Direction direction, int device, std::string &name);
    // `walking`: the caller reads the numbers one after the other, so the
    // next number is read from the listing the walk began with.
    bool deviceInfo(PulseConnection::Direction direction, int device, AudioDeviceInfo &info,
                    bool walking);
    // Makes the connection if needed; false when the server cannot be reached.
    bool connect();
    // True while the server is still there; forgets it otherwise.
    bool serverAlive();
    // Play (running), pause, or stop (not running, flushed) a mixer or capture.
    bool setRunning(AudioHandle channel, bool running, bool flush);
    void unplug(Capture &capture);
    void unplugAll();
    void freeMixers();
    void freeCaptures();
    // A stream of this program named `name` ("Radio 1", "Headphones"), with
    // the loop locked.
    PulseStream newStream(const std::string &name, std::uint32_t rate);
    // With the loop locked: gives the channel a new stream, connecting to its
    // device without waiting (a mixer's corked); false, and the stream it
    // had kept, when libpulse refuses at once.
    bool connectCapture(Capture &capture);
    bool connectMixer(Mixer &mixer);
    // Loop thread: `device` has appeared; the streams that lost it reopen.
    void reopen(PulseConnection::Direction direction, const std::string &device);
    AudioHandle newHandle();
    Capture *findCapture(AudioHandle handle);
    Mixer *findMixer(AudioHandle handle);
    // Corks (pauses) or uncorks a playback stream, optionally dropping what it
    // has buffered first; true once the server has done it.
    bool cork(Mixer &mixer, bool corked, bool flush);

    static void onRead(pa_stream *stream, std::size_t bytes, void *userdata);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *userdata);
    static void onUnderflow(pa_stream *stream, void *userdata);
    static void onCaptureState(pa_stream *stream, void *userdata);
    static void onMixerState(pa_stream *stream, void *userdata);
    // Take up what the server granted, when the stream is ready and whenever
    // the server changes it; loop locked or loop thread.
    static void onCaptureGrant(pa_stream *stream, void *userdata);
    static void onMixerGrant(pa_stream *stream, void *userdata);
    // Mixes into `mixer`'s stream as much as its write rule says. Called on every request
    // and after every capture, so the sound leaves as soon as it has come in.
    static void fill(Mixer &mixer);

    Options options_;
    std::unique_ptr<PulseConnection> connection_;
    bool initialized_ = false;
    std::string playbackDevice_; // "" for the default
    // None until RecordInit succeeds; "" for the default.
    std::optional<std::string> currentCaptureDevice_;
    int capturesStarted_ = 0; // since RecordFree; names the captures
    std::map<AudioHandle, std::unique_ptr<Capture>> captures_;
    std::map<AudioHandle, std::unique_ptr<Mixer>> mixers_;
    AudioHandle lastHandle_ = 0;
    // Per direction, playback first: the listing a walk reads and the number
    // that continues it (-1: none).
    struct Walk {
        std::vector<PulseConnection::Device> devices;
        int next = -1;
    };
    std::array<Walk, 2> walks_;
};
