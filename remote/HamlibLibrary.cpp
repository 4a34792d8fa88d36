#include "HamlibLibrary.h"

#include <dlfcn.h>

namespace {

struct Loaded {
    HamlibLibrary library{};
    std::string why; // empty once every call was found
};

template <typename Function>
void find(void *handle, const char *name, Function &function, std::string &why)
{
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (function == nullptr && why.empty())
        why = std::string("Hamlib has no ") + name;
}

Loaded loadOnce()
{
    Loaded loaded;
    // Never closed: a rig may be read until the program ends.
    void *handle = dlopen(KALDRA_HAMLIB_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *error = dlerror();
        loaded.why = error != nullptr ? error : "Hamlib could not be loaded";
        return loaded;
    }
    HamlibLibrary &hamlib = loaded.library;
    find(handle, "rig_init", hamlib.init, loaded.why);
    find(handle, "rig_open", hamlib.open, loaded.why);
    find(handle, "rig_close", hamlib.close, loaded.why);
    find(handle, "rig_cleanup", hamlib.cleanup, loaded.why);
    find(handle, "rig_set_conf", hamlib.setConf, loaded.why);
    find(handle, "rig_token_lookup", hamlib.tokenLookup, loaded.why);
    find(handle, "rig_set_debug", hamlib.setDebug, loaded.why);
    find(handle, "rig_set_cache_timeout_ms", hamlib.setCacheTimeoutMs, loaded.why);
    find(handle, "rig_get_ptt", hamlib.getPtt, loaded.why);
    find(handle, "rigerror2", hamlib.errorText, loaded.why);
    return loaded;
}

} // namespace

const HamlibLibrary *HamlibLibrary::load(std::string &why)
{
    static const Loaded loaded = loadOnce();
    why = loaded.why;
    return loaded.why.empty() ? &loaded.library : nullptr;
}
