#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class AudioLibrary;
struct AudioDeviceInfo;
class QKeyEvent;

namespace Ui {
class TForm2;
}

// Which device family the device dialog lists.
enum TSO2RMode : std::uint8_t {
    ddIn = 0,  // capture devices
    ddOut = 1, // playback devices
};

// The device selection dialog: lists "Default" and every device the audio
// library reports for one direction, preselects the device in use and gives
// back the number of the device chosen.
//
// Use, on the user-interface thread: create, set the caption, SetSO2RMode,
// SetDevice, SetList, exec(), read Device(), destroy. Only Ok changes
// Device, to the entry selected in the list; text typed into the field is
// never read. Any other way of closing leaves the number the caller set. Esc
// does nothing, since the dialog has no cancel button.
//
// List entry 0 is "Default" (device -1), entry k is device k - 1, in the
// library's own order, duplicates included.
class TForm2 : public QDialog {
    Q_OBJECT
    Q_PROPERTY(TSO2RMode SO2RMode READ SO2RMode WRITE SetSO2RMode)
    Q_PROPERTY(int Device READ Device WRITE SetDevice)
    Q_PROPERTY(QString DeviceName READ DeviceName WRITE SetDeviceName)

  public:
    // SetList stops asking the library after this many devices, so that a
    // library that never says no cannot freeze the program.
    static constexpr int kMaxDevices = 1024;

    // `library` is asked for device names only, by SetList and GetDeviceName;
    // it must outlive the dialog. Makes the new dialog the one Form2 refers to.
    explicit TForm2(AudioLibrary &library, QWidget *parent = nullptr);
    ~TForm2() override;

    TSO2RMode SO2RMode() const { return FSO2RMode; }
    void SetSO2RMode(TSO2RMode mode) { FSO2RMode = mode; }

    // -1 is the system default device; 0, 1, 2, ... count the devices of the
    // direction. After Ok, the device chosen (-2 when no entry was selected).
    int Device() const { return FDevice; }
    void SetDevice(int device) { FDevice = device; }

    // The name of the device Device() held when SetList ran: "Default" for -1,
    // empty when that number names no device.
    QString DeviceName() const { return FDeviceName; }
    void SetDeviceName(const QString &name) { FDeviceName = name; }

    // True and `name` set when `number` names a device of the direction
    // SO2RMode (-1 is "Default", the library is not asked then); false and
    // `name` emptied otherwise.
    bool GetDeviceName(int number, QString &name) const;

  public slots:
    // Fills the label and the list from SO2RMode and Device and selects the
    // device in use. A number with no entry selects nothing and empties the
    // text field, except -2, which leaves the field as it was. Call once,
    // after both are set and before exec().
    void SetList();
    // Ok: Device := the selected entry's number, then the dialog is accepted.
    void Button1Click();
    void ComboBox1Click();
    void FormCreate();
    // Empties Form2 when it still refers to this dialog.
    void FormDestroy();

  protected:
    void keyPressEvent(QKeyEvent *event) override;

  private:
    bool LookUp(int number, AudioDeviceInfo &info) const;
    // The list's text for `device`: its name, and where two of `devices`
    // share that name, the port (the bus path's USB part) or else the
    // server's name for it beside it.
    static QString EntryText(const AudioDeviceInfo &device,
                             const std::vector<AudioDeviceInfo> &devices);

    AudioLibrary &FLibrary;
    std::unique_ptr<Ui::TForm2> FUi;
    TSO2RMode FSO2RMode = ddIn;
    int FDevice = 0;
    QString FDeviceName;
};

// The application-wide reference to the newest device dialog, null when there
// is none. Set by TForm2's constructor, emptied by its destruction. Read and
// written on the user-interface thread only.
inline TForm2 *Form2 = nullptr;
