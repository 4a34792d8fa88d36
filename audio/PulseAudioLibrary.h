#pragma once

#include "BurstMeter.h"
#include "MixingAudioLibrary.h"
#include "PlaybackWriteRule.h"
#include "PulseConnection.h"
#include "PulseHandles.h"
#include "RateConverter.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;

// The audio library on a PulseAudio server (PipeWire desktops included,
// through their pulse server), mixing in RealtimeMixer on libpulse's
// threaded main loop.
//
// Devices: playback devices are the server's sinks, capture devices its
// sources (the monitors of the sinks included), each direction sorted by the
// server's device name so that a stored number names the same device on the
// next run; the device-info name is the server's description, the driver its
// device name.
//
// Streams are 32-bit float at their device's rate, converted to and from the
// mixer's own rate here, with less delay than the server's converters; a
// device slower than the mixer, or one whose rate is not known, gets a
// stream at the mixer's rate for the server to convert. Init's frequency is
// not used. Pausing a mixer corks its stream, stopping it also drops what it
// had queued.
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
class PulseAudioLibrary : public MixingAudioLibrary {
  public:
    // Name of the thread that runs every stream callback, mixing included.
    static constexpr const char *kAudioThreadName = "kaldra-audio";

    struct Options : ClientOptions {
        std::string server; // empty: libpulse's default, which honours PULSE_SERVER
        // Low delay without dropouts. The capture hands over small
        // fragments, and what they bring leaves for the playback device as
        // soon as it comes in. The device takes one request at a time, here
        // 1 ms, behind the queued buffer: that queue, normally above
        // buffer - request (5 ms), is what rides out a stalled server or loop
        // thread or a late capture. A late capture is waited for, not played
        // as silence, while the queue stays above its reserve. Each mixer
        // input holds the filter's reach and about a capture fragment beyond
        // it, and more when the server grants larger fragments than asked
        // for or takes the playback a graph's cycle at a time. Measured
        // capture to headphones on the private servers: about 9 ms on
        // PulseAudio, 12 on PipeWire's pulse layer.
        double captureFragmentMs = 3.0;
        double playbackBufferMs = 6.0;
        double playbackRequestMs = 1.0;
        double mixerDelayMs = 3.0;
        double playbackReserveMs = 2.0;
    };

    PulseAudioLibrary();
    explicit PulseAudioLibrary(Options options);
    ~PulseAudioLibrary() override;

    // What the server granted each live stream, in ms: a capture's fragment,
    // a mixer's buffer (tlength) and request (minreq); 0 where not used. And
    // what the server takes from a mixer's queue at once (BurstMeter).
    struct Grant {
        std::string stream; // its name: "Radio 1", "Headphones"
        double fragmentMs = 0.0;
        double bufferMs = 0.0;
        double requestMs = 0.0;
        double pullMs = 0.0;
    };
    std::vector<Grant> grants() const;

  private:
    // Its stream and `lost` are changed only under the loop lock; its route
    // is read by the read callback.
    struct Capture : MixingAudioLibrary::Capture {
        Capture(std::uint32_t rate, std::uint32_t streamRate);
        std::uint32_t streamRate; // its stream's, kept when it reopens
        // Loop thread; only for a device faster than the mix.
        std::optional<RateConverter> converter;
        // Its stream's, shared with other captures on PulseAudio; let go
        // after the stream.
        std::shared_ptr<pa_context> client;
        PulseStream stream;
        std::string device; // the server's name; "" for the default
        bool lost = false;  // its device went away
        Grant grant;
        const PulseAudioLibrary *library = nullptr;
    };
    // Its stream, `lost` and `corked` change only under the loop lock.
    struct Mixer : MixingAudioLibrary::Mixer {
        Mixer(std::uint32_t rate, std::uint32_t streamRate, double targetDelayMs);
        std::uint32_t streamRate;
        // Loop thread; only for a device faster than the mix.
        std::optional<RateConverter> converter;
        PulseStream stream;
        std::string device; // the server's name; "" for the default
        bool lost = false;
        bool corked = true; // as the caller last asked
        Grant grant;
        // What the queue keeps beyond one granted request before it is
        // filled without waiting for a late capture.
        double reserveMarginMs = 0.0;
        PlaybackWriteRule writeRule; // configured under the loop lock
        // Set by an underflow: the next write goes to where the server
        // plays now. Loop thread only.
        bool behindServer = false;
        // What the server took from the queue between two fills: a graph's
        // whole cycle at once. Loop thread only.
        BurstMeter pulls;
        std::size_t queuedAfterFill = 0;
    };

    ServerConnection *serverConnection() const override { return connection_.get(); }
    void makeConnection() override;
    std::optional<std::vector<DeviceListing::Device>> listDevices(Direction direction) override;
    std::optional<std::string> defaultDeviceName(Direction direction) override;
    std::unique_ptr<MixingAudioLibrary::Capture>
    openCapture(const std::string &name, std::uint32_t rate, const std::string &device) override;
    std::unique_ptr<MixingAudioLibrary::Mixer>
    openMixer(const std::string &name, std::uint32_t rate, const std::string &device) override;
    bool runMixer(MixingAudioLibrary::Mixer &mixer, bool running, bool flush) override;
    InputTiming inputTiming(const MixingAudioLibrary::Capture &capture) override;
    void route(MixingAudioLibrary::Capture &capture, MixingAudioLibrary::Mixer *mixer,
               int input) override;
    // Loop locked or loop thread: what the mixer input fed by `capture`
    // holds, in ms: more by as much as the capture's fragment or its
    // mixer's pulls are larger than asked for.
    double inputDelayMs(const Capture &capture) const;
    // Loop locked or loop thread: what the server takes from `mixer`'s queue
    // at once, in ms.
    static double pulledMs(const Mixer &mixer);

    // Loop locked: a client for a new capture's stream; empty when the
    // server refused it.
    std::shared_ptr<pa_context> captureClient();
    // Loop locked: the rate a stream between `device` ("" for the default)
    // and a mixer at `rate` runs at.
    std::uint32_t streamRate(Direction direction, const std::string &device, std::uint32_t rate);
    // A stream of this program named `name` ("Radio 1", "Headphones") on
    // `client` (nullptr: the connection's own), with the loop locked.
    PulseStream newStream(const std::string &name, std::uint32_t rate, pa_context *client);
    // The client a channel's streams are made on: a capture's, the
    // connection's for a mixer.
    static pa_context *clientOf(const Capture &capture) { return capture.client.get(); }
    pa_context *clientOf(const Mixer &) const { return connection_->context(); }
    // With the loop locked: gives the channel a new stream, connecting to its
    // device without waiting (a mixer's corked); false, and the stream it
    // had kept, when libpulse refuses at once.
    bool connectChannel(Capture &capture);
    bool connectChannel(Mixer &mixer);
    // Gives `channel` a new stream once `connect` has set it up and connected
    // it; false when either fails.
    template <typename Channel, typename Connect>
    bool replaceStream(Channel &channel, Connect connect);
    // With the loop locked: connects `channel` (a `kind` of stream, for the
    // report) and waits until it is ready; false, having said why, when it
    // could not be made or did not come up in time.
    template <typename Channel> bool openStream(Channel &channel, const char *kind);
    // Follows the channel's stream state from now on, beginning with the
    // state it is in.
    static void watch(Capture &capture);
    static void watch(Mixer &mixer);
    // Loop thread: `device` has appeared; the streams that lost it reopen.
    void reopen(PulseConnection::Direction direction, const std::string &device);
    template <typename Channel, typename Channels>
    void reopenLost(Channels &channels, const std::string &device);
    // Corks (pauses) or uncorks a playback stream, optionally dropping what it
    // has buffered first; true once the server has done it.
    bool cork(Mixer &mixer, bool corked, bool flush);

    static void onRead(pa_stream *stream, std::size_t bytes, void *userdata);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *userdata);
    // Loop thread: `count` frames at the capture's stream rate into its
    // mixer input; `count` frames at the mixer's stream rate out of it.
    static void push(Capture &capture, const float *frames, std::size_t count);
    static void render(Mixer &mixer, float *frames, std::size_t count);
    static void onUnderflow(pa_stream *stream, void *userdata);
    static void onCaptureState(pa_stream *stream, void *userdata);
    static void onMixerState(pa_stream *stream, void *userdata);
    // Take up what the server granted, when the stream is ready and whenever
    // the server changes it; loop locked or loop thread.
    static void onCaptureGrant(pa_stream *stream, void *userdata);
    static void onMixerGrant(pa_stream *stream, void *userdata);
    // Sizes the write rule's reserve from the grant and the pulls measured.
    static void configureWriteRule(Mixer &mixer);
    // Mixes into `mixer`'s stream as much as its write rule says. Called on every request
    // and after every capture, so the sound leaves as soon as it has come in.
    static void fill(Mixer &mixer);

    Options options_;
    std::unique_ptr<PulseConnection> connection_;
    // The captures' client on PulseAudio, while any capture holds it.
    std::weak_ptr<pa_context> sharedCaptureClient_;
};
