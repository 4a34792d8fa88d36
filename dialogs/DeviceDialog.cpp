#include "DeviceDialog.h"

#include "AudioLibrary.h"
#include "ui_DeviceDialog.h"

#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <string>

namespace {

// Where the window opens, its frame's top-left corner on the screen. Its
// client area, 424 x 159 in the layout, is an outer size of 440 x 198 less a
// standard sizeable frame (8 pixels each side, a 23-pixel title bar).
constexpr QPoint kOpeningPosition{776, 322};

} // namespace

TForm2::TForm2(AudioLibrary &library, QWidget *parent)
    : QDialog(parent), FLibrary(library), FUi(std::make_unique<Ui::TForm2>())
{
    FUi->setupUi(this);
    setWindowFlag(Qt::WindowMinMaxButtonsHint); // an ordinary window's title-bar buttons
    move(kOpeningPosition);
    // First in tab order: it holds the focus when the dialog opens.
    FUi->Button1->setFocus();
    connect(FUi->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(FUi->ComboBox4, &QComboBox::activated, this, &TForm2::ComboBox1Click);
    // Typed text is never read: the list neither completes it nor selects the
    // entry it names when the edit ends.
    QComboBox *list = FUi->ComboBox4;
    list->setCompleter(nullptr);
    disconnect(list->lineEdit(), &QLineEdit::editingFinished, list, nullptr);
    Form2 = this;
    FormCreate();
}

TForm2::~TForm2()
{
    FormDestroy();
}

bool TForm2::GetDeviceName(int number, QString &name) const
{
    if (number == -1) {
        name = QStringLiteral("Default");
        return true;
    }
    AudioDeviceInfo info;
    const bool known = LookUp(number, info);
    name = known ? QString::fromStdString(info.name) : QString();
    return known;
}

bool TForm2::LookUp(int number, AudioDeviceInfo &info) const
{
    return FSO2RMode == ddIn ? FLibrary.RecordGetDeviceInfo(number, info)
                             : FLibrary.GetDeviceInfo(number, info);
}

void TForm2::SetList()
{
    GetDeviceName(FDevice, FDeviceName);
    FUi->Label4->setText(FSO2RMode == ddIn ? QStringLiteral("Input Soundcard device")
                                           : QStringLiteral("Output Soundcard device"));

    QComboBox *list = FUi->ComboBox4;
    // Adding to an empty list selects its first entry, which the list had not.
    const QString textBefore = list->currentText();
    list->addItem(QStringLiteral("Default"));
    std::vector<AudioDeviceInfo> devices;
    for (AudioDeviceInfo info;
         std::ssize(devices) < kMaxDevices && LookUp(static_cast<int>(devices.size()), info);)
        devices.push_back(info);
    for (const AudioDeviceInfo &device : devices)
        list->addItem(EntryText(device, devices));

    // Compared before adding 1: a number read from a settings file may be the
    // largest int.
    if (FDevice >= -1 && FDevice < list->count() - 1) {
        list->setCurrentIndex(FDevice + 1);
        list->lineEdit()->home(false); // a long name shows its beginning
        return;
    }
    // A device that is gone leaves the field empty. -2, what an Ok without a
    // selection gave before, asks for entry -1, which the list had already:
    // nothing changes, and the field keeps its text.
    list->setCurrentIndex(-1);
    if (FDevice == -2)
        list->setEditText(textBefore);
}

QString TForm2::EntryText(const AudioDeviceInfo &device,
                          const std::vector<AudioDeviceInfo> &devices)
{
    const QString name = QString::fromStdString(device.name);
    const auto sameName = std::ranges::count(devices, device.name, &AudioDeviceInfo::name);
    if (sameName < 2)
        return name;
    // Identical cards differ by the port they hang on: a USB path's part from
    // "usb-" on is that port, and the rest is the same for them all.
    std::string where = device.busPath;
    if (const auto usb = where.rfind("usb-"); usb != std::string::npos)
        where.erase(0, usb);
    if (where.empty())
        where = device.driver;
    return QStringLiteral("%1 (%2)").arg(name, QString::fromStdString(where));
}

void TForm2::Button1Click()
{
    FDevice = FUi->ComboBox4->currentIndex() - 1;
    accept();
}

void TForm2::ComboBox1Click() {}

void TForm2::FormCreate() {}

void TForm2::FormDestroy()
{
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::keyPressEvent(QKeyEvent *event)
{
    // No cancel button, so Esc does nothing; Enter presses Ok only while Ok
    // has the focus, as there is no default button either.
    if (event->matches(QKeySequence::Cancel))
        return;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && FUi->Button1->hasFocus()) {
        FUi->Button1->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
