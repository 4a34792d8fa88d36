#include "MainWindowShots.h"

#include "LedBtn.h"
#include "MainWindow.h"
#include "RecordingAudioLibrary.h"

#include <QApplication>
#include <QImage>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

QImage Grab(QWidget &window, qreal scale)
{
    QImage image(window.size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    window.render(&image);
    return image;
}

void Click(TForm1 &window, const char *name)
{
    QTest::mouseClick(window.findChild<QWidget *>(name), Qt::LeftButton);
}

const std::pair<const char *, std::function<void(TForm1 &)>> kStates[] = {
    {"off", [](TForm1 &) {}},
    {"rig12", [](TForm1 &window) { Click(window, "LedPower"); }},
    {"muted",
     [](TForm1 &window) {
         Click(window, "LedPower");
         Click(window, "Speaker");
     }},
    {"radio3",
     [](TForm1 &window) {
         Click(window, "LedPower");
         Click(window, "Radio3");
     }},
};

} // namespace

bool renderMainWindowShots(const QString &folder)
{
    QTemporaryDir workingDirectory;
    for (const auto &[name, reach] : kStates) {
        RecordingAudioLibrary library;
        library.captureDevices = {"Radio 1 (USB Audio CODEC)", "Radio 2 (USB Audio CODEC)"};
        library.playbackDevices = {"Headset (USB Audio CODEC)"};
        TForm1 window(library, workingDirectory.path().toStdString(), {});
        window.show();
        QApplication::processEvents();
        reach(window);
        QApplication::processEvents();
        for (const qreal scale : {1.0, 2.0}) {
            const QString file = QStringLiteral("%1/main-window-%2%3.png")
                                     .arg(folder, name, scale > 1 ? "-hidpi" : "");
            if (!Grab(window, scale).save(file))
                return false;
        }
    }
    return true;
}
