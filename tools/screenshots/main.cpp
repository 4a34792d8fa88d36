#include "DialogShots.h"
#include "LedButtonShots.h"
#include "MainWindowShots.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

// Each part of the program adds its own renderer here.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }
    if (!renderLedButtonShots(folder) || !renderDialogShots(folder) ||
        !renderMainWindowShots(folder))
        return 1;
    return 0;
}
