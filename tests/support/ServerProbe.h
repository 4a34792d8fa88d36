#pragma once

#include "PulseConnection.h"
#include "PulseHandles.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct pa_stream;

// A second client of the sound server that looks at what the program does
// from outside: records a device, plays clicks, lists capture streams, loads
// server modules. Used by the end-to-end tests and the benchmark.
//
// Not thread-safe; every method blocks the caller (bounded by the timeout).
class ServerProbe {
  public:
    // Connects to `server` (empty: PULSE_SERVER). Throws std::runtime_error
    // when the server cannot be reached.
    explicit ServerProbe(const std::string &server = {});
    ~ServerProbe();
    ServerProbe(const ServerProbe &) = delete;
    ServerProbe &operator=(const ServerProbe &) = delete;

    // `seconds` of interleaved stereo float samples at `rate` from capture
    // device `source` (a server device name), from the call on; empty when it
    // fails. The stream stays open for the next call on the same device: on
    // a PipeWire server every new stream reshapes the graph, and the
    // program's own streams may miss a cycle while it does. It never moves
    // to another device: one that goes takes the stream with it. With
    // `firstSampleAt`, also when the sink played the first sample, on this
    // machine's steady clock: the earliest of each block's arrival less its
    // length plus the sink's latency, so a block held up on the way makes no
    // difference (a monitor's `source`).
    std::vector<float> record(const std::string &source, double seconds, std::uint32_t rate,
                              std::chrono::steady_clock::time_point *firstSampleAt = nullptr);
    // Why the last record() came back empty, at which step; empty after one
    // that did not.
    const std::string &recordFailure() const { return recordFailure_; }

    // Plays a click every `periodMs` into the left channel of playback device
    // `sink` (the right one stays silent) until stopClicks.
    bool startClicks(const std::string &sink, double periodMs);
    void stopClicks();

    // The clients that have capture streams open, one entry per stream:
    // their application name and the server's number for the client;
    // nullopt when the server does not answer.
    struct Owner {
        std::string application;
        std::uint32_t client = 0;
    };
    std::optional<std::vector<Owner>> captureStreamOwners();

    // The server's name and version ("pulseaudio 16.1", "PulseAudio (on
    // PipeWire 0.3.65) 15.0.0"); empty when it does not answer.
    std::string serverName();

    // Makes playback device `sink` the server's default; false when refused.
    bool setDefaultSink(const std::string &sink);

    // Loads a server module; its index, or -1 on failure.
    int loadModule(const std::string &name, const std::string &arguments);
    void unloadModule(int index);

    // Sample rate of the clicks.
    static constexpr std::uint32_t kClickRate = 48000;

  private:
    struct Recording;

    // The kept stream from `source` at `rate`, opened afresh unless it is
    // still reading; false when it cannot be opened. Loop locked.
    bool recordFrom(const std::string &source, std::uint32_t rate);
    static void onRecordRead(pa_stream *stream, std::size_t bytes, void *userdata);
    // A PipeWire server links a new stream to its device a while after it is
    // ready, and records silence until then; true once linked. Loop locked.
    bool waitUntilLinked(pa_stream *stream);
    static void onClickWrite(pa_stream *stream, std::size_t bytes, void *userdata);

    PulseConnection connection_;
    PulseStream recordStream_;
    std::string recordSource_;
    std::uint32_t recordRate_ = 0;
    Recording *recording_ = nullptr; // the call under way; loop locked
    std::string recordFailure_;
    PulseStream clickStream_;
    std::uint64_t clickFrame_ = 0;
    std::uint64_t clickPeriodFrames_ = 0;
};
