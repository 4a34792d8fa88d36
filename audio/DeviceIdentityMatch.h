#pragma once

#include "AudioLibrary.h"
#include "DeviceIdentity.h"

#include <optional>
#include <vector>

// Where the device known as `stored` stands now in `devices`, one direction's
// list in number order; nullopt when it is not there, and always for an empty
// name (the default device, or nothing stored).
//
// First a device with the stored name and bus path. Else, a device with the
// stored bus path among those of the description that the device now holding
// the stored name has: two identical cards whose server names moved from one
// to the other, where the port still says which is which. Else a device with
// the stored name. A bus path alone never names a device: a card's input and
// the monitor of its output share one.
std::optional<int> findDevice(const std::vector<AudioDeviceInfo> &devices,
                              const DeviceIdentity &stored);
