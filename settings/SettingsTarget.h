#pragma once

#include "DeviceIdentity.h"
#include "ListeningState.h"

#include <cstdint>

// What reading the settings file sets, implemented by the main window. Called
// on the user-interface thread, in the file's key order: the four devices, then
// SetSO2R, then SetSO3R, then the devices' identities; a call is skipped when
// its value says nothing (a MODE or SO3R code without a meaning).
class SettingsTarget {
  public:
    virtual ~SettingsTarget() = default;

    // Device numbers: -1 is the system default, devices count from 0.
    virtual void setInput1Device(std::int32_t device) = 0;
    virtual void setInput2Device(std::int32_t device) = 0;
    virtual void setInput3Device(std::int32_t device) = 0;
    virtual void setOutputDevice(std::int32_t device) = 0;
    virtual void SetSO2R(TSO2RState state) = 0;
    virtual void SetSO3R(TSO3RState radio) = 0;
    // The identities stored beside the numbers; all empty when none is.
    virtual void setDeviceIdentities(const DeviceIdentities &identities) = 0;
};
