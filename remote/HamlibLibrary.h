#pragma once

#include <hamlib/rig.h>

#include <string>

// The Hamlib calls the rig reader makes, found in the library once a rig is
// first read. Linked in, Hamlib's tables of every rig model it knows would
// cost every run about 4 MB resident, with or without a rig to read.
struct HamlibLibrary {
    decltype(&rig_init) init;
    decltype(&rig_open) open;
    decltype(&rig_close) close;
    decltype(&rig_cleanup) cleanup;
    decltype(&rig_set_conf) setConf;
    decltype(&rig_token_lookup) tokenLookup;
    decltype(&rig_set_debug) setDebug;
    decltype(&rig_set_cache_timeout_ms) setCacheTimeoutMs;
    decltype(&rig_get_ptt) getPtt;
    decltype(&rigerror2) errorText;

    // Loads it on the first call, from any thread, and keeps it for the
    // process; nullptr when it cannot be loaded, with why in `why`.
    static const HamlibLibrary *load(std::string &why);
};
