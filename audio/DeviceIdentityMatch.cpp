#include "DeviceIdentityMatch.h"

#include <algorithm>
#include <iterator>

std::optional<int> findDevice(const std::vector<AudioDeviceInfo> &devices,
                              const DeviceIdentity &stored)
{
    if (stored.name.empty())
        return std::nullopt;
    const auto numberOf = [&devices](auto found) -> std::optional<int> {
        if (found == devices.end())
            return std::nullopt;
        return static_cast<int>(std::distance(devices.begin(), found));
    };
    const auto named = std::ranges::find(devices, stored.name, &AudioDeviceInfo::driver);
    if (stored.busPath.empty())
        return numberOf(named);
    if (const auto both = std::ranges::find_if(devices,
                                               [&stored](const AudioDeviceInfo &device) {
                                                   return device.driver == stored.name &&
                                                          device.busPath == stored.busPath;
                                               });
        both != devices.end())
        return numberOf(both);
    if (named != devices.end()) {
        const auto moved = std::ranges::find_if(devices, [&](const AudioDeviceInfo &device) {
            return device.busPath == stored.busPath && device.name == named->name;
        });
        if (moved != devices.end())
            return numberOf(moved);
    }
    return numberOf(named);
}
