#include "PipeWireHandle.h"

#include <pipewire/core.h>
#include <pipewire/filter.h>
#include <pipewire/proxy.h>

template <>
const PipeWireFilterHandle::Calls PipeWireFilterHandle::kCalls = {pw_filter_add_listener,
                                                                  pw_filter_destroy};

// A proxy's listener takes what each interface's add_listener gives it.
template <>
const PipeWireProxyHandle::Calls PipeWireProxyHandle::kCalls = {pw_proxy_add_object_listener,
                                                                pw_proxy_destroy};

namespace {

// Not a lambda: clang checks PipeWire's method macro expanded inside one as
// our own code, and its version test compares signed with unsigned.
void listenToCore(pw_core *core, spa_hook *listener, const pw_core_events *events, void *data)
{
    pw_core_add_listener(core, listener, events, data);
}

void disconnectCore(pw_core *core)
{
    pw_core_disconnect(core);
}

} // namespace

template <>
const PipeWireCoreHandle::Calls PipeWireCoreHandle::kCalls = {listenToCore, disconnectCore};
