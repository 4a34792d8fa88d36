#include <QApplication>

#include <gtest/gtest.h>

// The entry of every widget test program.
int main(int argc, char *argv[])
{
    // Widgets need no display: also when the test list is read at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Dialogs may be the only windows: closing one must not post a quit that
    // ends the next test's modal display.
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
