#include "MixerFigures.h"
#include "ServerBench.h"
#if KALDRA_OPERATOR_TIMINGS
#include "OperatorTimings.h"
#endif

#include <chrono>

int main([[maybe_unused]] int argc, [[maybe_unused]] char *argv[])
{
    [[maybe_unused]] const auto processStart = std::chrono::steady_clock::now();
    int failed = 0;
#if KALDRA_OPERATOR_TIMINGS
    failed |= runOperatorTimings(processStart, argc, argv);
#endif
    failed |= runServerBench();
    printMixerFigures();
    return failed;
}
