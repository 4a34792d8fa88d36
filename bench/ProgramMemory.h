#pragma once

// The program's own resident memory as an operator runs it: the real
// executable on a private X display (Xvfb), in a settings folder of its own
// with three radio inputs, powered on by `kaldra --send VPOWER`, read from
// /proc once its streams have run for a while, in MiB (VmRSS / 1024, as the
// bench's figures have always been). Prints program_rss_mb (through
// the pulse protocol, as PULSE_SERVER says) and, on a PipeWire server
// (PIPEWIRE_RUNTIME_DIR set), native_program_rss_mb (through PipeWire's own
// API, as on a desktop where nothing points libpulse at a server).
//
// Returns 0 when every figure was measured; prints why not otherwise.
int runProgramMemory();
