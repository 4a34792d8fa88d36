#pragma once

#include <memory>

struct pa_context;
struct pa_operation;
struct pa_proplist;
struct pa_stream;

// Lets go of a libpulse object so that no callback of it can run on what its
// owner has freed: callbacks are detached first, then the object is
// disconnected (a stream, a context) or cancelled (an operation still
// running) and unreferenced. Called with the loop locked, except for a
// proplist, which belongs to no loop.
struct PulseRelease {
    void operator()(pa_stream *stream) const;
    void operator()(pa_operation *operation) const;
    void operator()(pa_context *context) const;
    void operator()(pa_proplist *list) const;
};

// The owner of a libpulse object (a capture client may have several, as a
// shared_ptr with PulseRelease).
using PulseStream = std::unique_ptr<pa_stream, PulseRelease>;
using PulseOperation = std::unique_ptr<pa_operation, PulseRelease>;
using PulseContext = std::unique_ptr<pa_context, PulseRelease>;
using PulseProplist = std::unique_ptr<pa_proplist, PulseRelease>;
