// End-to-end tests of sound cards bound by name: the main window, offscreen,
// on a private sound server of its own (scripts/sound-server.sh) whose device
// numbers move under it. The headphones' monitor is recorded and analysed.
#include "Backends.h"
#include "HeadphonesListening.h"
#include "IniFile.h"
#include "MainWindow.h"
#include "PipeWireAudioLibrary.h"
#include "PrivateServerFolder.h"
#include "PulseAudioLibrary.h"
#include "ServerProbe.h"
#include "SimulatedRadios.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using namespace SimulatedRadios;

class DeviceNames : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVED(GetParam());
        server.emplace();
        folder = server->path();
        ASSERT_FALSE(folder.empty());
        ASSERT_EQ(script("start"), 0);
        std::ifstream(folder + "/server") >> pulseServer;
        probe = std::make_unique<ServerProbe>(pulseServer);
        if (GetParam() == Backend::PulseAudio) {
            PulseAudioLibrary::Options options;
            options.server = pulseServer;
            library = std::make_unique<PulseAudioLibrary>(options);
        } else {
            PipeWireAudioLibrary::Options options;
            options.remote = folder + "/runtime/pipewire-0";
            library = std::make_unique<PipeWireAudioLibrary>(options);
        }
    }

    void TearDown() override
    {
        window.reset();
        library.reset();
        probe.reset();
        server.reset();
    }

    int script(const std::string &command, const std::string &sink = {})
    {
        return server->script(command, sink);
    }

    // Starts the window on `settings` and powers it on.
    void powerOnWith(const std::string &settings)
    {
        std::ofstream(folder + "/KALDRA.INI") << settings;
        window = std::make_unique<TForm1>(*library, folder, std::vector<std::string>{});
        window->SetProcessEnd([](int code) { FAIL() << "the program would end with " << code; });
        window->RunCommand(&TForm1::LedPowerClick);
    }

    std::string stored(const char *section, const char *key)
    {
        return IniFile(folder + "/KALDRA.INI").readString(section, key, "none");
    }

    std::string status() { return window->findChild<QLabel *>("Panel0")->text().toStdString(); }

    // Lets the window see the server's changes until its status line reads
    // `expected`.
    void waitForStatus(const std::string &expected)
    {
        for (int i = 0; i < 40 && status() != expected; ++i)
            QTest::qWait(100);
        EXPECT_EQ(status(), expected);
    }

    std::optional<PrivateServerFolder> server;
    std::string folder;
    std::string pulseServer;
    std::unique_ptr<ServerProbe> probe;
    std::unique_ptr<AudioLibrary> library;
    std::unique_ptr<TForm1> window;
};

INSTANTIATE_ON_EACH_BACKEND(DeviceNames);

TEST_P(DeviceNames, PowerOnFindsTheStoredCardsWhoseNumbersMoved)
{
    // A device that sorts before every simulated one, as a webcam's
    // microphone or a newly plugged headset would.
    ASSERT_GE(probe->loadModule("module-null-sink", "sink_name=aaa-extra"), 0);
    // The numbers of the server as it was: headphones 0; the monitors of the
    // headphones, radio 1 and radio 2 at 0, 1 and 2. Now each is one further.
    powerOnWith(
        "[SETTINGS]\nINPUT1=1\nINPUT2=2\nINPUT3=-1\nOUTPUT=0\nMODE=4\nSO3R=2\n"
        "[DEVICE NAMES]\nINPUT1=radio1.monitor\nINPUT2=radio2.monitor\nOUTPUT=headphones\n");
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    EXPECT_EQ(status(), "Input[1]:2 Input[2]:3 Input[3]:-1 Output:1");
    EXPECT_EQ(stored("SETTINGS", "INPUT1"), "2");
    EXPECT_EQ(stored("SETTINGS", "INPUT2"), "3");
    EXPECT_EQ(stored("SETTINGS", "OUTPUT"), "1");
    EXPECT_EQ(stored("DEVICE NAMES", "INPUT1"), "radio1.monitor");
    EXPECT_EQ(stored("DEVICE NAMES", "INPUT3"), "");
}

TEST_P(DeviceNames, TwoIdenticalCardsWhoseNamesSwappedAreFoundByTheirPorts)
{
    const char *server = std::getenv("SOUND_SERVER");
    if (server != nullptr && std::string(server) == "pipewire")
        GTEST_SKIP() << "needs module-sine, which only a PulseAudio server has";
    // Two cards of one description on two USB ports, radio 1's tone on the
    // one at port 2; the file saw their names the other way round.
    for (const auto &[sink, port, hz] :
         {std::tuple{"codec", "usb-0:2", kRadio1Hz}, std::tuple{"codec.2", "usb-0:3", kRadio2Hz}}) {
        ASSERT_GE(
            probe->loadModule("module-null-sink", std::string("sink_name=") + sink +
                                                      " sink_properties='device.description=CODEC "
                                                      "device.bus_path=pci-0000:00:14.0-" +
                                                      port + "'"),
            0);
        ASSERT_GE(probe->loadModule("module-sine", std::string("sink=") + sink +
                                                       " frequency=" + std::to_string(int(hz))),
                  0);
    }
    powerOnWith("[SETTINGS]\nINPUT1=0\nINPUT2=0\nOUTPUT=0\nMODE=4\nSO3R=2\n"
                "[DEVICE NAMES]\nINPUT1=codec.2.monitor\nINPUT2=codec.monitor\n"
                "OUTPUT=headphones\nINPUT1_PATH=pci-0000:00:14.0-usb-0:2\n"
                "INPUT2_PATH=pci-0000:00:14.0-usb-0:3\n");
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    // Capture: codec.2.monitor 0, codec.monitor 1; playback: codec 0,
    // codec.2 1, headphones 2.
    EXPECT_EQ(status(), "Input[1]:1 Input[2]:0 Input[3]:-1 Output:2");
    EXPECT_EQ(stored("DEVICE NAMES", "INPUT1"), "codec.monitor");
    EXPECT_EQ(stored("DEVICE NAMES", "INPUT1_PATH"), "pci-0000:00:14.0-usb-0:2");
}

TEST_P(DeviceNames, ARadioCardPluggedBackUnderAnotherNumberIsTakenUpByItself)
{
    powerOnWith(
        "[SETTINGS]\nINPUT1=1\nINPUT2=2\nOUTPUT=0\nMODE=4\nSO3R=2\n"
        "[DEVICE NAMES]\nINPUT1=radio1.monitor\nINPUT2=radio2.monitor\nOUTPUT=headphones\n");
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    window->RunCommand(&TForm1::LedRig2Click);
    window->RunCommand(&TForm1::LedRig12Click);
    window->RunCommand(&TForm1::SpeakerClick); // muted, then back on Rig1+2

    ASSERT_EQ(script("unplug", "radio1"), 0);
    waitForStatus("Input[1]:1 Input[2]:1 Input[3]:-1 Output:0 - card missing: Radio 1");
    ASSERT_GE(probe->loadModule("module-null-sink", "sink_name=aaa-extra"), 0);
    ASSERT_EQ(script("plug", "radio1"), 0);
    waitForStatus("Input[1]:2 Input[2]:3 Input[3]:-1 Output:1");
    expectHeard(*probe, {kSilence, kSilence});
    window->RunCommand(&TForm1::SpeakerClick);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    window->RunCommand(&TForm1::LedRig1Click);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
}

} // namespace
