#pragma once

#include "AudioEngine.h"
#include "AudioEngineHost.h"
#include "DeviceBindings.h"
#include "ListeningState.h"
#include "RemoteRoute.h"
#include "SettingsFile.h"
#include "SettingsTarget.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AudioLibrary;
class LoggerControl;
class LoggerControlWindow;
class QAction;
class QMenu;
class TAboutDlg;
class TrayIcon;
class WindowMenu;
enum TSO2RMode : std::uint8_t;

namespace Ui {
class TForm1;
}

// The main window: the listening state and its display, the audio engine it
// owns, the settings file, the menus and every command the operator gives.
//
// Construction runs the start-up (FormCreate): defaults, the settings file
// found from `workingDirectory` and `arguments` (the program's arguments
// without its own name), the tray menu, the application title, and the state
// ddOff. Everything runs on the user-interface thread.
//
// Command handlers (the public slots ending in Click) throw SettingsError when
// a settings write is refused, which ends the command at that write; the
// buttons, menus and system commands reach them through one entry point that
// shows the application's error box for it, and the program runs on.
class TForm1 : public QMainWindow, public AudioEngineHost, public SettingsTarget {
    Q_OBJECT
    Q_PROPERTY(TSO2RState SO2R READ SO2R WRITE SetSO2R)
    Q_PROPERTY(TSO3RState SO3R READ SO3R WRITE SetSO3R)

  public:
    // `library` must outlive the window.
    TForm1(AudioLibrary &library, const std::filesystem::path &workingDirectory,
           const std::vector<std::string> &arguments, QWidget *parent = nullptr);
    ~TForm1() override;

    TSO2RState SO2R() const override { return FSO2R; }
    TSO3RState SO3R() const override { return FSO3R; }
    TSO2RState LastSO2R() const override { return FLastSO2R; }
    void SetLastSO2R(TSO2RState state) override { FLastSO2R = state; }

    // Stores the state and shows it on the Rig buttons, the speaker button and
    // the radio buttons. The Rig buttons are enabled or disabled before their
    // lamps are set, so under ddOff every lamp keeps its look; ddSwap leaves
    // captions and lamps alone, ddMute the lamps. Marks the Reverse items
    // while ddSwap is heard and tells the logger control each new route.
    void SetSO2R(TSO2RState value) override;
    // Stores the second radio, marks its radio button and names it on LedRig2,
    // LedRig12 and the menus. Marking a radio button that was not marked
    // reports its click, as a user's click would.
    void SetSO3R(TSO3RState value) override;
    // The status line from the four device numbers and the hints of LedRig1,
    // LedRig2 and Speaker from the devices' names (empty when a name cannot be
    // read). A stored sound card that is missing is named in its hint and at
    // the end of the status line.
    void ShowMode() override;
    void WriteSettings() override;
    void EndOnAudioFailure(const std::string &message, bool errorIcon) override;

    void setInput1Device(std::int32_t device) override { FEngine.Input1Device = device; }
    void setInput2Device(std::int32_t device) override { FEngine.Input2Device = device; }
    void setInput3Device(std::int32_t device) override { FEngine.Input3Device = device; }
    void setOutputDevice(std::int32_t device) override { FEngine.OutputDevice = device; }
    void setDeviceIdentities(const DeviceIdentities &identities) override
    {
        FBindings.setStored(identities);
    }

    const AudioEngine &Engine() const { return FEngine; }
    const SettingsFile &Settings() const { return FSettings; }
    QMenu &PopupMenu1() { return *FPopupMenu1; }
    // The notification-area icon; none after a start-up that stopped early.
    const TrayIcon *Tray() const { return FTrayIcon.get(); }
    // What loggers drive the window through; started once the settings are read.
    LoggerControl &Logger() { return *FLogger; }

    // What ends the process after an audio failure; std::exit unless a test
    // replaces it. Should it return, the failing operation stops there.
    void SetProcessEnd(std::function<void(int)> end) { FProcessEnd = std::move(end); }

    // Runs `handler` as a command: a refused settings write shows the
    // application's error box and ends the command there.
    void RunCommand(void (TForm1::*handler)());

  public slots:
    // The window-menu commands (WindowMenu's numbers), from whichever menu
    // gives them: the close item closes the window (its own handling, first),
    // the others run their menu's handler.
    void SystemCommand(int command);
    // A quit signal from the session: the open dialogs go as if cancelled,
    // then the window closes the way Alt+F4 closes it.
    void CloseOnQuitSignal();

    void FormCreate();
    void FormDestroy();
    void LedPowerClick();
    void LedRig1Click();
    void LedRig12Click();
    void LedRig2Click();
    void SpeakerClick();
    void Radio2Click();
    void Radio3Click();
    void Exit1Click();
    void SoundcardOUT1Click();
    void SoundcardIN11Click();
    void SoundcardIN21Click();
    void Rig1Click();
    void Rig1Rig21Click();
    void Rig21Click();
    // Reverse stereo: the second radio left, radio 1 right. LedRig12 lights,
    // since both radios are heard one per ear; the Reverse items carry the mark.
    void Reverse1Click();
    void Mute1Click();
    void Edit1Click();
    // Opens the Logger control window, or raises it when it is open.
    void LoggerControl1Click();
    void About1Click();

  private:
    void BindCommands();
    // Runs a fresh device dialog on `device` and copies back the number it
    // holds when it closes, whatever way it was closed.
    void ChooseDevice(const QString &caption, TSO2RMode mode, std::int32_t &device,
                      DeviceSlot slot);
    void ShowErrorBox(const std::string &message);
    // The guard of the commands that act only once audio has been started.
    void IfAudioStarted(void (TForm1::*handler)());
    void ChooseSecondRadio(TSO3RState radio);
    void RestartAudio();
    void RouteReverse();
    // A logger's route request: while ddOff remembered for the next power-on,
    // otherwise run as the Mode menu's command.
    void RequestRoute(RemoteRoute route);
    // Runs FLoggerRoute as the Mode menu's command would.
    void TakeLoggerRoute();
    // The Reverse items' marks and the route the logger control reports.
    void FollowRoute();
    // TogglePower, finding the stored sound cards first when it powers on.
    void TogglePower();
    // The server's device list changed: the stored cards are looked for
    // again; one that a running stream follows by a name now another card's
    // has the audio restarted on it, route and mute kept.
    void DeviceListChanged();
    void RestartKeepingRoute();
    // Latch: while one radio transmits, the other in both ears; the route set
    // last comes back when it stops. Also takes a return to Rig1+2 that waited
    // for a transmission's end.
    void FollowTransmit();
    // STEREO_AFTER: a one-radio route set by a command goes back to Rig1+2
    // after that long, as the Rig1+2 button would; never mid-transmission.
    void FollowStereoTimer();
    void StereoTimeUp();

    std::unique_ptr<Ui::TForm1> FUi;
    AudioEngine FEngine;
    DeviceBindings FBindings;
    QTimer FDeviceWatch; // polls the library for device list changes
    SettingsFile FSettings;
    std::filesystem::path FWorkingDirectory;
    std::vector<std::string> FArguments;
    QIcon FSpkrOnGlyph;
    QIcon FSpkrOffGlyph;
    QMenu *FPopupMenu1; // owned by the window
    // Made by a start-up that read the settings; neither exists otherwise.
    std::unique_ptr<WindowMenu> FWindowMenu;
    std::unique_ptr<TrayIcon> FTrayIcon;
    TAboutDlg *FAboutDlg;                         // owned by the window
    QAction *FTrayReverse = nullptr;              // owned by FPopupMenu1
    QAction *FLatch1;                             // the Mode menu's Latch item, owned by it
    LoggerControl *FLogger;                       // owned by the window
    LoggerControlWindow *FLoggerWindow = nullptr; // owned by the window, made when first opened
    RemoteRoute FLoggerRoute = RemoteRoute::Stereo;
    // A route a logger asked for while ddOff, taken at the next power-on.
    std::optional<RemoteRoute> FPendingRoute;
    // The route last told to the logger control.
    std::optional<RemoteRoute> FShownRoute;
    // Set while a logger's request runs; the next SetSO2R reports it as such.
    bool FRouteFromLogger = false;
    QTimer FStereoTimer;
    // The return to Rig1+2 is due and waits for the transmission's end.
    bool FStereoDue = false;
    std::function<void(int)> FProcessEnd;
    TSO2RState FSO2R = ddOff;
    TSO3RState FSO3R = ddRadio2;
    TSO2RState FLastSO2R = ddCenter;
};
