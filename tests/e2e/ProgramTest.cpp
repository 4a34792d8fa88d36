// The real program as an operator runs it: kaldra on a private X display
// against the private sound server (scripts/sound-server.sh), driven with
// clicks and keys, heard on the recorded headphones, its settings file read
// back.
#include "Backends.h"
#include "HeadphonesListening.h"
#include "ServerProbe.h"
#include "SimulatedRadios.h"
#include "VirtualDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

namespace {

using namespace std::chrono_literals;

using namespace SimulatedRadios;

// The centres of the controls in the window's client area, which lies
// below the menu bar and is this tall.
constexpr int kClientHeight = 153;
const QPoint kLedRig1(7 + 36, 9 + 24);
const QPoint kSpeaker(7 + 36, 64 + 28);
const QPoint kRadio3(88 + 20, 97 + 8);
const QPoint kLedPower(167 + 36, 64 + 28);

// Capture device numbers on the private server, sorted by device name.
const char *const kSettings = "[SETTINGS]\n"
                              "INPUT1=1\n"
                              "INPUT2=2\n"
                              "INPUT3=3\n"
                              "OUTPUT=-1\n"
                              "MODE=0\n"
                              "SO3R=2\n";

std::map<std::string, std::string> settingsIn(const QString &path)
{
    std::map<std::string, std::string> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    std::istringstream lines(file.readAll().toStdString());
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

// On PipeWire the program runs as on a desktop, where nothing points libpulse
// at a server, and so through PipeWire's own API; told PULSE_SERVER, it
// takes the pulse protocol.
class ProgramTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override
    {
        SKIP_UNLESS_SERVED(GetParam());
        ASSERT_TRUE(display.isRunning()) << "Xvfb did not start (scripts/setup.sh installs it)";
        ASSERT_TRUE(folder.isValid());
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kSettings);
        file.close();
        probe.emplace();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display.name());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("WAYLAND_DISPLAY");
        if (GetParam() == Backend::PipeWire)
            environment.remove("PULSE_SERVER");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.path());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(KALDRA_PROGRAM, QStringList{});
        ASSERT_TRUE(program.waitForStarted(10000));

        const auto found =
            display.xdotool({"search", "--sync", "--onlyvisible", "--name", "^KALDRA$"}, 20000);
        ASSERT_TRUE(found) << "no KALDRA window on the display";
        window = found->split('\n', Qt::SkipEmptyParts).value(0);
        const auto geometry = display.xdotool({"getwindowgeometry", "--shell", window});
        ASSERT_TRUE(geometry);
        for (const QString &line : geometry->split('\n'))
            if (line.startsWith("HEIGHT="))
                clientTop = line.mid(7).toInt() - kClientHeight;
        ASSERT_GT(clientTop, 0) << "no menu bar above the client area";
        while (said.find("sound through") == std::string::npos && program.waitForReadyRead(5000))
            said += program.readAll().toStdString();
        const char *expected =
            GetParam() == Backend::PipeWire ? "sound through PipeWire" : "sound through PulseAudio";
        ASSERT_NE(said.find(expected), std::string::npos) << "the program said: " << said;
    }

    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
        if (HasFailure())
            std::cerr << "the program said:\n" << said << program.readAll().toStdString();
    }

    QString settingsPath() const { return QDir(folder.path()).filePath("KALDRA.INI"); }

    void click(QPoint place)
    {
        ASSERT_TRUE(
            display.xdotool({"mousemove", "--sync", "--window", window, QString::number(place.x()),
                             QString::number(clientTop + place.y()), "click", "1"}));
    }

    // Opens a menu of the menu bar with Alt and its access key, then chooses
    // the item with its own.
    void chooseFromMenu(const QString &heading, const QString &item)
    {
        ASSERT_TRUE(display.xdotool({"windowfocus", "--sync", window}));
        ASSERT_TRUE(display.xdotool({"key", "alt+" + heading}));
        QThread::msleep(300);
        ASSERT_TRUE(display.xdotool({"key", item}));
    }

    void expectSetting(const std::string &key, const std::string &value)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        std::string last;
        do {
            last = settingsIn(settingsPath())[key];
            if (last == value)
                return;
            QThread::msleep(50);
        } while (std::chrono::steady_clock::now() < deadline);
        ADD_FAILURE() << key << "=" << last << " in the settings file, not " << value;
    }

    VirtualDisplay display;
    QTemporaryDir folder;
    std::optional<ServerProbe> probe;
    QProcess program;
    QString window;
    int clientTop = 0;
    std::string said; // on standard error up to its window
};

INSTANTIATE_ON_EACH_BACKEND(ProgramTest);

} // namespace

TEST_P(ProgramTest, AnOperatorsSessionFromPowerOnToExit)
{
    click(kLedPower);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});

    click(kLedRig1);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    expectSetting("MODE", "1");

    chooseFromMenu("m", "m");
    expectHeard(*probe, {kSilence, kSilence});
    expectSetting("MODE", "3");

    // The radio buttons wait while muted.
    click(kSpeaker);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    click(kRadio3);
    expectHeard(*probe, {kRadio1Hz, kRadio3Hz});
    expectSetting("SO3R", "3");

    click(kLedPower);
    expectHeard(*probe, {kSilence, kSilence});
    expectSetting("MODE", "4");

    chooseFromMenu("f", "e");
    QThread::msleep(500);
    ASSERT_TRUE(display.xdotool({"key", "Return"}));
    ASSERT_TRUE(program.waitForFinished(10000)) << "Exit with OK did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::map<std::string, std::string> expected = {{"INPUT1", "1"}, {"INPUT2", "2"},
                                                         {"INPUT3", "3"}, {"OUTPUT", "-1"},
                                                         {"MODE", "4"},   {"SO3R", "3"}};
    EXPECT_EQ(settingsIn(settingsPath()), expected);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
