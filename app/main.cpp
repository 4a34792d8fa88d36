#include "AudioLibraryChoice.h"
#include "CommandClient.h"
#include "DeviceDialog.h"
#include "MainWindow.h"
#include "QuitSignals.h"

#include <QApplication>
#include <QCoreApplication>

#include <clocale>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// `kaldra --send TEXT...`: the words after --send go to the running program as
// OTRSP lines; no window and no display are needed.
int SendToRunningProgram(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList words;
    for (int i = 2; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    if (words.isEmpty()) {
        std::cerr << "kaldra --send: give the commands to send, e.g. kaldra --send RX1S\n";
        return 2;
    }
    return sendToRunningProgram(words.join(u' '), std::cout, std::cerr);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::string_view(argv[1]) == "--send")
        return SendToRunningProgram(argc, argv);
    QApplication application(argc, argv);
    // QApplication takes the C library's locale from the environment. Hamlib's
    // rig_open keeps the numeric locale's name across a change to "C" and then
    // restores it from freed memory unless it is "C" already; numbers here are
    // read and written through Qt, which does not use that locale.
    std::setlocale(LC_NUMERIC, "C");
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
