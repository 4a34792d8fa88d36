#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

// The two ways KALDRA reaches a sound server, for tests that run on each
// back-end the private server (scripts/sound-server.sh) serves: the pulse
// protocol on both servers, PipeWire's own API on the PipeWire one, which
// sound-server.sh names in PIPEWIRE_RUNTIME_DIR.
enum class Backend { PulseAudio, PipeWire };

inline std::string backendName(const ::testing::TestParamInfo<Backend> &info)
{
    return info.param == Backend::PulseAudio ? "PulseAudio" : "PipeWire";
}

inline void PrintTo(Backend backend, std::ostream *out)
{
    *out << (backend == Backend::PulseAudio ? "PulseAudio" : "PipeWire");
}

inline bool served(Backend backend)
{
    return std::getenv("PULSE_SERVER") != nullptr &&
           (backend == Backend::PulseAudio || std::getenv("PIPEWIRE_RUNTIME_DIR") != nullptr);
}

#define SKIP_UNLESS_SERVED(backend)                                                                \
    if (!served(backend))                                                                          \
    GTEST_SKIP() << "this back-end's server is not running: run under scripts/sound-server.sh"

#define INSTANTIATE_ON_EACH_BACKEND(suite)                                                         \
    INSTANTIATE_TEST_SUITE_P(, suite, ::testing::Values(Backend::PulseAudio, Backend::PipeWire),   \
                             backendName)
