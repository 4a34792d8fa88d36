#pragma once

#include <spa/utils/hook.h>

struct pw_core;
struct pw_core_events;
struct pw_filter;
struct pw_filter_events;
struct pw_proxy;

// The one owner of a PipeWire object and of its owner's listener on it.
// Closing removes the listener first, so that no callback runs on what the
// owner is freeing, then destroys the object: a filter goes off
// the data thread with it, a proxy takes what this client made on the server with it,
// the core disconnects. Once close() returns no callback of it runs or will.
// With the loop locked, from any thread but the data thread.
//
// `Events` is the object's events table; void for a proxy, whose listener
// takes the events of its interface (pw_registry_events, pw_node_events...).
template <typename Object, typename Events> class PipeWireHandle {
  public:
    PipeWireHandle() = default;
    ~PipeWireHandle() { close(); }
    PipeWireHandle(const PipeWireHandle &) = delete;
    PipeWireHandle &operator=(const PipeWireHandle &) = delete;

    // Closes the object held, then holds `object` (nullptr: none), its
    // `events` (nullptr: none) going to `data`.
    void reset(Object *object, const Events *events = nullptr, void *data = nullptr)
    {
        close();
        object_ = object;
        listening_ = object_ != nullptr && events != nullptr;
        if (listening_)
            kCalls.listen(object_, &listener_, events, data);
    }
    void close()
    {
        if (object_ == nullptr)
            return;
        if (listening_)
            spa_hook_remove(&listener_);
        listening_ = false;
        kCalls.destroy(object_);
        object_ = nullptr;
    }
    Object *get() const { return object_; }

    // How an object of this kind is listened to and destroyed.
    struct Calls {
        void (*listen)(Object *object, spa_hook *listener, const Events *events, void *data);
        void (*destroy)(Object *object);
    };

  private:
    static const Calls kCalls;

    Object *object_ = nullptr;
    spa_hook listener_{};
    bool listening_ = false;
};

using PipeWireFilterHandle = PipeWireHandle<pw_filter, pw_filter_events>;
using PipeWireProxyHandle = PipeWireHandle<pw_proxy, void>;
using PipeWireCoreHandle = PipeWireHandle<pw_core, pw_core_events>;

template <> const PipeWireFilterHandle::Calls PipeWireFilterHandle::kCalls;
template <> const PipeWireProxyHandle::Calls PipeWireProxyHandle::kCalls;
template <> const PipeWireCoreHandle::Calls PipeWireCoreHandle::kCalls;
