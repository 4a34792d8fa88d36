#pragma once

#include "AudioEngine.h"
#include "DeviceIdentity.h"

#include <array>
#include <cstdint>
#include <vector>

// Keeps the engine's four device numbers on the sound cards they were chosen
// for, by the cards' identities, while the server's numbering moves. A slot
// with no identity keeps its number as it is. User-interface thread only.
class DeviceBindings {
  public:
    // `engine` must outlive the bindings.
    explicit DeviceBindings(AudioEngine &engine);

    // The identities the settings file keeps.
    void setStored(const DeviceIdentities &identities);

    // Looks up every slot that has an identity: one found takes its number
    // now; one not found keeps its number and is missing.
    struct Outcome {
        bool changed = false; // a number or a missing mark
        // Slots found under another server name than the one stored (by their
        // bus path): a stream held to the stored name is on another card now.
        std::array<bool, kDeviceSlots> renamed{};
    };
    Outcome resolve();
    // True, once, when the server's device list has changed since the last
    // call (or since construction).
    bool listChanged();

    // The slot's identity is stored but no device has it now.
    bool missing(DeviceSlot slot) const;
    // The server's name stored for the slot.
    const std::string &storedName(DeviceSlot slot) const;

    // The operator chose the slot's device: its identity follows the number.
    void chosen(DeviceSlot slot);

    // What to store: the identity of the device each number names now (and
    // from then on bound to it); a missing slot's own, and the default
    // device's none.
    DeviceIdentities toStore();

  private:
    std::int32_t &number(DeviceSlot slot);
    static bool capture(DeviceSlot slot) { return slot != DeviceSlot::Output; }
    // One direction's devices in number order; empty when the server cannot
    // list them.
    std::vector<AudioDeviceInfo> devices(bool capture);

    AudioEngine &engine_;
    DeviceIdentities stored_;
    std::array<bool, kDeviceSlots> missing_{};
    std::uint64_t seenChanges_ = 0;
};
