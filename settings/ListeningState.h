#pragma once

#include <cstdint>

// What the operator is listening to. The numbering is the program's own; the
// settings file codes these differently (see SettingsFile).
enum TSO2RState : std::uint8_t {
    ddOff = 0,    // audio powered off
    ddRight = 1,  // second radio in both ears
    ddCenter = 2, // radio 1 left, second radio right
    ddLeft = 3,   // radio 1 in both ears
    ddSwap = 4,   // reverse stereo: the second radio left, radio 1 right
    ddMute = 5,   // both captures paused
};

// Which radio is the second one.
enum TSO3RState : std::uint8_t {
    ddRadio2 = 0,
    ddRadio3 = 1,
};
