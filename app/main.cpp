#include "AudioLibraryChoice.h"
#include "DeviceDialog.h"
#include "MainWindow.h"
#include "QuitSignals.h"

#include <QApplication>

#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SO2R Controller"));
    // Lets a Wayland desktop match the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kaldra"));
    const auto audio = chooseAudioLibrary();
    AudioLibrary &library = *audio;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TForm1 window(library, std::filesystem::current_path(), arguments);
    window.show();
    // A quit signal closes the window the way Alt+F4 does: audio released,
    // nothing written, even while a dialog is open.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &window,
                     &TForm1::CloseOnQuitSignal);
    // The one device dialog of the whole run, never shown.
    TForm2 hiddenDialog(library, &window);
    return QApplication::exec();
}
