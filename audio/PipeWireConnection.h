#pragma once

#include "PipeWireHandle.h"
#include "ServerConnection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pipewire/core.h>
#include <pipewire/extensions/metadata.h>

struct pw_context;
struct pw_loop;
struct pw_thread_loop;

// One client connection to a PipeWire server on its own thread loop, with
// the server's audio devices and default devices kept up to date from its
// registry and its "default" metadata.
//
// Every method except the constructor and destructor is called with the loop
// locked (lock() and unlock() make it usable with std::lock_guard), from a
// thread other than the loop thread. Waits for the server give up after the
// timeout given at construction, so a hung server never freezes the caller;
// a connection that was lost or gave up stays so until connect() again.
class PipeWireConnection : public ServerConnection {
  public:
    // Suffix of a sink's monitor among the capture devices, as the pulse
    // layer names it.
    static constexpr const char *kMonitorSuffix = ".monitor";

    // `client` describes the client to the server; `remote` is the server's
    // socket (empty: PipeWire's default, which honours PIPEWIRE_REMOTE and
    // PIPEWIRE_RUNTIME_DIR); `threadName` names the loop thread,
    // `dataThreadName` the real-time one. Throws std::runtime_error when the
    // loop cannot be started.
    PipeWireConnection(Properties client, std::string remote, std::chrono::milliseconds timeout,
                       const char *threadName, const char *dataThreadName);
    ~PipeWireConnection() override;

    void lock() override;
    void unlock() override;

    // Also reads the registry before it says ready.
    bool connect() override;
    void disconnect() override;
    bool ready() const override;
    bool broken() const override { return core_.get() != nullptr && !ready(); }
    // A round trip to the server: false (and the server given up) when it
    // did not answer in time.
    bool sync();

    pw_core *core() const { return core_.get(); }
    // The loop this connection's callbacks run on.
    pw_loop *loop() const;
    // Runs apply(data) on the thread of the streams' real-time callbacks and
    // returns once it has run.
    void runOnDataThread(void (*apply)(void *), void *data);
    // Gives the data loop's thread its name, once a stream has started it.
    void nameDataThread();

    // The devices of one direction sorted by name; capture includes a
    // monitor of each playback device. nullopt when not connected.
    std::optional<std::vector<Device>> devices(Direction direction) const;
    // The name of the default device of a direction as devices() names it;
    // nullopt when there is none.
    std::optional<std::string> defaultDeviceName(Direction direction) const;
    // The sink whose monitor capture device `name` is; nullopt for any
    // other name.
    std::optional<std::string> monitoredSink(const std::string &name) const;

    // A node's port as the registry announced it.
    struct Port {
        std::uint32_t id = 0;
        std::string name;    // "capture_FL", "monitor_FR", ...
        std::string channel; // "FL", "FR", "MONO"; "" when it does not say
    };
    // The global id of the node named `name`; nullopt when there is none.
    std::optional<std::uint32_t> nodeId(const std::string &name) const;
    // Node `node`'s ports of one direction sorted by id: its outputs, only
    // the monitor ones when `monitor` and none of those otherwise, or its
    // inputs.
    std::vector<Port> ports(std::uint32_t node, bool output, bool monitor) const;

    // Called on the loop thread, with the loop locked, each time the server
    // announces an audio device, with its node name, once devices() lists
    // it. Set before connect.
    using DeviceAdded = std::function<void(const std::string &name)>;
    void onDeviceAdded(DeviceAdded added) { deviceAdded_ = std::move(added); }
    // Called on the loop thread, with the loop locked, each time an audio
    // device comes or goes, or its bus path becomes known. Set before connect.
    void onDevicesChanged(std::function<void()> changed) { devicesChanged_ = std::move(changed); }
    // Called on the loop thread, with the loop locked, each time a port
    // comes or goes, a node goes or a default device changes: what links
    // between nodes can be made has changed. Set with the loop locked.
    void onGraphChanged(std::function<void()> changed) { graphChanged_ = std::move(changed); }

    // Caller holds the lock: waits until `done` is true or the timeout has
    // passed (then gives up on the server); returns `done`'s last answer.
    bool waitUntil(const std::function<bool()> &done);
    // Loop thread: wakes the waiter.
    void signal();

  private:
    // The loop that runs the streams' real-time callbacks.
    pw_loop *dataLoop() const;
    struct Node {
        std::string mediaClass;
        std::string name;
        std::string description;
        std::uint32_t device = 0; // its device's global id; 0 when none
    };
    // A node or device bound for its full properties, where the bus path is:
    // the registry does not pass it on. Stays until disconnect() or its
    // global goes, so that no hook dangles while the core lives.
    struct Bound {
        PipeWireConnection *connection = nullptr;
        std::uint32_t id = 0;
        PipeWireProxyHandle proxy;
    };

    std::string failure() const override { return error_; }
    void forgetServer();
    // The bus path of node `node`: its own, else its device's; "" when
    // neither says.
    std::string busPath(std::uint32_t id, const Node &node) const;
    void bindForBusPath(std::uint32_t id, const char *type, std::uint32_t version);
    void unbind(std::uint32_t id);
    void devicesChanged();
    void graphChanged();
    static void onBoundProps(void *data, const spa_dict *props);
    // The events of a bound node or device (`Events`) that hand its
    // properties to onBoundProps each time they change.
    template <typename Events, std::uint32_t kVersion, std::uint64_t kPropsChanged>
    static const void *propsEvents();
    bool isSink(const std::string &name) const;
    pw_registry *registry() const { return reinterpret_cast<pw_registry *>(registry_.get()); }

    static void onCoreDone(void *data, std::uint32_t id, int seq);
    static void onCoreError(void *data, std::uint32_t id, int seq, int res, const char *message);
    static void onGlobal(void *data, std::uint32_t id, std::uint32_t permissions, const char *type,
                         std::uint32_t version, const struct spa_dict *props);
    static void onGlobalRemove(void *data, std::uint32_t id);
    static int onMetadataProperty(void *data, std::uint32_t subject, const char *key,
                                  const char *type, const char *value);

    Properties client_;
    std::string remote_;
    std::chrono::milliseconds timeout_;
    const char *dataThreadName_;
    pw_thread_loop *loop_ = nullptr;
    pw_context *context_ = nullptr;
    // Closed in the reverse order: the core's proxies before it.
    PipeWireCoreHandle core_;
    PipeWireProxyHandle registry_;
    PipeWireProxyHandle metadata_;
    int syncSeq_ = -1;
    int doneSeq_ = -1;
    bool lost_ = false;
    std::string error_; // the server's last word on a failure
    std::map<std::uint32_t, Node> nodes_;
    struct NodePort {
        Port port;
        std::uint32_t node = 0;
        bool output = false;
        bool monitor = false;
    };
    std::map<std::uint32_t, NodePort> ports_;
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;
    // By global id of a node or a device.
    std::map<std::uint32_t, std::string> busPaths_;
    DeviceAdded deviceAdded_;
    std::function<void()> devicesChanged_;
    std::function<void()> graphChanged_;
    std::string defaultSink_;
    std::string defaultSource_;
};
