#pragma once

#include <cstdint>

// What a logger can ask the headphones to play.
enum class RemoteRoute : std::uint8_t {
    Rig1,    // RX1: radio 1 in both ears
    Rig2,    // RX2: the second radio (2, or 3 when radio 3 is the second) in both ears
    Stereo,  // RX1S / RX2S: radio 1 left, the second radio right
    Reverse, // RX1R / RX2R: the second radio left, radio 1 right
};
