#include "CommandClient.h"

int sendToRunningProgram(const QString &, std::ostream &, std::ostream &err)
{
    err << "kaldra: no KALDRA is running\n";
    return 1;
}
