#include "DialogShots.h"

#include "AboutForm.h"
#include "AboutTexts.h"
#include "DeviceDialog.h"
#include "RecordingAudioLibrary.h"

#include <QApplication>
#include <QIcon>

namespace {

bool save(QWidget &window, const QString &folder, const QString &name)
{
    window.show();
    QApplication::processEvents();
    return window.grab().save(folder + "/" + name);
}

bool renderDeviceDialog(const QString &folder, const QString &name, TSO2RMode mode, int device)
{
    RecordingAudioLibrary library;
    library.captureDevices = {"Built-in Audio Analog Stereo", "Radio 1 (USB Audio CODEC)",
                              "Radio 2 (USB Audio CODEC)", "Radio 3 (USB Audio CODEC)"};
    library.playbackDevices = {"Built-in Audio Analog Stereo", "Headset (USB Audio CODEC)"};
    TForm2 dialog(library);
    dialog.setWindowTitle(mode == ddIn ? "Select Output Device (2)" : "Select Output Device");
    dialog.SetSO2RMode(mode);
    dialog.SetDevice(device);
    dialog.SetList();
    return save(dialog, folder, name);
}

bool renderAboutBox(const QString &folder)
{
    TAboutBox box;
    box.Fill(AboutTexts::kTitle.toString(), AboutTexts::kProductName.toString(),
             AboutTexts::kCopyRight.toString(), AboutTexts::kProgrammer.toString(),
             AboutTexts::kWebSite.toString(), QIcon(AboutTexts::kIconPath.toString()));
    return save(box, folder, "about-box.png");
}

} // namespace

bool renderDialogShots(const QString &folder)
{
    return renderDeviceDialog(folder, "device-dialog-input.png", ddIn, 1) &&
           renderDeviceDialog(folder, "device-dialog-output-unknown.png", ddOut, -2) &&
           renderAboutBox(folder);
}
