#include "MainWindow.h"

#include "AboutDlg.h"
#include "AboutTexts.h"
#include "AudioLibrary.h"
#include "DeviceDialog.h"
#include "ErrorBoxMessage.h"
#include "LoggerControl.h"
#include "LoggerControlWindow.h"
#include "MenuAccessKeys.h"
#include "SettingsError.h"
#include "TrayIcon.h"
#include "WindowMenu.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QBitmap>
#include <QLabel>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStringList>

#include <cstdlib>
#include <utility>

namespace {

// The client area below the menu bar; the status bars take its lowest 25 pixels.
constexpr QSize kClientSize{247, 153};
constexpr QPoint kOpeningPosition{590, 82};
constexpr int kFontPixels = 11;
// How often the window asks the audio library whether devices came or went.
constexpr int kDeviceWatchMs = 250;

// A speaker glyph from a picture and its twice-size version: the colour of
// each picture's bottom-left pixel, exactly, shows the button face.
QIcon SpeakerGlyph(const QString &name)
{
    QIcon glyph;
    for (const auto &[suffix, ratio] : {std::pair{"", 1.0}, std::pair{"@2x", 2.0}}) {
        const QImage picture(QStringLiteral(":/speaker/%1%2.bmp").arg(name, suffix));
        QPixmap pixmap = QPixmap::fromImage(picture);
        pixmap.setMask(QBitmap::fromImage(
            picture.createMaskFromColor(picture.pixel(0, picture.height() - 1), Qt::MaskInColor)));
        pixmap.setDevicePixelRatio(ratio);
        glyph.addPixmap(pixmap);
    }
    return glyph;
}

// The device's name, empty when the library cannot tell it.
QString DeviceName(AudioLibrary &library, TSO2RMode mode, std::int32_t device)
{
    AudioDeviceInfo info;
    const bool known = mode == ddIn ? library.RecordGetDeviceInfo(device, info)
                                    : library.GetDeviceInfo(device, info);
    return known ? QString::fromStdString(info.name) : QString();
}

// The route a listening state plays; none while off or muted.
std::optional<RemoteRoute> RouteOf(TSO2RState state)
{
    switch (state) {
    case ddLeft:
        return RemoteRoute::Rig1;
    case ddRight:
        return RemoteRoute::Rig2;
    case ddCenter:
        return RemoteRoute::Stereo;
    case ddSwap:
        return RemoteRoute::Reverse;
    default:
        return std::nullopt;
    }
}
// Whose card each slot holds, as the status line names a missing one.
constexpr std::pair<DeviceSlot, const char *> kSlotOwners[] = {{DeviceSlot::Input1, "Radio 1"},
                                                               {DeviceSlot::Input2, "Radio 2"},
                                                               {DeviceSlot::Input3, "Radio 3"},
                                                               {DeviceSlot::Output, "Output"}};

// The second radio's caption: the third radio takes its place.
QString SecondRigCaption(bool third)
{
    return third ? QStringLiteral("Rig3") : QStringLiteral("Rig2");
}

} // namespace

TForm1::TForm1(AudioLibrary &library, const std::filesystem::path &workingDirectory,
               const std::vector<std::string> &arguments, QWidget *parent)
    : QMainWindow(parent), FUi(std::make_unique<Ui::TForm1>()), FEngine(library, *this),
      FBindings(FEngine), FWorkingDirectory(workingDirectory), FArguments(arguments),
      FSpkrOnGlyph(SpeakerGlyph(QStringLiteral("SpkrOn"))),
      FSpkrOffGlyph(SpeakerGlyph(QStringLiteral("SpkrOff"))), FPopupMenu1(new QMenu(this)),
      FAboutDlg(new TAboutDlg(this)), FLogger(new LoggerControl(this)),
      FProcessEnd([](int code) { std::exit(code); })
{
    Q_INIT_RESOURCE(MainWindow);
    FUi->setupUi(this);
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kFontPixels);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    QIcon icon(AboutTexts::kIconPath.toString());
    icon.addFile(QStringLiteral(":/MAINICON@2x.png")); // found by itself only on scaled screens
    // Every window of the program carries it, message boxes included.
    QApplication::setWindowIcon(icon);
    FUi->SpkrOn->setVisible(false);
    FUi->SpkrOff->setVisible(false);
    FUi->Speaker->setIcon(FSpkrOffGlyph);
    FUi->StatusBar2->addWidget(FUi->Panel0, 1);

    FPopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    AssignAccessKeysOnShow(*FPopupMenu1);
    FAboutDlg->setObjectName(QStringLiteral("AboutDlg"));
    FAboutDlg->SetTitle(AboutTexts::kTitle.toString());
    FAboutDlg->SetProductName(AboutTexts::kProductName.toString());
    FAboutDlg->SetCopyRight(AboutTexts::kCopyRight.toString());
    FAboutDlg->SetProgrammer(AboutTexts::kProgrammer.toString());
    FAboutDlg->SetWebSite(AboutTexts::kWebSite.toString());
    FAboutDlg->SetIcon(windowIcon());
    FAboutDlg->SetTimer(false);

    FLatch1 = FUi->Edit1->addAction(QStringLiteral("Latch"));
    FLatch1->setObjectName(QStringLiteral("Latch1"));
    FLatch1->setCheckable(true);
    AssignAccessKeys(FUi->MainMenu1->actions());
    BindCommands();
    connect(FLogger, &LoggerControl::routeRequested, this, &TForm1::RequestRoute);
    connect(FLogger, &LoggerControl::muteToggleRequested, this,
            [this] { RunCommand(&TForm1::Mute1Click); });
    connect(FLogger, &LoggerControl::powerToggleRequested, this,
            [this] { RunCommand(&TForm1::LedPowerClick); });
    connect(FLogger, &LoggerControl::transmitChanged, this, &TForm1::FollowTransmit);
    connect(FLogger, &LoggerControl::latchChanged, this, [this](bool on) {
        FLatch1->setChecked(on);
        FollowTransmit();
    });
    connect(FLatch1, &QAction::triggered, FLogger, &LoggerControl::setLatch);
    connect(FLogger, &LoggerControl::blendChanged, this,
            [this](int percent) { FEngine.SetBlendPercent(percent); });
    FStereoTimer.setSingleShot(true);
    connect(&FStereoTimer, &QTimer::timeout, this, &TForm1::StereoTimeUp);
    resize(kClientSize.width(), kClientSize.height() + FUi->MainMenu1->sizeHint().height());
    move(kOpeningPosition);
    FormCreate();
    connect(&FDeviceWatch, &QTimer::timeout, this, [this] {
        if (FBindings.listChanged())
            RunCommand(&TForm1::DeviceListChanged);
    });
    FDeviceWatch.start(kDeviceWatchMs);
}

TForm1::~TForm1()
{
    FormDestroy();
}

void TForm1::BindCommands()
{
    const auto bind = [this](auto *sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, [this, handler] { RunCommand(handler); });
    };
    bind(FUi->LedPower, &QPushButton::clicked, &TForm1::LedPowerClick);
    bind(FUi->LedRig1, &QPushButton::clicked, &TForm1::LedRig1Click);
    bind(FUi->LedRig12, &QPushButton::clicked, &TForm1::LedRig12Click);
    bind(FUi->LedRig2, &QPushButton::clicked, &TForm1::LedRig2Click);
    bind(FUi->Speaker, &QToolButton::clicked, &TForm1::SpeakerClick);
    // Qt reports clicked for a button already marked too; only a new mark is a click.
    const auto bindMark = [this](QRadioButton *button, void (TForm1::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                RunCommand(handler);
        });
    };
    bindMark(FUi->Radio2, &TForm1::Radio2Click);
    bindMark(FUi->Radio3, &TForm1::Radio3Click);
    bind(FUi->Exit1, &QAction::triggered, &TForm1::Exit1Click);
    bind(FUi->SoundcardOUT1, &QAction::triggered, &TForm1::SoundcardOUT1Click);
    bind(FUi->SoundcardIN11, &QAction::triggered, &TForm1::SoundcardIN11Click);
    bind(FUi->SoundcardIN21, &QAction::triggered, &TForm1::SoundcardIN21Click);
    bind(FUi->Rig1, &QAction::triggered, &TForm1::Rig1Click);
    bind(FUi->Rig1Rig21, &QAction::triggered, &TForm1::Rig1Rig21Click);
    bind(FUi->Rig21, &QAction::triggered, &TForm1::Rig21Click);
    bind(FUi->Reverse1, &QAction::triggered, &TForm1::Reverse1Click);
    bind(FUi->Mute1, &QAction::triggered, &TForm1::Mute1Click);
    bind(FUi->LoggerControl1, &QAction::triggered, &TForm1::LoggerControl1Click);
    bind(FUi->About1, &QAction::triggered, &TForm1::About1Click);
    // The heading's own handler runs before its items get their keys.
    bind(FUi->Edit1, &QMenu::aboutToShow, &TForm1::Edit1Click);
    for (QMenu *menu : {FUi->File1, FUi->Edit2, FUi->Edit1, FUi->Help1})
        AssignAccessKeysOnShow(*menu);
}

void TForm1::RunCommand(void (TForm1::*handler)())
{
    try {
        (this->*handler)();
    } catch (const SettingsError &error) {
        ShowErrorBox(error.what());
    }
}

void TForm1::ShowErrorBox(const std::string &message)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    QString::fromStdString(errorBoxMessage(message)), QMessageBox::Ok, this);
    box.exec();
}

void TForm1::FormCreate()
{
    FUi->Speaker->setEnabled(true);
    FUi->Speaker->setIcon(FSpkrOnGlyph);
    FLastSO2R = ddCenter;
    FEngine.Input1Device = FEngine.Input2Device = FEngine.Input3Device = FEngine.OutputDevice = -1;
    // Hints need no switching on: a control without a tool tip shows none.
    try {
        FSettings.Locate(FWorkingDirectory, FArguments);
        FSettings.Read(*this);
    } catch (const SettingsError &error) {
        // The rest of the start-up is skipped; the program runs on as read so far.
        ShowErrorBox(error.what());
        return;
    }
    FBindings.resolve();

    FWindowMenu = std::make_unique<WindowMenu>(*this);
    connect(FWindowMenu.get(), &WindowMenu::commandChosen, this, &TForm1::SystemCommand);

    const std::pair<const char *, void (TForm1::*)()> trayItems[] = {
        {"*<>*", &TForm1::Mute1Click},           {"[1]<>[1]", &TForm1::Rig1Click},
        {"[1]<>[2/3]", &TForm1::Rig1Rig21Click}, {"[2/3]<>[2/3]", &TForm1::Rig21Click},
        {"About", &TForm1::About1Click},         {"Exit", &TForm1::Exit1Click},
        {"[2/3]<>[1]", &TForm1::Reverse1Click},
    };
    for (const auto &[caption, handler] : trayItems) {
        QAction *item = FPopupMenu1->addAction(QString::fromLatin1(caption));
        connect(item, &QAction::triggered, this, [this, handler] { RunCommand(handler); });
    }
    FTrayReverse = FPopupMenu1->actions().back();
    FTrayReverse->setCheckable(true);
    FTrayReverse->setToolTip(FUi->Reverse1->toolTip());
    QCoreApplication::setApplicationName(QStringLiteral("KALDRA"));
    FTrayIcon = std::make_unique<TrayIcon>(*FPopupMenu1, *this);
    FTrayIcon->add();
    SetSO2R(ddOff);
    ShowMode();
    FLogger->start(FSettings.IniFileName());
    FLatch1->setChecked(FLogger->latch());
    FEngine.SetBlendPercent(FLogger->blendPercent());
}

void TForm1::FormDestroy()
{
    FEngine.ReleaseAtShutdown();
}

void TForm1::SetSO2R(TSO2RState value)
{
    FSO2R = value;
    if (value != ddSwap) {
        FUi->LedRig1->setText(QStringLiteral("Rig1"));
        FUi->LedRig2->setText(SecondRigCaption(FSO3R == ddRadio3));
    }
    const bool on = value != ddOff;
    FUi->Speaker->setEnabled(on);
    if (on)
        FUi->Speaker->setIcon(value == ddMute ? FSpkrOffGlyph : FSpkrOnGlyph);
    TLedButton *const rigs[] = {FUi->LedRig1, FUi->LedRig12, FUi->LedRig2};
    for (TLedButton *rig : rigs)
        rig->setEnabled(on);
    if (value == ddOff || value == ddRight || value == ddCenter || value == ddLeft) {
        // A disabled button ignores this, so under ddOff the lamps stay as they were.
        rigs[0]->SetIsActive(value == ddLeft);
        rigs[1]->SetIsActive(value == ddCenter);
        rigs[2]->SetIsActive(value == ddRight);
    }
    const bool radiosEnabled = on && value != ddMute;
    FUi->Radio2->setEnabled(radiosEnabled);
    FUi->Radio3->setEnabled(radiosEnabled);
    FollowRoute();
    FollowStereoTimer();
}

void TForm1::FollowStereoTimer()
{
    FStereoDue = false;
    const int seconds = FLogger->stereoAfterSeconds();
    if ((FSO2R == ddLeft || FSO2R == ddRight) && seconds > 0)
        FStereoTimer.start(seconds * 1000);
    else
        FStereoTimer.stop();
}

void TForm1::StereoTimeUp()
{
    if (FLogger->radioTransmitting(1) || FLogger->radioTransmitting(2))
        FStereoDue = true;
    else
        RunCommand(&TForm1::LedRig12Click);
}

void TForm1::FollowTransmit()
{
    const bool first = FLogger->radioTransmitting(1);
    const bool second = FLogger->radioTransmitting(2);
    std::optional<AudioEngine::Route> heard;
    if (FLogger->latch() && first && second)
        heard = FEngine.LatchedRoute(); // both: the ears stay as they are
    else if (FLogger->latch() && (first || second))
        heard = first ? AudioEngine::Route::Rig2 : AudioEngine::Route::Rig1;
    FEngine.SetLatchedRoute(heard);
    if (FStereoDue && !first && !second)
        RunCommand(&TForm1::LedRig12Click);
}

void TForm1::FollowRoute()
{
    const bool byOperator = !std::exchange(FRouteFromLogger, false);
    FUi->Reverse1->setChecked(FSO2R == ddSwap);
    if (FTrayReverse)
        FTrayReverse->setChecked(FSO2R == ddSwap);
    const auto route = RouteOf(FSO2R);
    if (!route || route == FShownRoute)
        return;
    FShownRoute = route;
    FLogger->showRoute(*route, byOperator);
}

void TForm1::SetSO3R(TSO3RState value)
{
    FSO3R = value;
    if (value != ddRadio2 && value != ddRadio3)
        return;
    const bool third = value == ddRadio3;
    FUi->LedRig2->setText(SecondRigCaption(third));
    FUi->LedRig12->setText(third ? QStringLiteral("Rig1+3") : QStringLiteral("Rig1+2"));
    FUi->Rig1Rig21->setText(third ? QStringLiteral("Rig1+3") : QStringLiteral("Rig1+2"));
    FUi->Rig21->setText(SecondRigCaption(third));
    FUi->SoundcardIN21->setText(third ? QStringLiteral("Soundcard IN(3)")
                                      : QStringLiteral("Soundcard IN(2)"));
    QRadioButton *mark = third ? FUi->Radio3 : FUi->Radio2;
    mark->setChecked(true); // a new mark reports its click
}

void TForm1::ShowMode()
{
    QString status = QStringLiteral("Input[1]:%1 Input[2]:%2 Input[3]:%3 Output:%4")
                         .arg(FEngine.Input1Device)
                         .arg(FEngine.Input2Device)
                         .arg(FEngine.Input3Device)
                         .arg(FEngine.OutputDevice);
    QStringList missing;
    for (const auto &[slot, whose] : kSlotOwners)
        if (FBindings.missing(slot))
            missing << QString::fromLatin1(whose);
    if (!missing.isEmpty())
        status += QStringLiteral(" - card missing: ") + missing.join(QStringLiteral(", "));
    FUi->Panel0->setText(status);
    const auto hint = [this](TSO2RMode mode, DeviceSlot slot, std::int32_t device) {
        if (FBindings.missing(slot))
            return QStringLiteral("Sound card missing: ") +
                   QString::fromStdString(FBindings.storedName(slot));
        return DeviceName(FEngine.library(), mode, device);
    };
    FUi->LedRig1->setToolTip(hint(ddIn, DeviceSlot::Input1, FEngine.Input1Device));
    FUi->LedRig2->setToolTip(hint(ddIn, FSO3R == ddRadio3 ? DeviceSlot::Input3 : DeviceSlot::Input2,
                                  FEngine.SecondInputDevice()));
    FUi->Speaker->setToolTip(hint(ddOut, DeviceSlot::Output, FEngine.OutputDevice));
}

void TForm1::WriteSettings()
{
    FSettings.WriteINI({FEngine.Input1Device, FEngine.Input2Device, FEngine.Input3Device,
                        FEngine.OutputDevice, FSO2R, FSO3R, FBindings.toStore()});
}

void TForm1::EndOnAudioFailure(const std::string &message, bool errorIcon)
{
    // Above the window it is about, with no taskbar entry of its own; a
    // minimised or hidden window could take a box it owns out of sight.
    QWidget *owner = isVisible() && !isMinimized() ? this : nullptr;
    QMessageBox box(errorIcon ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Error"), QString::fromStdString(message), QMessageBox::Ok,
                    owner);
    box.exec();
    FEngine.ReleaseAtShutdown();
    FProcessEnd(EXIT_FAILURE);
}

void TForm1::CloseOnQuitSignal()
{
    // Hiding a dialog ends its exec() with Rejected once this returns to
    // its loop; a dialog opened from another stands above it.
    while (QWidget *modal = QApplication::activeModalWidget())
        modal->hide();
    close();
}

void TForm1::SystemCommand(int command)
{
    if (command == WindowMenu::kQuit)
        close();
    if (command == WindowMenu::kAbout)
        RunCommand(&TForm1::About1Click);
    else if (command == WindowMenu::kMute)
        RunCommand(&TForm1::Mute1Click);
    else if (command == WindowMenu::kRig1)
        RunCommand(&TForm1::Rig1Click);
    else if (command == WindowMenu::kRig12)
        RunCommand(&TForm1::Rig1Rig21Click);
    else if (command == WindowMenu::kRig2)
        RunCommand(&TForm1::Rig21Click);
}

void TForm1::LedPowerClick()
{
    TogglePower();
    // Only the operator's power-on takes a logger's route; the restarts of
    // the device and radio choices keep it for then.
    if (FSO2R == ddOff || !FPendingRoute)
        return;
    FLoggerRoute = *std::exchange(FPendingRoute, std::nullopt);
    TakeLoggerRoute();
}

void TForm1::TogglePower()
{
    // Before the devices are opened: their numbers may have moved.
    if (FSO2R == ddOff)
        FBindings.resolve();
    FEngine.TogglePower();
}

void TForm1::RequestRoute(RemoteRoute route)
{
    if (FSO2R == ddOff) {
        FPendingRoute = route;
        return;
    }
    FLoggerRoute = route;
    RunCommand(&TForm1::TakeLoggerRoute);
}

void TForm1::TakeLoggerRoute()
{
    // Every route command sets the state before its settings write can fail.
    FRouteFromLogger = true;
    switch (FLoggerRoute) {
    case RemoteRoute::Rig1:
        Rig1Click();
        break;
    case RemoteRoute::Rig2:
        Rig21Click();
        break;
    case RemoteRoute::Stereo:
        Rig1Rig21Click();
        break;
    case RemoteRoute::Reverse:
        Reverse1Click();
        break;
    }
    FRouteFromLogger = false;
}

void TForm1::DeviceListChanged()
{
    const DeviceBindings::Outcome outcome = FBindings.resolve();
    const auto renamed = [&outcome](DeviceSlot slot) {
        return outcome.renamed[static_cast<std::size_t>(slot)];
    };
    const bool audioOn = FEngine.AudioStarted() && FSO2R != ddOff;
    if (audioOn && (renamed(DeviceSlot::Input1) || renamed(DeviceSlot::Output) ||
                    renamed(FSO3R == ddRadio3 ? DeviceSlot::Input3 : DeviceSlot::Input2)))
        RestartKeepingRoute();
    else if (outcome.changed)
        ShowMode();
}

void TForm1::RestartKeepingRoute()
{
    const TSO2RState heard = FSO2R == ddMute ? FLastSO2R : FSO2R;
    const bool muted = FSO2R == ddMute;
    // Power-on comes up on Rig1+2.
    RestartAudio();
    if (heard == ddLeft)
        FEngine.SetRoute(AudioEngine::Route::Rig1);
    else if (heard == ddRight)
        FEngine.SetRoute(AudioEngine::Route::Rig2);
    else if (heard == ddSwap)
        RouteReverse();
    if (muted)
        FEngine.ToggleMute();
}

void TForm1::LedRig1Click()
{
    FEngine.SetRoute(AudioEngine::Route::Rig1);
}

void TForm1::LedRig12Click()
{
    FEngine.SetRoute(AudioEngine::Route::Rig12);
}

void TForm1::LedRig2Click()
{
    FEngine.SetRoute(AudioEngine::Route::Rig2);
}

void TForm1::SpeakerClick()
{
    FEngine.ToggleMute();
}

void TForm1::Radio2Click()
{
    ChooseSecondRadio(ddRadio2);
}

void TForm1::Radio3Click()
{
    ChooseSecondRadio(ddRadio3);
}

void TForm1::ChooseSecondRadio(TSO3RState radio)
{
    if (!FEngine.AudioStarted())
        return;
    SetSO3R(radio);
    RestartAudio();
    WriteSettings();
}

void TForm1::RestartAudio()
{
    // From powered-on: off, then on; from powered-off: on (checking the
    // devices), then off.
    TogglePower();
    TogglePower();
}

void TForm1::Exit1Click()
{
    QMessageBox question(QMessageBox::NoIcon, QStringLiteral("Warning!"),
                         QStringLiteral("Do you really want to exit?"),
                         QMessageBox::Ok | QMessageBox::Cancel, this);
    if (question.exec() != QMessageBox::Ok)
        return;
    if (FTrayIcon)
        FTrayIcon->remove();
    WriteSettings();
    FEngine.library().Free();
    close();
    QCoreApplication::exit(0);
}

void TForm1::ChooseDevice(const QString &caption, TSO2RMode mode, std::int32_t &device,
                          DeviceSlot slot)
{
    TForm2 dialog(FEngine.library(), this);
    dialog.setWindowTitle(caption);
    dialog.SetSO2RMode(mode);
    dialog.SetDevice(device);
    dialog.SetList();
    dialog.exec();
    if (dialog.Device() != device)
        FBindings.chosen(slot);
    device = dialog.Device();
}

void TForm1::SoundcardOUT1Click()
{
    ChooseDevice(QStringLiteral("Select Output Device"), ddOut, FEngine.OutputDevice,
                 DeviceSlot::Output);
    RestartAudio();
    ShowMode();
    WriteSettings();
}

void TForm1::SoundcardIN11Click()
{
    ChooseDevice(QStringLiteral("Select Output Device (1)"), ddIn, FEngine.Input1Device,
                 DeviceSlot::Input1);
    ShowMode();
    WriteSettings();
}

void TForm1::SoundcardIN21Click()
{
    const bool third = FSO3R == ddRadio3;
    ChooseDevice(third ? QStringLiteral("Select Output Device (3)")
                       : QStringLiteral("Select Output Device (2)"),
                 ddIn, third ? FEngine.Input3Device : FEngine.Input2Device,
                 third ? DeviceSlot::Input3 : DeviceSlot::Input2);
    RestartAudio();
    ShowMode();
    WriteSettings();
}

void TForm1::Rig1Click()
{
    IfAudioStarted(&TForm1::LedRig1Click);
}

void TForm1::Rig1Rig21Click()
{
    IfAudioStarted(&TForm1::LedRig12Click);
}

void TForm1::Rig21Click()
{
    IfAudioStarted(&TForm1::LedRig2Click);
}

void TForm1::Reverse1Click()
{
    IfAudioStarted(&TForm1::RouteReverse);
    // A checkable item flips its own mark when chosen; the state decides it.
    FollowRoute();
}

void TForm1::RouteReverse()
{
    // Lit even when the settings write is refused: the route plays by then.
    const auto bothEarsLamp = qScopeGuard([this] {
        FUi->LedRig1->SetIsActive(false);
        FUi->LedRig12->SetIsActive(true);
        FUi->LedRig2->SetIsActive(false);
    });
    FEngine.SetRoute(AudioEngine::Route::Reverse);
}

void TForm1::Mute1Click()
{
    IfAudioStarted(&TForm1::SpeakerClick);
}

void TForm1::IfAudioStarted(void (TForm1::*handler)())
{
    if (FEngine.AudioStarted())
        (this->*handler)();
}

void TForm1::Edit1Click() {}

void TForm1::LoggerControl1Click()
{
    if (!FLoggerWindow) {
        FLoggerWindow = new LoggerControlWindow(*FLogger, this);
        connect(FLoggerWindow, &LoggerControlWindow::blendChosen, FLogger,
                &LoggerControl::setBlendPercent);
    }
    FLoggerWindow->show();
    FLoggerWindow->raise();
    FLoggerWindow->activateWindow();
}

void TForm1::About1Click()
{
    FAboutDlg->Execute();
}
