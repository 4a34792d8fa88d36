#include "PipeWireConnection.h"

#include <pipewire/extensions/protocol-native.h>
#include <pipewire/impl-module.h>
#include <pipewire/pipewire.h>
#include <spa/utils/json.h>
#include <spa/utils/string.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string_view>

namespace {

const char *kSinkClasses[] = {"Audio/Sink", "Audio/Duplex"};
const char *kSourceClasses[] = {"Audio/Source", "Audio/Source/Virtual", "Audio/Duplex"};
const char *kDeviceClass = "Audio/Device";
// The pulse layer's spelling, which a device made through it carries, and
// the one of PipeWire's own ALSA devices.
const char *kBusPathKeys[] = {"device.bus_path", "device.bus-path"};

template <std::size_t N> bool among(const std::string &value, const char *(&list)[N])
{
    for (const char *entry : list)
        if (value == entry)
            return true;
    return false;
}

const char *lookup(const spa_dict *props, const char *key)
{
    const char *value = props == nullptr ? nullptr : spa_dict_lookup(props, key);
    return value == nullptr ? "" : value;
}

// The "name" of a default-device metadata value: {"name":"headphones"}.
std::string nameInJson(const char *value)
{
    if (value == nullptr)
        return {};
    spa_json outer, object;
    spa_json_init(&outer, value, std::strlen(value));
    if (spa_json_enter_object(&outer, &object) <= 0)
        return {};
    char key[64];
    while (spa_json_get_string(&object, key, sizeof key) > 0) {
        char name[512];
        if (std::strcmp(key, "name") == 0)
            return spa_json_get_string(&object, name, sizeof name) > 0 ? name : "";
        const char *skipped = nullptr;
        if (spa_json_next(&object, &skipped) <= 0)
            break;
    }
    return {};
}

} // namespace

PipeWireConnection::PipeWireConnection(Properties client, std::string remote,
                                       std::chrono::milliseconds timeout, const char *threadName,
                                       const char *dataThreadName)
    : ServerConnection(client), client_(std::move(client)), remote_(std::move(remote)),
      timeout_(timeout), dataThreadName_(dataThreadName)
{
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new(threadName, nullptr);
    if (loop_ == nullptr)
        throw std::runtime_error("cannot make a PipeWire loop");
    // The modules of the real-time client configuration that the back-end
    // uses, and no others: the configuration's session-manager and
    // client-device modules export objects it never makes, for half a MiB
    // resident. module-rt makes the data thread real-time (through RTKit on
    // a desktop); without it a busy machine starves the mix for a few cycles
    // now and then, but the mix runs. A configuration the user names in
    // PIPEWIRE_CONFIG_NAME comes first and brings its own modules.
    context_ = pw_context_new(
        pw_thread_loop_get_loop(loop_),
        pw_properties_new(PW_KEY_CONFIG_NAME, "null", SPA_KEY_LOG_LEVEL, "0", nullptr), 0);
    if (context_ != nullptr &&
        pw_context_find_protocol(context_, PW_TYPE_INFO_PROTOCOL_Native) == nullptr) {
        pw_context_add_spa_lib(context_, "audio.convert.*", "audioconvert/libspa-audioconvert");
        pw_context_add_spa_lib(context_, "support.*", "support/libspa-support");
        pw_context_load_module(context_, "libpipewire-module-rt", nullptr, nullptr);
        // The context started its data thread before module-rt could make
        // it real-time; the thread it starts now is.
        pw_data_loop *data = pw_context_get_data_loop(context_);
        pw_data_loop_stop(data);
        pw_data_loop_start(data);
        for (const char *module : {"libpipewire-module-protocol-native",
                                   "libpipewire-module-client-node", "libpipewire-module-metadata"})
            if (pw_context_load_module(context_, module, nullptr, nullptr) == nullptr) {
                pw_context_destroy(context_);
                context_ = nullptr;
                break;
            }
    }
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
        if (context_ != nullptr)
            pw_context_destroy(context_);
        pw_thread_loop_destroy(loop_);
        throw std::runtime_error("cannot start a PipeWire loop");
    }
}

PipeWireConnection::~PipeWireConnection()
{
    lock();
    disconnect();
    unlock();
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
    pw_deinit();
}

void PipeWireConnection::lock()
{
    pw_thread_loop_lock(loop_);
}

void PipeWireConnection::unlock()
{
    pw_thread_loop_unlock(loop_);
}

void PipeWireConnection::runOnDataThread(void (*apply)(void *), void *data)
{
    // The loop hands an item over with atomics that ThreadSanitizer cannot
    // see, and takes an item queued while it still runs the one before
    // without the wake-up read that it would see. So the item stays here,
    // handed over by a release and acquire of its own.
    struct Handover {
        std::atomic<void *> data;
        void (*apply)(void *);
    } handover{nullptr, apply};
    handover.data.store(data, std::memory_order_release);
    const auto run = [](spa_loop *, bool, std::uint32_t, const void *, std::size_t,
                        void *item) -> int {
        auto *handover = static_cast<Handover *>(item);
        void *data = handover->data.load(std::memory_order_acquire);
        handover->apply(data);
        return 0;
    };
    pw_loop_invoke(dataLoop(), run, 0, nullptr, 0, true, &handover);
}

void PipeWireConnection::nameDataThread()
{
    struct Naming {
        pthread_t caller;
        const char *name;
    } naming{pthread_self(), dataThreadName_};
    runOnDataThread(
        [](void *data) {
            const auto *naming = static_cast<const Naming *>(data);
            // A loop that has not started yet runs it on the caller's thread.
            if (!pthread_equal(pthread_self(), naming->caller))
                pthread_setname_np(pthread_self(), naming->name);
        },
        &naming);
}

pw_loop *PipeWireConnection::loop() const
{
    return pw_thread_loop_get_loop(loop_);
}

pw_loop *PipeWireConnection::dataLoop() const
{
    return pw_data_loop_get_loop(pw_context_get_data_loop(context_));
}

bool PipeWireConnection::connect()
{
    if (ready())
        return true;
    disconnect();
    pw_properties *props = pw_properties_new(nullptr, nullptr);
    for (const auto &[key, value] : client_)
        pw_properties_set(props, key.c_str(), value.c_str());
    if (!remote_.empty())
        pw_properties_set(props, PW_KEY_REMOTE_NAME, remote_.c_str());
    pw_core *core = pw_context_connect(context_, props, 0);
    if (core == nullptr) {
        // PipeWire says "host is down" for a socket nobody listens on.
        error_ = std::strerror(errno == EHOSTDOWN ? ECONNREFUSED : errno);
        lost_ = true;
        return false;
    }
    // What the core and the registry tell this connection.
    struct Listened {
        pw_core_events core{};
        pw_registry_events registry{};
    };
    static const Listened listened = [] {
        Listened events;
        events.core.version = PW_VERSION_CORE_EVENTS;
        events.core.done = onCoreDone;
        events.core.error = onCoreError;
        events.registry.version = PW_VERSION_REGISTRY_EVENTS;
        events.registry.global = onGlobal;
        events.registry.global_remove = onGlobalRemove;
        return events;
    }();
    core_.reset(core, &listened.core, this);
    registry_.reset(
        reinterpret_cast<pw_proxy *>(pw_core_get_registry(core, PW_VERSION_REGISTRY, 0)),
        &listened.registry, this);
    // The first round trip brings the globals (and binds the metadata), the
    // second the metadata's properties.
    return sync() && sync();
}

void PipeWireConnection::disconnect()
{
    metadata_.close();
    while (!bound_.empty())
        unbind(bound_.begin()->first);
    registry_.close();
    core_.close();
    forgetServer();
    lost_ = false;
    unresponsive_ = false;
    error_.clear();
}

void PipeWireConnection::forgetServer()
{
    nodes_.clear();
    ports_.clear();
    busPaths_.clear();
    defaultSink_.clear();
    defaultSource_.clear();
}

bool PipeWireConnection::ready() const
{
    return core_.get() != nullptr && !lost_ && !unresponsive_;
}

bool PipeWireConnection::sync()
{
    if (!ready())
        return false;
    syncSeq_ = pw_core_sync(core_.get(), PW_ID_CORE, syncSeq_);
    const int awaited = syncSeq_;
    return waitUntil([&] { return !ready() || doneSeq_ == awaited; }) && ready();
}

bool PipeWireConnection::waitUntil(const std::function<bool()> &done)
{
    timespec deadline{};
    pw_thread_loop_get_time(loop_, &deadline,
                            std::chrono::duration_cast<std::chrono::nanoseconds>(timeout_).count());
    while (!done()) {
        if (pw_thread_loop_timed_wait_full(loop_, &deadline) == -ETIMEDOUT) {
            if (done())
                return true;
            unresponsive_ = true;
            return false;
        }
    }
    return true;
}

void PipeWireConnection::signal()
{
    pw_thread_loop_signal(loop_, false);
}

std::optional<std::vector<PipeWireConnection::Device>>
PipeWireConnection::devices(Direction direction) const
{
    if (!ready())
        return std::nullopt;
    DeviceListing listing;
    for (const auto &[id, node] : nodes_) {
        const bool sink = among(node.mediaClass, kSinkClasses);
        const std::string path = busPath(id, node);
        if (direction == Direction::Playback) {
            if (sink)
                listing.add({node.name, node.description, path});
            continue;
        }
        if (among(node.mediaClass, kSourceClasses))
            listing.add({node.name, node.description, path});
        if (sink)
            listing.add({node.name + kMonitorSuffix, "Monitor of " + node.description, path});
    }
    listing.finish(false);
    return listing.devices();
}

std::optional<std::string> PipeWireConnection::defaultDeviceName(Direction direction) const
{
    if (!ready())
        return std::nullopt;
    if (direction == Direction::Playback)
        return defaultSink_.empty() ? std::nullopt : std::optional(defaultSink_);
    if (defaultSource_.empty())
        return std::nullopt;
    // A sink chosen as the default source means its monitor.
    return isSink(defaultSource_) ? defaultSource_ + kMonitorSuffix : defaultSource_;
}

std::optional<std::string> PipeWireConnection::monitoredSink(const std::string &name) const
{
    const std::string suffix = kMonitorSuffix;
    if (name.size() <= suffix.size() || !name.ends_with(suffix))
        return std::nullopt;
    std::string sink = name.substr(0, name.size() - suffix.size());
    return isSink(sink) ? std::optional(sink) : std::nullopt;
}

std::optional<std::uint32_t> PipeWireConnection::nodeId(const std::string &name) const
{
    for (const auto &[id, node] : nodes_)
        if (node.name == name)
            return id;
    return std::nullopt;
}

std::vector<PipeWireConnection::Port> PipeWireConnection::ports(std::uint32_t node, bool output,
                                                                bool monitor) const
{
    std::vector<Port> found;
    for (const auto &[id, port] : ports_)
        if (port.node == node && port.output == output && (!output || port.monitor == monitor))
            found.push_back(port.port);
    return found;
}

std::string PipeWireConnection::busPath(std::uint32_t id, const Node &node) const
{
    for (const std::uint32_t holder : {id, node.device}) {
        const auto found = busPaths_.find(holder);
        if (holder != 0 && found != busPaths_.end() && !found->second.empty())
            return found->second;
    }
    return {};
}

template <typename Events, std::uint32_t kVersion, std::uint64_t kPropsChanged>
const void *PipeWireConnection::propsEvents()
{
    static const Events events = [] {
        Events listened{};
        listened.version = kVersion;
        listened.info = [](void *data, const auto *info) {
            if ((info->change_mask & kPropsChanged) != 0)
                onBoundProps(data, info->props);
        };
        return listened;
    }();
    return &events;
}

void PipeWireConnection::bindForBusPath(std::uint32_t id, const char *type, std::uint32_t version)
{
    auto bound = std::make_unique<Bound>();
    bound->connection = this;
    bound->id = id;
    auto *proxy = static_cast<pw_proxy *>(pw_registry_bind(registry(), id, type, version, 0));
    if (proxy == nullptr)
        return;
    const void *events =
        std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0
            ? propsEvents<pw_node_events, PW_VERSION_NODE_EVENTS, PW_NODE_CHANGE_MASK_PROPS>()
            : propsEvents<pw_device_events, PW_VERSION_DEVICE_EVENTS,
                          PW_DEVICE_CHANGE_MASK_PROPS>();
    bound->proxy.reset(proxy, events, bound.get());
    unbind(id);
    bound_[id] = std::move(bound);
}

void PipeWireConnection::unbind(std::uint32_t id)
{
    const auto found = bound_.find(id);
    if (found == bound_.end())
        return;
    bound_.erase(found);
}

void PipeWireConnection::onBoundProps(void *data, const spa_dict *props)
{
    const auto *bound = static_cast<const Bound *>(data);
    PipeWireConnection *self = bound->connection;
    std::string path;
    for (const char *key : kBusPathKeys)
        if (path.empty())
            path = lookup(props, key);
    std::string &kept = self->busPaths_[bound->id];
    if (kept == path)
        return;
    kept = path;
    self->devicesChanged();
}

void PipeWireConnection::devicesChanged()
{
    if (devicesChanged_)
        devicesChanged_();
}

void PipeWireConnection::graphChanged()
{
    if (graphChanged_)
        graphChanged_();
}

bool PipeWireConnection::isSink(const std::string &name) const
{
    for (const auto &[id, node] : nodes_)
        if (node.name == name && among(node.mediaClass, kSinkClasses))
            return true;
    return false;
}

void PipeWireConnection::onCoreDone(void *data, std::uint32_t id, int seq)
{
    auto *self = static_cast<PipeWireConnection *>(data);
    if (id == PW_ID_CORE) {
        self->doneSeq_ = seq;
        self->signal();
    }
}

void PipeWireConnection::onCoreError(void *data, std::uint32_t id, int, int res,
                                     const char *message)
{
    auto *self = static_cast<PipeWireConnection *>(data);
    self->error_ = message != nullptr && *message != '\0' ? message : std::strerror(-res);
    if (id == PW_ID_CORE && res == -EPIPE) {
        self->lost_ = true;
        self->forgetServer();
    }
    self->signal();
}

void PipeWireConnection::onGlobal(void *data, std::uint32_t id, std::uint32_t, const char *type,
                                  std::uint32_t, const spa_dict *props)
{
    auto *self = static_cast<PipeWireConnection *>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        Node node{lookup(props, PW_KEY_MEDIA_CLASS), lookup(props, PW_KEY_NODE_NAME),
                  lookup(props, PW_KEY_NODE_DESCRIPTION), 0};
        if (node.description.empty())
            node.description = node.name;
        if (node.name.empty())
            return;
        const bool device =
            among(node.mediaClass, kSinkClasses) || among(node.mediaClass, kSourceClasses);
        spa_atou32(lookup(props, PW_KEY_DEVICE_ID), &node.device, 10);
        const std::string name = node.name;
        self->nodes_[id] = std::move(node);
        if (!device)
            return;
        self->bindForBusPath(id, type, PW_VERSION_NODE);
        if (self->deviceAdded_)
            self->deviceAdded_(name);
        self->devicesChanged();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        NodePort port{{id, lookup(props, PW_KEY_PORT_NAME), lookup(props, PW_KEY_AUDIO_CHANNEL)},
                      0,
                      lookup(props, PW_KEY_PORT_DIRECTION) == std::string_view("out"),
                      lookup(props, PW_KEY_PORT_MONITOR) == std::string_view("true")};
        if (!spa_atou32(lookup(props, PW_KEY_NODE_ID), &port.node, 10))
            return;
        self->ports_[id] = std::move(port);
        self->graphChanged();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0 &&
               lookup(props, PW_KEY_MEDIA_CLASS) == std::string_view(kDeviceClass)) {
        self->bindForBusPath(id, type, PW_VERSION_DEVICE);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 &&
               std::strcmp(lookup(props, PW_KEY_METADATA_NAME), "default") == 0 &&
               self->metadata_.get() == nullptr) {
        static const pw_metadata_events metadataEvents = [] {
            pw_metadata_events events{};
            events.version = PW_VERSION_METADATA_EVENTS;
            events.property = onMetadataProperty;
            return events;
        }();
        self->metadata_.reset(static_cast<pw_proxy *>(pw_registry_bind(self->registry(), id, type,
                                                                       PW_VERSION_METADATA, 0)),
                              &metadataEvents, self);
    }
}

void PipeWireConnection::onGlobalRemove(void *data, std::uint32_t id)
{
    auto *self = static_cast<PipeWireConnection *>(data);
    const bool device = self->bound_.contains(id) && self->nodes_.contains(id);
    const bool linkable = self->nodes_.contains(id) || self->ports_.contains(id);
    self->unbind(id);
    self->busPaths_.erase(id);
    self->nodes_.erase(id);
    self->ports_.erase(id);
    if (device)
        self->devicesChanged();
    if (linkable)
        self->graphChanged();
}

int PipeWireConnection::onMetadataProperty(void *data, std::uint32_t subject, const char *key,
                                           const char *, const char *value)
{
    auto *self = static_cast<PipeWireConnection *>(data);
    if (subject != PW_ID_CORE)
        return 0;
    if (key == nullptr) { // all cleared
        self->defaultSink_.clear();
        self->defaultSource_.clear();
    } else if (std::strcmp(key, "default.audio.sink") == 0) {
        self->defaultSink_ = nameInJson(value);
    } else if (std::strcmp(key, "default.audio.source") == 0) {
        self->defaultSource_ = nameInJson(value);
    }
    self->graphChanged();
    return 0;
}
