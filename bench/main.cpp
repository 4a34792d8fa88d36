#include "MixerFigures.h"

int main()
{
    printMixerFigures();
    return 0;
}
