#pragma once

#include "PulseHandles.h"
#include "PulseMainLoop.h"
#include "ServerConnection.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One client connection to a PulseAudio server (or a PipeWire pulse server)
// on its own threaded main loop. A connection that the server dropped stays
// dropped; connect() again makes a fresh one.
//
// The connection keeps the server's devices and defaults as last listed, and
// lists them again only after the server has reported a change to them.
//
// Every method except the constructor and destructor is called with loop()
// locked, from a thread other than the loop thread. Methods that wait for the
// server give up after the timeout given at construction, so a hung server
// never freezes the caller.
class PulseConnection : public ServerConnection {
  public:
    // `client` describes the client to the server (application.name at
    // least); `threadName` names the loop thread (as top -H shows it);
    // `server` is the server to connect to (empty: libpulse's default, which
    // honours PULSE_SERVER). The client also asks a PipeWire server for
    // buffers down to 1 ms, where it would grant no less than about 5 ms
    // otherwise.
    PulseConnection(Properties client, std::chrono::milliseconds timeout, const char *threadName,
                    std::string server = {});
    ~PulseConnection() override;

    PulseMainLoop &loop() { return loop_; }
    void lock() override { loop_.lock(); }
    void unlock() override { loop_.unlock(); }

    bool connect() override;
    void disconnect() override;
    // False once the server closed the connection or failed to answer
    // within the timeout.
    bool ready() const override;
    bool broken() const override { return context_ && !ready(); }
    // The live context; nullptr when there is none.
    pa_context *context() const { return context_.get(); }

    // The devices of one direction sorted by name (capture includes the
    // monitors of the playback devices); nullopt when the server does not
    // answer or reports an error part-way.
    std::optional<std::vector<Device>> devices(Direction direction);
    // The name of the server's default device; nullopt when it does not answer.
    std::optional<std::string> defaultDeviceName(Direction direction);
    // Whether the server is PipeWire's pulse layer, as it said on connecting.
    bool pipeWire() const { return pipeWire_; }

    // Called on the loop thread, with the loop locked, each time the server
    // adds a device, with its direction and name. Set before connect.
    using DeviceAdded = std::function<void(Direction, const std::string &name)>;
    void onDeviceAdded(DeviceAdded added) { deviceAdded_ = std::move(added); }
    // Called on the loop thread, with the loop locked, each time the server
    // adds or removes a device. Set before connect.
    void onDevicesChanged(std::function<void()> changed) { devicesChanged_ = std::move(changed); }

    // A new stereo 32-bit float stream at `rate` named `name`, with
    // `properties` beside its name, on `client` (nullptr: this connection's
    // own); empty when libpulse refuses.
    PulseStream newStereoStream(const std::string &name, std::uint32_t rate,
                                const Properties &properties = {}, pa_context *client = nullptr);

    // Another client of the same server, named as this one and run on the
    // same loop, ready for a stream of its own; empty when the server refused
    // it or did not answer in time (then gives up on the server).
    PulseContext newStreamClient();

    // Waits for `operation` (which may be empty: a failed call) to finish;
    // false when it failed, was cancelled or timed out (and then gives up on
    // the server).
    bool await(PulseOperation operation);

    // Waits until `stream`, just connected, is ready; false when it failed or
    // the server did not answer in time (then gives up on the server).
    bool waitUntilReady(pa_stream *stream);

    std::chrono::milliseconds timeout() const { return timeout_; }

  private:
    // What was last listed of one direction; empty once the server reported
    // a change to it. Written by the loop thread's callbacks.
    struct Kept {
        std::optional<std::vector<Device>> devices;
        std::optional<std::string> defaultName;
    };
    static constexpr std::size_t slot(Direction direction)
    {
        return direction == Direction::Playback ? 0 : 1;
    }
    // Loop thread: the server reported `event` (a pa_subscription_event_type_t)
    // for the device or server numbered `index`.
    void changed(unsigned event, std::uint32_t index);
    void lookUpAdded(Direction direction, std::uint32_t index);
    // A context connected to the server, or settled failing or timed out.
    PulseContext newClient();
    std::string failure() const override;

    Properties client_;
    std::chrono::milliseconds timeout_;
    std::string server_;
    PulseMainLoop loop_;
    PulseContext context_;
    std::string refusal_; // why the last connect failed
    bool pipeWire_ = false;
    std::array<Kept, 2> kept_;
    DeviceAdded deviceAdded_;
    std::function<void()> devicesChanged_;
    std::vector<PulseOperation> lookups_; // of added devices, until answered
};
