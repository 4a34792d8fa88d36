#include "MainWindow.h"
#include "DeviceDialog.h"
#include "LedBtn.h"
#include "LoggerControl.h"
#include "ModalDriver.h"
#include "RecordingAudioLibrary.h"
#include "TempFolder.h"
#include "TrayIcon.h"
#include "WindowMenu.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

// A main window started in a fresh folder, with `settings` as its KALDRA.INI
// when given.
struct Window {
    explicit Window(const std::string &settings = {}, std::vector<std::string> arguments = {})
    {
        if (!settings.empty())
            writeFile(folder / "KALDRA.INI", settings);
        // As the program entry leaves it before the window takes over.
        QCoreApplication::setApplicationName("SO2R Controller");
        // The logger control's link and command socket go in the test's own folder.
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.path().string()));
        library.captureDevices = {"Radio 1", "Radio 2", "Radio 3"};
        library.playbackDevices = {"Headset"};
        form = std::make_unique<TForm1>(library, folder.path(), arguments);
        form->SetProcessEnd([this](int code) { endCode = code; });
    }
    template <typename Control> Control *get(const char *name)
    {
        return form->findChild<Control *>(name);
    }
    TLedButton *led(const char *name) { return get<TLedButton>(name); }
    QString text(const char *name) { return get<QLabel>(name)->text(); }
    bool called(const std::string &call)
    {
        return std::find(library.calls.begin(), library.calls.end(), call) != library.calls.end();
    }
    std::string settings() { return readFile(folder / "KALDRA.INI"); }
    // The enabled flag and lamp of LedRig1, LedRig12 and LedRig2, as "e1 e0 -0".
    std::string rigs()
    {
        std::string look;
        for (const char *name : {"LedRig1", "LedRig12", "LedRig2"})
            look += std::string(led(name)->isEnabled() ? "e" : "-") +
                    (led(name)->IsActive() ? "1 " : "0 ");
        return look;
    }
    // The matrices of radio 1's and the second radio's captures, as "1100 0011".
    std::string matrices()
    {
        std::string both;
        for (AudioHandle capture : {form->Engine().Capture1(), form->Engine().Capture2()}) {
            for (float gain : library.matrices[capture])
                both += std::to_string(static_cast<int>(gain));
            both += ' ';
        }
        return both;
    }
    bool reverseMarked()
    {
        return get<QAction>("Reverse1")->isChecked() &&
               form->PopupMenu1().actions().back()->isChecked();
    }
    bool speakerMuted()
    {
        const QImage glyph = get<QToolButton>("Speaker")->icon().pixmap(56, 54).toImage();
        return glyph.pixelColor(24, 9) == QColor(237, 28, 36);
    }

    TempFolder folder;
    RecordingAudioLibrary library;
    std::unique_ptr<TForm1> form;
    int endCode = -1;
};

struct Box {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *owner = nullptr;
};

// Answers the next message box with `button`, noting what it showed.
void answerBox(Box &seen, QMessageBox::StandardButton button = QMessageBox::Ok)
{
    whenModal<QMessageBox>([&seen, button](QMessageBox &box) {
        seen = {box.windowTitle(), box.text(), box.icon(), box.parentWidget()};
        box.button(button)->click();
    });
}

TEST(MainWindow, FirstStartOpensPoweredOffWithTheLayoutsLamps)
{
    Window window;
    EXPECT_EQ(window.form->windowTitle(), "KALDRA");
    // The application's, so that message boxes carry it too.
    EXPECT_EQ(QApplication::windowIcon().availableSizes(), QList<QSize>({{32, 32}, {64, 64}}));
    EXPECT_EQ(window.rigs(), "-0 -1 -0 ");
    EXPECT_FALSE(window.get<QToolButton>("Speaker")->isEnabled());
    EXPECT_FALSE(window.speakerMuted());
    EXPECT_TRUE(window.get<QRadioButton>("Radio2")->isChecked());
    EXPECT_FALSE(window.get<QRadioButton>("Radio2")->isEnabled());
    EXPECT_EQ(window.led("LedRig2")->text(), "Rig2");
    EXPECT_EQ(window.text("Panel0"), "Input[1]:-1 Input[2]:-1 Input[3]:-1 Output:-1");
    QMenu &tray = window.form->PopupMenu1();
    emit tray.aboutToShow();
    QStringList items;
    for (QAction *item : tray.actions())
        items << item->text();
    EXPECT_EQ(items, QStringList({"*<>*", "[&1]<>[1]", "[1]<>[&2/3]", "[2/&3]<>[2/3]", "&About",
                                  "&Exit", "[2/3]<>[1]"}));
    EXPECT_EQ(QCoreApplication::applicationName(), "KALDRA");
}

TEST(MainWindow, ControlsKeepTheirPlacesAndTheStatusBarsStayDocked)
{
    Window window;
    QMainWindow &form = *window.form;
    form.show();
    EXPECT_EQ(form.pos(), QPoint(590, 82));
    EXPECT_EQ(form.centralWidget()->size(), QSize(247, 153));
    form.resize(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(window.led("LedPower")->geometry(), QRect(167, 64, 73, 57));
    const auto placeOf = [&](const char *name) {
        QWidget *bar = window.get<QWidget>(name);
        return QRect(bar->mapTo(&form, QPoint(0, 0)), bar->size());
    };
    EXPECT_EQ(placeOf("StatusBar1"), QRect(0, 299, 400, 1));
    EXPECT_EQ(placeOf("StatusBar2"), QRect(0, 275, 400, 24));
}

TEST(MainWindow, ListeningStateShowsRowByRow)
{
    Window window;
    TForm1 &form = *window.form;
    form.SetSO2R(ddCenter); // enabled before the lamps are set
    EXPECT_EQ(window.rigs(), "e0 e1 e0 ");
    form.SetSO2R(ddLeft);
    EXPECT_EQ(window.rigs(), "e1 e0 e0 ");
    form.SetSO2R(ddRight);
    EXPECT_EQ(window.rigs(), "e0 e0 e1 ");
    EXPECT_TRUE(window.get<QRadioButton>("Radio3")->isEnabled());
    EXPECT_FALSE(window.speakerMuted());

    form.SetSO2R(ddMute);
    EXPECT_EQ(window.rigs(), "e0 e0 e1 ");
    EXPECT_TRUE(window.speakerMuted());
    EXPECT_TRUE(window.get<QToolButton>("Speaker")->isEnabled());
    EXPECT_FALSE(window.get<QRadioButton>("Radio3")->isEnabled());

    form.SetSO3R(ddRadio3);
    form.SetSO2R(ddOff); // the lamp of the last route stays lit, the glyph as it was
    EXPECT_EQ(window.rigs(), "-0 -0 -1 ");
    EXPECT_EQ(window.led("LedRig2")->text(), "Rig3");
    EXPECT_TRUE(window.speakerMuted());
    EXPECT_FALSE(window.get<QToolButton>("Speaker")->isEnabled());

    window.led("LedRig1")->setText("kept");
    form.SetSO2R(ddSwap);
    EXPECT_EQ(window.rigs(), "e0 e0 e1 ");
    EXPECT_EQ(window.led("LedRig1")->text(), "kept");
    EXPECT_FALSE(window.speakerMuted());
    EXPECT_EQ(form.SO2R(), ddSwap);
}

TEST(MainWindow, SecondRadioRenamesButtonsAndMenusWhoseKeysFollow)
{
    Window window;
    QMenu *mode = window.get<QMenu>("Edit1");
    QMenu *edit = window.get<QMenu>("Edit2");
    QStringList headings;
    for (QAction *heading : window.get<QMenuBar>("MainMenu1")->actions())
        headings << heading->text();
    EXPECT_EQ(headings, QStringList({"&File", "&Edit", "&Mode", "&Help"}));

    window.form->SetSO3R(ddRadio3);
    emit mode->aboutToShow();
    emit edit->aboutToShow();
    EXPECT_TRUE(window.get<QRadioButton>("Radio3")->isChecked());
    EXPECT_FALSE(window.get<QRadioButton>("Radio2")->isChecked());
    EXPECT_EQ(window.led("LedRig2")->text(), "Rig3");
    EXPECT_EQ(window.led("LedRig12")->text(), "Rig1+3");
    EXPECT_EQ(mode->actions()[1]->text(), "R&ig1+3");
    EXPECT_EQ(mode->actions()[2]->text(), "Ri&g3");
    EXPECT_EQ(mode->actions()[3]->text(), "R&everse");
    EXPECT_EQ(mode->actions()[4]->text(), "&Mute");
    EXPECT_EQ(edit->actions()[2]->text(), "So&undcard IN(3)");
    EXPECT_EQ(edit->actions()[3]->text(), "&Logger control...");

    window.form->SetSO3R(ddRadio2);
    EXPECT_TRUE(window.get<QRadioButton>("Radio2")->isChecked());
    EXPECT_EQ(window.led("LedRig12")->text(), "Rig1+2");
    EXPECT_EQ(mode->actions()[2]->text(), "Rig2");
}

TEST(MainWindow, HintsNameTheDevicesAndStayEmptyForUnknownOnes)
{
    Window window;
    window.form->setInput1Device(0);
    window.form->setInput3Device(2);
    window.form->setInput2Device(7);
    window.form->ShowMode();
    EXPECT_EQ(window.text("Panel0"), "Input[1]:0 Input[2]:7 Input[3]:2 Output:-1");
    EXPECT_EQ(window.led("LedRig1")->toolTip(), "Radio 1");
    EXPECT_EQ(window.led("LedRig2")->toolTip(), "");
    EXPECT_EQ(window.get<QToolButton>("Speaker")->toolTip(), "");
    window.form->SetSO3R(ddRadio3);
    window.form->setOutputDevice(0);
    window.form->ShowMode();
    EXPECT_EQ(window.led("LedRig2")->toolTip(), "Radio 3");
    EXPECT_EQ(window.get<QToolButton>("Speaker")->toolTip(), "Headset");
}

TEST(MainWindow, RefusedSettingsWriteShowsTheErrorBoxAndTheProgramRunsOn)
{
    Window window("", {"-F", "missing/KALDRA.INI"});
    Box seen;
    answerBox(seen);
    window.led("LedPower")->click();
    const std::string path = (window.folder / "missing" / "KALDRA.INI").string();
    EXPECT_EQ(seen.title, "KALDRA");
    EXPECT_EQ(seen.text.toStdString(), "Unable to write to " + path + ".");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    // Power-on's first write is inside route Rig1+2: the graph plays, the state shows it.
    EXPECT_EQ(window.form->SO2R(), ddCenter);
    EXPECT_EQ(window.endCode, -1);
}

TEST(MainWindow, PlaybackDeviceThatFailsEndsTheProcessWithoutWritingSettings)
{
    Window window;
    window.library.initSucceeds = false;
    window.form->show();
    Box seen;
    answerBox(seen);
    window.led("LedPower")->click();
    EXPECT_EQ(seen.text, "Can't initialize device");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.owner, window.form.get()) << "no taskbar entry of its own";
    EXPECT_NE(window.endCode, -1);
    EXPECT_EQ(window.library.calls.back(), "Free()");
    EXPECT_FALSE(std::filesystem::exists(window.folder / "KALDRA.INI"));
}

TEST(MainWindow, StoredMuteAndThirdRadioOpenPoweredOffAndOnlyANewMarkIsAClick)
{
    Window window("[SETTINGS]\nMODE=3\nSO3R=3\n");
    EXPECT_EQ(window.form->SO2R(), ddOff);
    EXPECT_EQ(window.rigs(), "-0 -0 -0 ");
    EXPECT_TRUE(window.speakerMuted());
    EXPECT_TRUE(window.get<QRadioButton>("Radio3")->isChecked());
    EXPECT_EQ(window.led("LedRig12")->text(), "Rig1+3");

    window.led("LedPower")->click();
    window.led("LedRig1")->click();
    window.library.calls.clear();
    window.get<QRadioButton>("Radio3")->click();
    EXPECT_TRUE(window.library.calls.empty());
    EXPECT_EQ(window.form->SO2R(), ddLeft);
    EXPECT_NE(window.settings().find("MODE=1"), std::string::npos);
    window.get<QRadioButton>("Radio2")->click();
    EXPECT_TRUE(window.called("RecordFree()"));
    EXPECT_EQ(window.form->SO3R(), ddRadio2);
}

TEST(MainWindow, MalformedSettingStopsTheStartUpThere)
{
    Box seen;
    answerBox(seen);
    Window before("[SETTINGS]\nINPUT2=ABC\nMODE=2\n");
    EXPECT_EQ(seen.title, "SO2R Controller");
    EXPECT_EQ(seen.text, "'ABC' is not a valid integer value.");
    EXPECT_EQ(QCoreApplication::applicationName(), "SO2R Controller");
    EXPECT_EQ(before.text("Panel0"), "Status Bar");
    EXPECT_TRUE(before.form->PopupMenu1().actions().isEmpty());
    EXPECT_EQ(before.form->contextMenuPolicy(), Qt::DefaultContextMenu); // no window menu
    EXPECT_EQ(before.form->Tray(), nullptr);
    EXPECT_EQ(before.form->SO2R(), ddOff);
    EXPECT_EQ(before.rigs(), "e0 e0 e0 ");
    EXPECT_FALSE(before.get<QRadioButton>("Radio2")->isChecked());

    answerBox(seen);
    Window after("[SETTINGS]\nMODE=2\nSO3R=x\n");
    EXPECT_EQ(after.form->SO2R(), ddRight);
    after.led("LedPower")->click(); // only ends the state: audio was never started
    EXPECT_EQ(after.form->SO2R(), ddOff);
    EXPECT_TRUE(after.library.calls.empty());
    after.led("LedPower")->click();
    EXPECT_EQ(after.form->SO2R(), ddCenter);
}

TEST(MainWindow, GuardedCommandsDoNothingBeforeTheFirstPowerOn)
{
    Window window;
    window.library.calls.clear();
    for (const char *item : {"Rig1", "Rig1Rig21", "Rig21", "Mute1"})
        window.get<QAction>(item)->trigger();
    for (QAction *item : window.form->PopupMenu1().actions().mid(0, 4))
        item->trigger();
    window.form->SystemCommand(WindowMenu::kRig2);
    window.form->Radio3Click();
    window.get<QToolButton>("Speaker")->click();
    EXPECT_EQ(window.form->SO2R(), ddOff);
    EXPECT_EQ(window.form->SO3R(), ddRadio2);
    EXPECT_TRUE(window.library.calls.empty());
    EXPECT_FALSE(std::filesystem::exists(window.folder / "KALDRA.INI"));
}

TEST(MainWindow, SystemCommandsRunOneRouteEach)
{
    Window window;
    window.led("LedPower")->click();
    const auto matrixWrites = [&] {
        return std::count_if(
            window.library.calls.begin(), window.library.calls.end(),
            [](const std::string &call) { return call.starts_with("MixerChannelSetMatrix"); });
    };
    const auto before = matrixWrites();
    window.form->SystemCommand(WindowMenu::kRig2);
    EXPECT_EQ(window.form->SO2R(), ddRight);
    window.form->SystemCommand(WindowMenu::kRig12);
    EXPECT_EQ(window.form->SO2R(), ddCenter);
    window.form->SystemCommand(WindowMenu::kRig1);
    EXPECT_EQ(window.form->SO2R(), ddLeft);
    EXPECT_EQ(matrixWrites() - before, 6);
    window.form->SystemCommand(WindowMenu::kMute);
    EXPECT_EQ(window.form->SO2R(), ddMute);
    int aboutBoxes = 0;
    whenModal<QDialog>([&aboutBoxes](QDialog &box) {
        ++aboutBoxes;
        box.close();
    });
    window.form->SystemCommand(WindowMenu::kAbout);
    EXPECT_EQ(aboutBoxes, 1);
    EXPECT_EQ(window.form->SO2R(), ddMute);
    EXPECT_EQ(matrixWrites() - before, 6);
}

TEST(MainWindow, ReverseStereoPlaysTheSecondRadioLeftAndComesBackFromMute)
{
    Window window;
    window.get<QAction>("Reverse1")->trigger(); // before the first power-on: nothing
    EXPECT_EQ(window.form->SO2R(), ddOff);
    EXPECT_FALSE(window.get<QAction>("Reverse1")->isChecked());

    window.led("LedPower")->click();
    window.led("LedRig1")->click();
    window.form->PopupMenu1().actions().back()->trigger();
    EXPECT_EQ(window.form->SO2R(), ddSwap);
    EXPECT_EQ(window.matrices(), "0011 1100 ");
    EXPECT_EQ(window.rigs(), "e0 e1 e0 ");
    EXPECT_TRUE(window.reverseMarked());
    EXPECT_NE(window.settings().find("MODE=0"), std::string::npos);

    window.get<QAction>("Mute1")->trigger();
    EXPECT_EQ(window.form->SO2R(), ddMute);
    EXPECT_FALSE(window.get<QAction>("Reverse1")->isChecked());
    window.get<QAction>("Mute1")->trigger();
    EXPECT_EQ(window.form->SO2R(), ddSwap);
    EXPECT_TRUE(window.reverseMarked());
    EXPECT_EQ(window.rigs(), "e0 e1 e0 ");

    window.get<QAction>("Reverse1")->trigger(); // chosen again: still reverse, still marked
    EXPECT_TRUE(window.reverseMarked());
    window.led("LedRig2")->click();
    EXPECT_FALSE(window.get<QAction>("Reverse1")->isChecked());
}

TEST(MainWindow, LoggerRoutesActAsTheModeMenuAndWaitWhilePoweredOff)
{
    Window window;
    LoggerControl &logger = window.form->Logger();
    window.library.calls.clear();
    const std::string lamps = window.rigs();
    emit logger.routeRequested(RemoteRoute::Reverse);
    EXPECT_EQ(window.form->SO2R(), ddOff);
    EXPECT_EQ(window.rigs(), lamps);
    EXPECT_TRUE(window.library.calls.empty());

    window.led("LedPower")->click(); // up on Rig1+2, then the remembered route at once
    EXPECT_EQ(window.form->SO2R(), ddSwap);
    EXPECT_EQ(window.matrices(), "0011 1100 ");

    emit logger.routeRequested(RemoteRoute::Rig1);
    EXPECT_EQ(window.form->SO2R(), ddLeft);
    EXPECT_EQ(window.matrices(), "1111 0000 ");
    EXPECT_NE(window.settings().find("MODE=1"), std::string::npos);
    emit logger.routeRequested(RemoteRoute::Rig2);
    EXPECT_EQ(window.matrices(), "0000 1111 ");
    emit logger.routeRequested(RemoteRoute::Stereo);
    EXPECT_EQ(window.form->SO2R(), ddCenter);

    emit logger.muteToggleRequested();
    EXPECT_EQ(window.form->SO2R(), ddMute);
    emit logger.powerToggleRequested();
    EXPECT_EQ(window.form->SO2R(), ddOff);
    emit logger.powerToggleRequested(); // the remembered route was taken once only
    EXPECT_EQ(window.form->SO2R(), ddCenter);
}

TEST(MainWindow, LatchPlaysTheOtherRadioWhileOneTransmitsThenTheRouteAskedForLast)
{
    Window window("[CONTROL]\nLATCH=1\nBLEND=50\n");
    LoggerControl &logger = window.form->Logger();
    QAction *latch = window.get<QAction>("Latch1");
    EXPECT_TRUE(latch->isChecked());
    window.led("LedPower")->click();
    const auto gains = [&](AudioHandle capture) { return window.library.matrices[capture]; };
    const AudioHandle first = window.form->Engine().Capture1();
    const AudioHandle second = window.form->Engine().Capture2();
    EXPECT_EQ(gains(first), RoutingMatrix({1, 1, 0.5F, 0.5F}));
    EXPECT_EQ(gains(second), RoutingMatrix({0.5F, 0.5F, 1, 1}));

    window.led("LedRig1")->click(); // one radio in both ears: no blend
    EXPECT_EQ(gains(second), RoutingMatrix({0, 0, 0, 0}));
    logger.setTransmitting(TransmitSource::RadioInfo, 1, true);
    EXPECT_EQ(window.matrices(), "0000 1111 ");
    EXPECT_EQ(window.rigs(), "e1 e0 e0 "); // the lamps keep the route asked for
    emit logger.routeRequested(RemoteRoute::Reverse);
    EXPECT_EQ(window.matrices(), "0000 1111 ");
    EXPECT_NE(window.settings().find("MODE=0"), std::string::npos);
    logger.setTransmitting(TransmitSource::Rig, 2, true); // both: the ears stay
    EXPECT_EQ(window.matrices(), "0000 1111 ");
    logger.setTransmitting(TransmitSource::RadioInfo, 1, false);
    EXPECT_EQ(window.matrices(), "1111 0000 ");
    logger.setTransmitting(TransmitSource::Rig, 2, false);
    EXPECT_EQ(gains(first), RoutingMatrix({0.5F, 0.5F, 1, 1}));
    EXPECT_EQ(gains(second), RoutingMatrix({1, 1, 0.5F, 0.5F}));

    latch->trigger();
    EXPECT_FALSE(logger.latch());
    EXPECT_NE(window.settings().find("LATCH=0"), std::string::npos);
    logger.setTransmitting(TransmitSource::Rig, 2, true);
    EXPECT_EQ(gains(first), RoutingMatrix({0.5F, 0.5F, 1, 1}));

    window.get<QAction>("LoggerControl1")->trigger();
    window.get<QSlider>("Blend")->setValue(20);
    EXPECT_EQ(gains(first), RoutingMatrix({0.2F, 0.2F, 1, 1}));
    EXPECT_NE(window.settings().find("BLEND=20"), std::string::npos);
}

TEST(MainWindow, AOneRadioRouteReturnsToStereoWhenLeftAloneButNotMidTransmission)
{
    Window window("[CONTROL]\nSTEREO_AFTER=1\n");
    LoggerControl &logger = window.form->Logger();
    window.led("LedPower")->click();
    window.led("LedRig1")->click();
    QTest::qWait(700);
    emit logger.routeRequested(RemoteRoute::Rig2); // a command starts the wait afresh
    QTest::qWait(700);
    EXPECT_EQ(window.form->SO2R(), ddRight);
    logger.setTransmitting(TransmitSource::RadioInfo, 1, true);
    QTest::qWait(700);
    EXPECT_EQ(window.form->SO2R(), ddRight);
    logger.setTransmitting(TransmitSource::RadioInfo, 1, false);
    EXPECT_EQ(window.form->SO2R(), ddCenter);
    EXPECT_EQ(window.rigs(), "e0 e1 e0 ");
    EXPECT_NE(window.settings().find("MODE=0"), std::string::npos);
}

TEST(MainWindow, LoggerControlOpensOnceAndNamesThePortToGiveTheLogger)
{
    Window window;
    window.get<QAction>("LoggerControl1")->trigger();
    window.get<QAction>("LoggerControl1")->trigger();
    const auto opened = window.form->findChildren<QWidget *>("LoggerControlWindow");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0]->isVisible());
    const QString link = QString::fromStdString((window.folder / "kaldra" / "otrsp").string());
    EXPECT_TRUE(opened[0]->findChild<QLabel *>("PortName")->text().startsWith(link));
}

TEST(MainWindow, DeviceDialogClosedWithoutOkStillRestartsAndWrites)
{
    Window window("[SETTINGS]\nOUTPUT=0\nSO3R=3\nINPUT3=2\n");
    window.library.calls.clear();
    QString caption;
    whenModal<TForm2>([&](TForm2 &dialog) {
        caption = dialog.windowTitle();
        dialog.close();
    });
    window.get<QAction>("SoundcardOUT1")->trigger();
    EXPECT_EQ(caption, "Select Output Device");
    EXPECT_TRUE(window.called("Init(0,7000,0)"));
    EXPECT_EQ(window.form->SO2R(), ddOff); // from powered-off: on, then off
    EXPECT_NE(window.settings().find("OUTPUT=0"), std::string::npos);

    whenModal<TForm2>([&](TForm2 &dialog) {
        caption = dialog.windowTitle();
        dialog.close();
    });
    window.led("LedPower")->click();
    window.library.calls.clear();
    window.get<QAction>("SoundcardIN21")->trigger();
    EXPECT_EQ(caption, "Select Output Device (3)");
    EXPECT_EQ(window.form->SO2R(), ddCenter); // from powered-on: off, then on
    EXPECT_TRUE(window.called("RecordFree()"));
    EXPECT_TRUE(window.called("RecordInit(2)"));
    EXPECT_EQ(window.text("Panel0"), "Input[1]:-1 Input[2]:-1 Input[3]:2 Output:0");

    whenModal<TForm2>([&](TForm2 &dialog) {
        caption = dialog.windowTitle();
        dialog.close();
    });
    window.get<QAction>("SoundcardIN11")->trigger();
    EXPECT_EQ(caption, "Select Output Device (1)");
}

TEST(MainWindow, TheContextMenuCarriesTheWindowMenusCommands)
{
    Window window;
    window.led("LedPower")->click();
    const auto commands = window.form->findChildren<QAction *>();
    const auto rig2 = std::find_if(commands.begin(), commands.end(), [](QAction *action) {
        return action->data().toInt() == WindowMenu::kRig2;
    });
    ASSERT_NE(rig2, commands.end());
    (*rig2)->trigger();
    EXPECT_EQ(window.form->SO2R(), ddRight);
}

TEST(MainWindow, AnExitWhoseWriteIsRefusedLeavesTheProgramRunning)
{
    Window window("", {"-F", "missing/KALDRA.INI"});
    Box question, error;
    whenModal<QMessageBox>([&](QMessageBox &box) {
        question = {box.windowTitle(), box.text(), box.icon()};
        answerBox(error);
        box.button(QMessageBox::Ok)->click();
    });
    window.get<QAction>("Exit1")->trigger();
    EXPECT_EQ(question.title, "Warning!");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_FALSE(window.form->Tray()->icon().isVisible()); // removed before the write
    EXPECT_FALSE(window.called("Free()"));
    EXPECT_EQ(window.endCode, -1);
}

TEST(MainWindow, CancelledExitWritesNothing)
{
    Window window;
    Box seen;
    answerBox(seen, QMessageBox::Cancel);
    window.get<QAction>("Exit1")->trigger();
    EXPECT_EQ(seen.title, "Warning!");
    EXPECT_EQ(seen.text, "Do you really want to exit?");
    EXPECT_TRUE(window.form->Tray()->icon().isVisible());
    EXPECT_FALSE(std::filesystem::exists(window.folder / "KALDRA.INI"));
    EXPECT_FALSE(window.called("Free()"));
}

TEST(MainWindow, AQuitSignalClosesOpenDialogsAndTheWindowWritingNothing)
{
    Window window;
    window.form->show();
    whenModal<QMessageBox>([&](QMessageBox &) {
        whenModal<QDialog>([&](QDialog &) { window.form->CloseOnQuitSignal(); });
        window.form->RunCommand(&TForm1::About1Click);
    });
    window.get<QAction>("Exit1")->trigger();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(window.form->isVisible());
    EXPECT_FALSE(std::filesystem::exists(window.folder / "KALDRA.INI"));
    EXPECT_FALSE(window.called("Free()"));
}

} // namespace

TEST(MainWindow, StoredCardsAreFollowedWhenTheServersListChanges)
{
    Window window("[SETTINGS]\nINPUT1=0\nINPUT2=1\nOUTPUT=0\n[DEVICE NAMES]\nINPUT1=codec\n"
                  "INPUT2=codec.2\nOUTPUT=test0\nINPUT1_PATH=usb-2\nINPUT2_PATH=usb-3\n");
    RecordingAudioLibrary &library = window.library;
    library.captureDevices = {"CODEC", "CODEC", "Radio 3"};
    library.captureIdentities = {{"codec", "usb-2"}, {"codec.2", "usb-3"}, {"radio3", ""}};
    window.led("LedPower")->click();
    window.led("LedRig2")->click();
    window.get<QToolButton>("Speaker")->click();
    const auto listChanged = [&] {
        library.calls.clear();
        ++library.deviceListChanges;
        QTest::qWait(600);
    };

    // A re-plug swaps the two codecs' names: the running streams, held to
    // the names, would be on each other's card. Audio restarts on the ports,
    // muted on Rig2 as before.
    library.captureIdentities = {{"codec", "usb-3"}, {"codec.2", "usb-2"}, {"radio3", ""}};
    listChanged();
    EXPECT_TRUE(window.called("RecordInit(1)"));
    EXPECT_EQ(window.text("Panel0"), "Input[1]:1 Input[2]:0 Input[3]:-1 Output:0");
    EXPECT_EQ(window.form->SO2R(), ddMute);
    EXPECT_EQ(window.form->LastSO2R(), ddRight);
    EXPECT_NE(window.settings().find("INPUT1=codec.2\n"), std::string::npos);

    // Radio 2's card goes: radio 1's moves up a number and plays on.
    library.captureDevices = {"CODEC", "Radio 3"};
    library.captureIdentities = {{"codec.2", "usb-2"}, {"radio3", ""}};
    listChanged();
    EXPECT_FALSE(window.called("RecordFree()"));
    EXPECT_EQ(window.text("Panel0"),
              "Input[1]:0 Input[2]:0 Input[3]:-1 Output:0 - card missing: Radio 2");
    EXPECT_EQ(window.led("LedRig2")->toolTip(), "Sound card missing: codec");
    // Still named in the file, for when it comes back.
    window.get<QToolButton>("Speaker")->click();
    EXPECT_NE(window.settings().find("INPUT2=codec\n"), std::string::npos);
}
