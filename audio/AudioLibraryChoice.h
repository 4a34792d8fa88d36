#pragma once

#include "AudioLibrary.h"

#include <memory>

// The program's audio library: PipeWire's own when a PipeWire server answers
// and libpulse has not been pointed elsewhere (PULSE_SERVER set means the
// pulse protocol), the PulseAudio library otherwise. Says on standard error
// which one it chose.
std::unique_ptr<AudioLibrary> chooseAudioLibrary();
