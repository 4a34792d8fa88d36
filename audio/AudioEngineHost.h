#pragma once

#include "ListeningState.h"

#include <string>

// What the audio engine needs from the window that owns it: the listening
// state, the status refresh, the settings write and the way the process ends
// after a start-up failure. Called on the user-interface thread only.
class AudioEngineHost {
  public:
    virtual ~AudioEngineHost() = default;

    virtual TSO2RState SO2R() const = 0;
    virtual TSO3RState SO3R() const = 0;
    // The state mute returns to.
    virtual TSO2RState LastSO2R() const = 0;
    virtual void SetLastSO2R(TSO2RState state) = 0;
    virtual void SetSO2R(TSO2RState state) = 0;
    // Rewrites the status line and the device hints.
    virtual void ShowMode() = 0;
    // Writes the settings file; throws SettingsError when the write is
    // refused, which ends the engine's operation at that write.
    virtual void WriteSettings() = 0;
    // Shows `message` in a plain message box with no owner (with the error
    // icon when `errorIcon`) and ends the process at once, without writing
    // the settings; the devices are released on the way out. In the program
    // it does not return; should it return (a test's host), the engine stops
    // the operation there.
    virtual void EndOnAudioFailure(const std::string &message, bool errorIcon) = 0;
};
