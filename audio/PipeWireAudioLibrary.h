#pragma once

#include "AudioLibrary.h"
#include "PipeWireConnection.h"
#include "RealtimeMixer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <spa/utils/hook.h>

struct pw_stream;

// The audio library on a PipeWire server, through its own client API.
//
// Devices are numbered as the PulseAudio library numbers them on the same
// server: playback devices are the sinks, capture devices the sources and a
// monitor of each sink ("radio1.monitor"), each direction sorted by node name;
// the device-info name is the node's description, the driver its node name.
//
// Every stream of the library is in one node group, so that the server runs
// the captures, the radios' devices and the headphones on one driver, in the
// same graph cycles, at a small quantum: no clock drifts between them, and a
// capture is heard within a cycle or two. The captures and the mixing run on
// PipeWire's real-time data thread: each capture pushes into the mixer, the
// playback stream renders what its cycle asks for. Nothing there allocates,
// locks or waits; the user-interface thread changes what the data thread
// reads only through the mixer's atomics or by running a short change on that
// thread.
//
// Formats and pausing as in the PulseAudio library: stereo 32-bit float
// streams; a capture plugs only into a mixer of its own rate; a paused
// capture keeps recording, silent in the mix; pausing a mixer stops its
// stream, stopping it also drops what it had queued.
//
// When the server goes away (or stops answering) every stream and handle
// made on it is dropped: later calls fail (false, 0), Free and RecordFree
// still succeed, and a later Init connects afresh. No call waits for the
// server longer than Options::timeout.
class PipeWireAudioLibrary : public AudioLibrary {
  public:
    // Name of the thread that runs the streams' control callbacks; the
    // mixing runs on PipeWire's data thread, kDataThreadName.
    static constexpr const char *kAudioThreadName = "kaldra-audio";
    static constexpr const char *kDataThreadName = "kaldra-mix";

    struct Options {
        std::string remote; // the server's socket; empty: PipeWire's default
        std::string applicationName = "KALDRA";
        std::string applicationId = "org.kaldra.Kaldra";
        std::string iconName = "kaldra";
        std::chrono::milliseconds timeout{2000};
        // Measured radio to ears on the private server, against PipeWire's
        // own loopback at the same quantum (1.3 ms): about 7.5 ms, of which
        // the server's two conversions between 7000 Hz and the graph's rate
        // take about 2.3 ms and the wait for the capture that the playback
        // runs ahead of in each cycle one quantum.
        //
        // The graph's quantum asked for, at 48000 Hz: 64 frames, 1.3 ms.
        // Half that drops out on this machine.
        std::uint32_t quantumFrames = 64;
        // What each mixer input holds beyond one capture burst: the
        // interpolator's reach (1.4 ms) and a little for the bursts' jitter.
        double mixerMarginMs = 1.6;
        // The server's resampler between 7000 Hz and the graph's rate. Its
        // default (4) delays the two directions by about 7 ms together; 1
        // by about 2.3 ms and still passes 2.3 kHz; 0 saves another 1.2 ms
        // but cuts at 1.9 kHz, too low for speech.
        int resampleQuality = 1;
    };

    PipeWireAudioLibrary();
    explicit PipeWireAudioLibrary(Options options);

    // Whether a PipeWire server answers at options.remote, within
    // options.timeout; says nothing either way.
    static bool serverAnswers(const Options &options);
    ~PipeWireAudioLibrary() override;

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
    // Cycles whose playback buffer could not be had:
    std::uint64_t playbackUnderflows() const;
    // The largest capture burst seen, in frames at 48000 Hz: the quantum the
    // server granted (0 before any capture came in).
    std::uint32_t grantedQuantum() const;

  private:
    // What both kinds of channel hold of their stream; loop thread under
    // the lock, or the user-interface thread holding it.
    struct Stream {
        pw_stream *stream = nullptr;
        spa_hook listener{};
        PipeWireConnection *connection = nullptr;
        int state = 0;    // pw_stream_state
        std::string name; // "Radio 1", "Headphones"
        std::uint32_t rate = 0;
    };
    struct Mixer;
    struct Capture : Stream {
        Mixer *mixer = nullptr;
        int input = -1;
        bool paused = false;
        Mixer *plugged = nullptr; // data thread only, changed there by plug()
        std::atomic<std::uint32_t> quantum{0};
    };
    struct Mixer : Stream {
        std::unique_ptr<RealtimeMixer> mixer;
        std::atomic<bool> playing{false};
        std::atomic<std::uint64_t> underflows{0};
        std::size_t cycleFrames = 0; // what a cycle takes when the server does not say
    };

    bool resolveDevice(PipeWireConnection::Direction direction, int device, std::string &name);
    bool deviceInfo(PipeWireConnection::Direction direction, int device, AudioDeviceInfo &info);
    bool connect();
    bool serverAlive();
    bool setRunning(AudioHandle channel, bool running, bool flush);
    // Plugs `capture` into `mixer` (at capture.input), or unplugs it (mixer
    // nullptr), on the data thread; returns once done.
    void plug(Capture &capture, Mixer *mixer);
    void unplug(Capture &capture);
    void unplugAll();
    void freeMixers();
    void freeCaptures();
    // Connects `stream` (its name and rate set) to `target` ("" for the
    // default device), with the loop locked; false when it could not be made
    // or did not come up in time.
    bool openStream(Stream &stream, bool capture, const std::string &target);
    static void closeStream(Stream &stream);
    AudioHandle newHandle();
    Capture *findCapture(AudioHandle handle);
    Mixer *findMixer(AudioHandle handle);

    static void onCaptureProcess(void *data);
    static void onPlaybackProcess(void *data);

    Options options_;
    std::unique_ptr<PipeWireConnection> connection_;
    bool initialized_ = false;
    std::string playbackDevice_; // "" for the default
    std::optional<std::string> captureDevice_;
    int capturesStarted_ = 0; // since RecordFree; names the captures
    std::map<AudioHandle, std::unique_ptr<Capture>> captures_;
    std::map<AudioHandle, std::unique_ptr<Mixer>> mixers_;
    AudioHandle lastHandle_ = 0;
};
