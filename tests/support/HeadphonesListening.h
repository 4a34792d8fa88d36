#pragma once

#include "SimulatedRadios.h"

#include <functional>
#include <string>
#include <vector>

class ServerProbe;

// What the end-to-end tests hear on the private server's headphones.

// Listens to the headphones until what they play passes `heard`, for up to
// five seconds; the last recording.
std::vector<float> listenUntil(ServerProbe &probe,
                               const std::function<bool(const std::vector<float> &)> &heard);

// What each radio plays at its own monitor, in each channel, and its longest
// gap: beside a wrong sound in the headphones, it tells a fault of the server
// from one of the program.
std::string radiosAtTheirMonitors(ServerProbe &probe);

// Listens until the headphones play `expected`, and fails the test if they
// never do. One recording may catch a glitch of a loaded server, whose splash
// reaches a tone that should be absent; a wrong route stays wrong in every
// recording of the wait.
// The failure names the caller's line (the compilers' built-ins: the clang
// of the fuzzing build has no std::source_location).
void expectHeard(ServerProbe &probe, SimulatedRadios::Ears expected,
                 const char *callerFile = __builtin_FILE(), int callerLine = __builtin_LINE());
