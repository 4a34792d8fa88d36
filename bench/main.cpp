#include "MixerFigures.h"
#include "ServerBench.h"
#if KALDRA_OPERATOR_TIMINGS
#include "OperatorTimings.h"
#include "ProgramMemory.h"
#endif

#include <chrono>
#include <cstring>

// `kaldra_bench --pulse-path` measures the pulse back-end's path alone, with
// its stalls: a minute instead of several when tuning its delay;
// `--program-memory` the program's memory alone.
int main([[maybe_unused]] int argc, [[maybe_unused]] char *argv[])
{
    [[maybe_unused]] const auto processStart = std::chrono::steady_clock::now();
    if (argc == 2 && std::strcmp(argv[1], "--pulse-path") == 0)
        return runServerBench(ServerPaths::kPulseBackEnd);
#if KALDRA_OPERATOR_TIMINGS
    if (argc == 2 && std::strcmp(argv[1], "--program-memory") == 0)
        return runProgramMemory();
#endif
    int failed = 0;
#if KALDRA_OPERATOR_TIMINGS
    failed |= runOperatorTimings(processStart, argc, argv);
#endif
    failed |= runServerBench(ServerPaths::kAll);
#if KALDRA_OPERATOR_TIMINGS
    failed |= runProgramMemory();
#endif
    printMixerFigures();
    return failed;
}
