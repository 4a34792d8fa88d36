#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Collects one listing of the server's devices as its callbacks hand them
// over: one device at a time, then the end of the list or an error. A listing
// that ended in an error is no list at all, so that device numbers never
// shift because part of the list is missing.
class DeviceListing {
  public:
    enum class Direction { Playback, Capture };

    struct Device {
        std::string name;        // the server's name, stable across runs
        std::string description; // what the operator reads
        std::string busPath;     // device.bus_path; "" when not given
        std::uint32_t rate = 0;  // its own sample rate; 0 when not given
    };

    void add(Device device);
    // `failed`: the server reported an error instead of the end of the list.
    void finish(bool failed);

    // The devices sorted by name once the list ended without error; nullopt
    // while it runs and after an error.
    std::optional<std::vector<Device>> devices() const;

  private:
    std::vector<Device> devices_;
    bool ended_ = false;
    bool failed_ = false;
};
