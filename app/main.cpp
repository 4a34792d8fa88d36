#include "DeviceDialog.h"
#include "MainWindow.h"
#include "PulseAudioLibrary.h"

#include <QApplication>

#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SO2R Controller"));
    PulseAudioLibrary library;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TForm1 window(library, std::filesystem::current_path(), arguments);
    window.show();
    // The one device dialog of the whole run, never shown.
    TForm2 hiddenDialog(library, &window);
    return QApplication::exec();
}
