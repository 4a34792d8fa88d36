#include "MixerFigures.h"
#include "ServerBench.h"

int main()
{
    const int server = runServerBench();
    printMixerFigures();
    return server;
}
