#pragma once

#include "MixingAudioLibrary.h"
#include "PipeWireConnection.h"
#include "PipeWireHandle.h"
#include "RateConverter.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
// Streams are 32-bit float at the graph's rate; a capture or mixer at a lower
// rate (the program's 7000 Hz) is converted here, on the data thread, with
// less delay than the server's converters give. Pausing a mixer stops its
// stream, stopping it also drops what it had queued.
//
// A device that goes away under a stream (a sound card unplugged) leaves that
// stream silent and every other one playing; every call on it still
// succeeds. When a device of the same node name comes back, the stream
// reopens on it by itself, with its route, matrix and pause state, a mixer
// playing if it was (or was told to while away), and its handle stays good.
// A stream on the default device follows the server to another device
// instead.
//
// When the server goes away (or stops answering) every stream and handle
// made on it is dropped: later calls fail (false, 0), Free and RecordFree
// still succeed, and a later Init connects afresh. No call waits for the
// server longer than Options::timeout.
class PipeWireAudioLibrary : public MixingAudioLibrary {
  public:
    // Name of the thread that runs the streams' control callbacks; the
    // mixing runs on PipeWire's data thread, kDataThreadName.
    static constexpr const char *kAudioThreadName = "kaldra-audio";
    static constexpr const char *kDataThreadName = "kaldra-mix";
    // The rate the graph runs at, as PipeWire sets it up by default.
    static constexpr std::uint32_t kGraphRate = 48000;

    struct Options : ClientOptions {
        std::string remote; // the server's socket; empty: PipeWire's default
        // Measured radio to ears on the private server, against PipeWire's
        // own loopback at the same quantum (1.3 ms): about 5.7 ms. The rest
        // is the conversions between 7000 Hz and the graph's rate (about
        // 1 ms), the wait for the capture that the playback runs ahead of
        // in each cycle (one quantum), and what the mixer holds.
        //
        // The graph's quantum asked for, at 48000 Hz: 64 frames, 1.3 ms.
        // Half that saves about 1 ms but takes more CPU than the PulseAudio
        // protocol's path.
        std::uint32_t quantumFrames = 64;
        // What each mixer input holds beyond one capture burst at first: room
        // for a capture that comes a cycle late, as one does every few
        // seconds when the graph runs late. An input that runs dry holds
        // more from then on (AdaptiveResampler), so a loaded machine trades
        // delay for unbroken sound.
        double mixerMarginMs = 2.0;
    };

    PipeWireAudioLibrary();
    explicit PipeWireAudioLibrary(Options options);

    // Whether a PipeWire server answers at options.remote, within
    // options.timeout; says nothing either way.
    static bool serverAnswers(const Options &options);
    ~PipeWireAudioLibrary() override;

    // The largest capture burst seen, in frames at 48000 Hz: the quantum the
    // server granted (0 before any capture came in).
    std::uint32_t grantedQuantum() const;

  private:
    // What both kinds of channel hold of their stream; loop thread under
    // the lock, or the user-interface thread holding it. A lost stream is
    // replaced on the loop thread: the data thread reads `handle` only in
    // its own callbacks.
    struct Stream {
        PipeWireStreamHandle handle;
        PipeWireConnection *connection = nullptr;
        int state = 0;        // pw_stream_state
        std::string name;     // "Radio 1", "Headphones"
        std::string target;   // the node it is held to; "" for the default
        bool monitor = false; // records the target sink's monitor
        bool lost = false;    // the server took it away with its device
    };
    struct Mixer;
    // Each channel's stream is its last member, so that it closes first:
    // the data thread lets go of the channel before anything its callbacks
    // read goes (the members before it, then the base's mixer).
    struct Capture : MixingAudioLibrary::Capture {
        explicit Capture(std::uint32_t rate);
        Mixer *plugged = nullptr; // data thread only, changed there by plug()
        std::atomic<std::uint32_t> quantum{0};
        std::optional<RateConverter> converter; // data thread, for a low rate
        Stream stream;
    };
    struct Mixer : MixingAudioLibrary::Mixer {
        Mixer(std::uint32_t rate, double targetDelayMs);
        std::atomic<bool> playing{false};
        std::size_t cycleFrames = 0;            // what a cycle takes when the server does not say
        std::optional<RateConverter> converter; // data thread, for a low rate
        std::vector<float> mixed;               // what the converter reads
        Stream stream;
    };

    ServerConnection *serverConnection() const override { return connection_.get(); }
    void makeConnection() override;
    std::optional<std::vector<DeviceListing::Device>> listDevices(Direction direction) override;
    std::optional<std::string> defaultDeviceName(Direction direction) override;
    // A monitor is reached only through its sink, by name.
    bool captureFollowsDefault(const std::string &defaultDevice) override;
    std::unique_ptr<MixingAudioLibrary::Capture>
    openCapture(const std::string &name, std::uint32_t rate, const std::string &device) override;
    std::unique_ptr<MixingAudioLibrary::Mixer>
    openMixer(const std::string &name, std::uint32_t rate, const std::string &device) override;
    bool runMixer(MixingAudioLibrary::Mixer &mixer, bool running, bool flush) override;
    InputTiming inputTiming(const MixingAudioLibrary::Capture &capture) override;
    void route(MixingAudioLibrary::Capture &capture, MixingAudioLibrary::Mixer *mixer,
               int input) override;

    // Plugs `capture` into `mixer` (at capture.input), or unplugs it (mixer
    // nullptr), on the data thread; returns once done.
    void plug(Capture &capture, Mixer *mixer);
    // Connects `channel`'s stream (its name set) to `device` ("" for the
    // default), with the loop locked; false when it could not be made or did
    // not come up in time.
    template <typename Channel> bool openStream(Channel &channel, const std::string &device);
    // With the loop locked: replaces `channel`'s pw_stream with a new one
    // connecting to its target, without waiting; false when refused at once.
    template <typename Channel> bool connectStream(Channel &channel);
    // Loop thread: device `node` has appeared; the streams that lost it
    // reopen.
    void reopen(const std::string &node);
    // The rate a stream for a channel at `rate` runs at.
    static std::uint32_t streamRate(std::uint32_t rate);

    static void onCaptureProcess(void *data);
    static void onPlaybackProcess(void *data);

    Options options_;
    std::unique_ptr<PipeWireConnection> connection_;
};
