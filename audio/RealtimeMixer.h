#pragma once

#include "AudioLibrary.h"

#include <cstddef>
#include <cstdint>

// Mixes up to kMaxInputs stereo captures into one stereo output, each capture
// through its own 2 x 2 routing matrix. Knows nothing of any sound server.
//
// Threads:
// - control (the user-interface thread): attachInput, detachInput, setMatrix,
//   matrix, setPaused, statistics;
// - producer, one per input (the capture callback): push;
// - consumer (the playback callback): render.
// push and render never lock, allocate or block. Control changes reach the
// consumer through atomics, take effect at the next rendered block and are
// ramped so that no change clicks.
//
// Samples are 32-bit floats, interleaved left, right.
class RealtimeMixer {
public:
    static constexpr int kMaxInputs = 8;

    struct Config {
        double sampleRate = 7000.0;
        double targetDelayMs = 10.0;  // fill each input's ring is steered toward
        double rampMs = 5.0;          // length of a matrix, pause or play ramp
    };

    explicit RealtimeMixer(const Config &config);
    ~RealtimeMixer();
    RealtimeMixer(const RealtimeMixer &) = delete;
    RealtimeMixer &operator=(const RealtimeMixer &) = delete;

    // Control thread. attachInput returns a free input (identity matrix, not
    // paused, empty) or -1 when all are taken.
    int attachInput();
    void detachInput(int input);
    void setMatrix(int input, const RoutingMatrix &matrix);
    RoutingMatrix matrix(int input) const;
    void setPaused(int input, bool paused);

    // Producer of `input`: hands over `frames` captured stereo frames.
    void push(int input, const float *samples, std::size_t frames);

    // Consumer: writes `frames` mixed stereo frames; silence where an input
    // has nothing to give (counted as underrun).
    void render(float *samples, std::size_t frames);

    // Any thread.
    std::uint64_t underrunFrames() const;
};
