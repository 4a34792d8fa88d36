#include "ServerBench.h"

#include <cstdio>

int main()
{
    return runServerBench();
}
