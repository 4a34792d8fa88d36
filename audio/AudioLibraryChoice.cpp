#include "AudioLibraryChoice.h"

#include "PipeWireAudioLibrary.h"
#include "PulseAudioLibrary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

std::unique_ptr<AudioLibrary> chooseAudioLibrary()
{
    PipeWireAudioLibrary::Options pipeWire;
    // A desktop without PipeWire refuses at once; this only bounds a hung one.
    pipeWire.timeout = std::chrono::milliseconds(500);
    if (std::getenv("PULSE_SERVER") == nullptr && PipeWireAudioLibrary::serverAnswers(pipeWire)) {
        std::fprintf(stderr, "KALDRA: sound through PipeWire\n");
        return std::make_unique<PipeWireAudioLibrary>();
    }
    std::fprintf(stderr, "KALDRA: sound through PulseAudio\n");
    return std::make_unique<PulseAudioLibrary>();
}
