#include "DeviceBindings.h"

#include "DeviceIdentityMatch.h"

#include <cstddef>
#include <optional>

namespace {

constexpr DeviceSlot kSlots[] = {DeviceSlot::Input1, DeviceSlot::Input2, DeviceSlot::Input3,
                                 DeviceSlot::Output};

std::size_t index(DeviceSlot slot)
{
    return static_cast<std::size_t>(slot);
}

} // namespace

DeviceBindings::DeviceBindings(AudioEngine &engine)
    : engine_(engine), seenChanges_(engine.library().DeviceListChanges())
{
}

void DeviceBindings::setStored(const DeviceIdentities &identities)
{
    stored_ = identities;
    missing_ = {};
}

std::int32_t &DeviceBindings::number(DeviceSlot slot)
{
    switch (slot) {
    case DeviceSlot::Input1:
        return engine_.Input1Device;
    case DeviceSlot::Input2:
        return engine_.Input2Device;
    case DeviceSlot::Input3:
        return engine_.Input3Device;
    case DeviceSlot::Output:
        break;
    }
    return engine_.OutputDevice;
}

std::vector<AudioDeviceInfo> DeviceBindings::devices(bool capture)
{
    AudioLibrary &library = engine_.library();
    std::vector<AudioDeviceInfo> listed;
    for (int device = 0;; ++device) {
        AudioDeviceInfo info;
        if (!(capture ? library.RecordGetDeviceInfo(device, info)
                      : library.GetDeviceInfo(device, info)))
            return listed;
        listed.push_back(std::move(info));
    }
}

DeviceBindings::Outcome DeviceBindings::resolve()
{
    Outcome outcome;
    bool &changed = outcome.changed;
    // Listed once per direction, and only when some slot of it is bound.
    std::array<std::optional<std::vector<AudioDeviceInfo>>, 2> listings;
    for (const DeviceSlot slot : kSlots) {
        const DeviceIdentity stored = stored_[index(slot)];
        if (stored.name.empty())
            continue;
        auto &listing = listings[capture(slot) ? 1 : 0];
        if (!listing)
            listing = devices(capture(slot));
        // A server that lists nothing tells nothing: every number stays.
        if (listing->empty())
            continue;
        const std::optional<int> found = findDevice(*listing, stored);
        if (found && *found != number(slot)) {
            number(slot) = *found;
            changed = true;
        }
        if (found) {
            const AudioDeviceInfo &device = (*listing)[static_cast<std::size_t>(*found)];
            outcome.renamed[index(slot)] = device.driver != stored.name;
            stored_[index(slot)] = {device.driver, device.busPath};
        }
        if (missing_[index(slot)] != !found) {
            missing_[index(slot)] = !found;
            changed = true;
        }
    }
    return outcome;
}

bool DeviceBindings::listChanged()
{
    const std::uint64_t changes = engine_.library().DeviceListChanges();
    if (changes == seenChanges_)
        return false;
    seenChanges_ = changes;
    return true;
}

bool DeviceBindings::missing(DeviceSlot slot) const
{
    return missing_[index(slot)];
}

const std::string &DeviceBindings::storedName(DeviceSlot slot) const
{
    return stored_[index(slot)].name;
}

void DeviceBindings::chosen(DeviceSlot slot)
{
    missing_[index(slot)] = false;
}

DeviceIdentities DeviceBindings::toStore()
{
    for (const DeviceSlot slot : kSlots) {
        DeviceIdentity &stored = stored_[index(slot)];
        const std::int32_t device = number(slot);
        if (device == -1) {
            stored = {};
            continue;
        }
        if (missing_[index(slot)])
            continue;
        AudioDeviceInfo info;
        AudioLibrary &library = engine_.library();
        if (capture(slot) ? library.RecordGetDeviceInfo(device, info)
                          : library.GetDeviceInfo(device, info))
            stored = {info.driver, info.busPath};
    }
    return stored_;
}
