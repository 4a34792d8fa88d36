#pragma once

#include <array>
#include <cstddef>
#include <string>

// What names a sound card across runs, however the server numbers it: the
// server's name for it and, where the server gives one, its bus path
// (device.bus_path), which tells identical cards apart by the port they hang
// on. Both empty for the default device and where nothing is known.
struct DeviceIdentity {
    std::string name;
    std::string busPath;

    bool operator==(const DeviceIdentity &) const = default;
};

// The identities of the four devices the settings keep, in this order.
enum class DeviceSlot : std::size_t { Input1, Input2, Input3, Output };
constexpr std::size_t kDeviceSlots = 4;
using DeviceIdentities = std::array<DeviceIdentity, kDeviceSlots>;
