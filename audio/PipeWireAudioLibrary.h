#pragma once

#include "MixingAudioLibrary.h"
#include "PipeWireConnection.h"
#include "PipeWireHandle.h"
#include "PipeWireTimerHandle.h"
#include "RateConverter.h"
#include "RealtimeMixer.h"

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct spa_io_position;

// The audio library on a PipeWire server, through its own client API.
//
// Devices are numbered as the PulseAudio library numbers them on the same
// server: playback devices are the sinks, capture devices the sources and a
// monitor of each sink ("radio1.monitor"), each direction sorted by node name;
// the device-info name is the node's description, the driver its node name.
//
// Each mixer is one filter node of the server's graph: an input port pair
// for each of its inputs, linked by the library to the capture device of
// the capture routed there, and an output pair linked to its playback
// device. The server runs it after the radios' devices and before the
// headphones in the same graph cycle, so that a radio is heard in the cycle
// it was captured in. Its process callback runs on PipeWire's real-time data
// thread: it converts the captures, mixes and converts the mix. Nothing there
// allocates, locks or waits; the user-interface thread changes what the data
// thread reads only through the mixer's atomics or by running a short change
// on that thread. A capture routed nowhere records nothing.
//
// Ports are 32-bit float at the graph's rate; a capture or mixer at a lower
// rate (the program's 7000 Hz) is converted here, with less delay than the
// server's converters give. A rate above the graph's is refused. Pausing a
// mixer silences its output; stopping it also drops what it had in hand.
//
// A device that goes away under a channel (a sound card unplugged) leaves
// that channel silent and every other one playing; every call on it still
// succeeds. When a device of the same node name comes back, the channel is
// linked to it again by itself, with its route, matrix and pause state, and
// its handle stays good. A channel on the default device follows the server
// to another device instead.
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
        // The graph's quantum asked for, at 48000 Hz: 64 frames, 1.3 ms.
        // Radio to ears is about one quantum plus the conversions between
        // 7000 Hz and the graph's rate. Half that saves about 0.7 ms but
        // takes more CPU than the PulseAudio protocol's path.
        std::uint32_t quantumFrames = 64;
        // What each mixer input holds beyond the frames its cycle plays. The
        // capture's conversion gives 9 or 10 frames at 7000 Hz a cycle and
        // the playback's takes 9 or 10, the same count over any two cycles:
        // one frame in hand (a little less than one, so that the wait for
        // it is one frame, not two) never runs dry. An input that runs dry
        // holds a cycle more from then on (AdaptiveResampler), so a loaded
        // machine trades delay for unbroken sound.
        double mixerMarginMs = 0.14;
    };

    PipeWireAudioLibrary();
    explicit PipeWireAudioLibrary(Options options);

    // Whether a PipeWire server answers at options.remote, within
    // options.timeout; says nothing either way.
    static bool serverAnswers(const Options &options);
    ~PipeWireAudioLibrary() override;

    // The largest graph cycle a mixer ran, in frames at 48000 Hz: the
    // quantum the server granted (0 before any mixer ran).
    std::uint32_t grantedQuantum() const;

  private:
    struct Mixer;
    struct Capture : MixingAudioLibrary::Capture {
        explicit Capture(std::uint32_t rate);
        std::string target;                     // the node it records; "" for the default
        bool monitor = false;                   // records the target sink's monitor
        std::optional<RateConverter> converter; // data thread, for a low rate
    };
    // The links of one port pair to a device's node; loop thread under the
    // lock.
    struct Links {
        std::uint32_t node = 0; // linked to, 0 for none
        std::vector<std::unique_ptr<PipeWireProxyHandle>> links;
    };
    // The filter is the last member, so that it closes first: the data
    // thread lets go of the mixer before anything its callback reads goes
    // (the members before it, then the base's mixer).
    struct Mixer : MixingAudioLibrary::Mixer {
        Mixer(std::uint32_t rate, double targetDelayMs);
        std::string name;   // "Headphones"
        std::string target; // the sink it plays on; "" for the default
        int state = 0;      // pw_filter_state; loop thread
        std::atomic<bool> playing{false};
        std::atomic<std::uint32_t> quantum{0};  // the largest cycle run
        std::optional<RateConverter> converter; // data thread, for a low rate
        // By input: the capture plugged in there; data thread only, changed
        // there by plug().
        std::array<Capture *, RealtimeMixer::kMaxInputs> plugged{};
        // By input: cycles in a row that a plugged input brought nothing;
        // written on the data thread, cleared by the loop thread.
        std::array<std::atomic<std::uint32_t>, RealtimeMixer::kMaxInputs> starved{};
        // Left and right ports, their data as pw_filter_add_port gives it.
        std::array<std::array<void *, kChannels>, RealtimeMixer::kMaxInputs> inputPorts{};
        std::array<void *, kChannels> outputPorts{};
        std::array<Links, RealtimeMixer::kMaxInputs> inputLinks;
        Links outputLinks;
        PipeWireConnection *connection = nullptr;
        PipeWireFilterHandle filter;
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

    // Plugs `capture` into input `input` of `mixer` (capture nullptr:
    // unplugs what is there), on the data thread; returns once done.
    void plug(Mixer &mixer, int input, Capture *capture);
    // With the loop locked: makes `mixer`'s filter node and its ports; false
    // when it could not be made or did not come up in time.
    bool openFilter(Mixer &mixer);
    // Loop thread, or with the loop locked: links every mixer's ports to the
    // devices they are meant for now, where those are there and the links
    // are not.
    void relink();
    void relink(Mixer &mixer);
    // Links the ports named `portNames` of `mixer`'s node with `node`'s
    // `devicePorts` (the node and ports of the devices' side), from the
    // device when `fromDevice`; `node` 0 or ports not all there yet: none.
    void link(Mixer &mixer, Links &links, std::uint32_t node,
              const std::vector<PipeWireConnection::Port> &devicePorts,
              const std::array<std::string, kChannels> &portNames, bool fromDevice);
    // Loop thread: links again the inputs whose links carry nothing, as
    // one made while the graph starts now and then does.
    void relinkStarved();
    // Loop thread: device `node` has appeared; the channels that lost it
    // are linked to it again.
    void reopen(const std::string &node);

    static void onProcess(void *data, spa_io_position *position);

    Options options_;
    std::unique_ptr<PipeWireConnection> connection_;
    PipeWireTimerHandle watch_; // runs relinkStarved
};
