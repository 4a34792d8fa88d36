// The real program as an operator runs it: kaldra on a private X display
// against the private sound server (scripts/sound-server.sh), driven with
// clicks and keys, heard on the recorded headphones, its settings file read
// back.
#include "Backends.h"
#include "HeadphonesListening.h"
#include "ServerProbe.h"
#include "SimulatedRadios.h"
#include "ToneAnalysis.h"
#include "VirtualDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

using namespace SimulatedRadios;

// The centres of the controls in the window's client area, which lies
// below the menu bar and is this tall.
constexpr int kClientHeight = 153;
const QPoint kLedRig1(7 + 36, 9 + 24);
const QPoint kLedRig12(87 + 36, 9 + 24);
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

// The keys of one section of the settings file.
std::map<std::string, std::string> settingsIn(const QString &path,
                                              const std::string &section = "SETTINGS")
{
    std::map<std::string, std::string> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    std::istringstream lines(file.readAll().toStdString());
    std::string current;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with('[')) {
            current = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto equals = line.find('=');
        if (current == section && equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

// A logger on the program's pseudo-terminal: its link opened as a serial port
// is, in raw mode.
class SerialPortClient {
  public:
    explicit SerialPortClient(const QString &link)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while ((fd_ = ::open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) < 0 &&
               std::chrono::steady_clock::now() < deadline)
            QThread::msleep(50);
        termios mode{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &mode) == 0) {
            ::cfmakeraw(&mode);
            ::tcsetattr(fd_, TCSANOW, &mode);
        }
    }
    ~SerialPortClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SerialPortClient(const SerialPortClient &) = delete;
    SerialPortClient &operator=(const SerialPortClient &) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // Writes all of `bytes`, waiting while the program reads; false when it
    // stops reading for five seconds.
    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(fd_, bytes.constData() + done, bytes.size() - done);
            if (written > 0) {
                done += written;
                continue;
            }
            pollfd ready{fd_, POLLOUT, 0};
            if (errno != EAGAIN || ::poll(&ready, 1, 5000) <= 0)
                return false;
        }
        return true;
    }

    // The next answer, up to its CR; empty after a second with none.
    QByteArray answer()
    {
        while (!pending_.contains('\r')) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 1000) <= 0)
                return {};
            char bytes[256];
            const ssize_t got = ::read(fd_, bytes, sizeof bytes);
            if (got <= 0)
                return {};
            pending_.append(bytes, got);
        }
        const qsizetype end = pending_.indexOf('\r') + 1;
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end);
        return line;
    }

  private:
    int fd_ = -1;
    QByteArray pending_;
};

// Ports that nothing listens on now.
quint16 freeTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost);
    return socket.localPort();
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
        file.write(controlSection());
        file.close();
        probe.emplace();

        QProcessEnvironment environment = display.programEnvironment();
        // The command socket and the default OTRSP link stay in the test's folder.
        environment.insert("XDG_RUNTIME_DIR", folder.path());
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
    // Section [CONTROL] of the settings file; none by default.
    virtual QByteArray controlSection() const { return {}; }

    // `kaldra --send` with `words`, as a desktop shortcut runs it.
    int send(const QStringList &words, QByteArray *answers = nullptr)
    {
        QProcess sender;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder.path());
        environment.remove("DISPLAY");
        sender.setProcessEnvironment(environment);
        sender.start(KALDRA_PROGRAM, QStringList{"--send"} + words);
        if (!sender.waitForFinished(10000))
            return -1;
        if (answers)
            *answers = sender.readAllStandardOutput();
        return sender.exitCode();
    }

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

// The program with every logger input open: its OTRSP link in the test's
// folder, TCP and UDP on ports free at the start.
class LoggerDrivenProgramTest : public ProgramTest {
  protected:
    QByteArray controlSection() const override
    {
        return QStringLiteral("[CONTROL]\nOTRSP=%1\nOTRSP_TCP=%2\nN1MM_UDP=%3\n")
            .arg(linkPath())
            .arg(tcpPort)
            .arg(udpPort)
            .toUtf8();
    }
    QString linkPath() const { return QDir(folder.path()).filePath("otrsp"); }

    const quint16 tcpPort = freeTcpPort();
    const quint16 udpPort = freeUdpPort();
};

INSTANTIATE_ON_EACH_BACKEND(LoggerDrivenProgramTest);

// Latch on, radio 1's transmit state read from Hamlib's dummy rig behind a
// rigctld of the test's own, which the test stops and slows down.
class RigDrivenProgramTest : public ProgramTest {
  protected:
    void SetUp() override
    {
        rigctld.start("rigctld", {"-m", "1", "-P", "RIG", "-t", QString::number(rigPort)});
        ASSERT_TRUE(rigctld.waitForStarted(5000)) << "no rigctld (scripts/setup.sh installs it)";
        QTcpSocket probe;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        do {
            probe.connectToHost(QHostAddress::LocalHost, rigPort);
        } while (!probe.waitForConnected(200) && std::chrono::steady_clock::now() < deadline);
        ASSERT_EQ(probe.state(), QAbstractSocket::ConnectedState) << "rigctld does not listen";
        ProgramTest::SetUp();
    }
    void TearDown() override
    {
        ::kill(static_cast<pid_t>(rigctld.processId()), SIGCONT);
        rigctld.kill();
        rigctld.waitForFinished(5000);
        ProgramTest::TearDown();
    }
    QByteArray controlSection() const override
    {
        return QStringLiteral("[CONTROL]\nLATCH=1\nPTT1=rigctld 127.0.0.1:%1\n")
            .arg(rigPort)
            .toUtf8();
    }

    // Sets the dummy rig's PTT as a logger would, through rigctl.
    void setPtt(bool on)
    {
        QProcess rigctl;
        rigctl.start("rigctl", {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(rigPort), "T",
                                on ? "1" : "0"});
        ASSERT_TRUE(rigctl.waitForFinished(10000));
        ASSERT_EQ(rigctl.exitCode(), 0) << rigctl.readAllStandardError().toStdString();
    }
    void signalRigctld(int signal) { ::kill(static_cast<pid_t>(rigctld.processId()), signal); }

    const quint16 rigPort = freeTcpPort();
    QProcess rigctld;
};

INSTANTIATE_ON_EACH_BACKEND(RigDrivenProgramTest);

QByteArray radioInfo(int focus, bool stereo, bool transmitting = false)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<RadioInfo>"
                          "<StationName>SO2R</StationName><RadioNr>1</RadioNr>"
                          "<IsTransmitting>%3</IsTransmitting><FocusRadioNr>%1</FocusRadioNr>"
                          "<IsStereo>%2</IsStereo><ActiveRadioNr>%1</ActiveRadioNr></RadioInfo>")
        .arg(focus)
        .arg(stereo ? "True" : "False")
        .arg(transmitting ? "True" : "False")
        .toUtf8();
}

// The logger inputs plus the operator's automation: latch, half blend, and
// back to stereo after a second on one radio.
class AutomatedProgramTest : public LoggerDrivenProgramTest {
  protected:
    QByteArray controlSection() const override
    {
        return LoggerDrivenProgramTest::controlSection() + "LATCH=1\nBLEND=50\nSTEREO_AFTER=1\n";
    }
};

INSTANTIATE_ON_EACH_BACKEND(AutomatedProgramTest);

// Rig1+2 with half blend: each ear's own radio, and the other one 6 dB below it.
void expectBlendedStereo(ServerProbe &probe)
{
    // Each ear's own radio arrives at full scale, so the blend clips a
    // little on a 16-bit sink: 6.6 to 7.2 dB measured there, 6.0 on float.
    constexpr double kToleranceDb = 2.0;
    const auto belowBy = [](const std::vector<float> &heard, int ear, double own, double other) {
        return toneDb(heard, ear, own, kAnalysisRate) - toneDb(heard, ear, other, kAnalysisRate);
    };
    const auto blended = [&](const std::vector<float> &heard) {
        return !heard.empty() &&
               std::abs(belowBy(heard, 0, kRadio1Hz, kRadio2Hz) - 6.0) < kToleranceDb &&
               std::abs(belowBy(heard, 1, kRadio2Hz, kRadio1Hz) - 6.0) < kToleranceDb &&
               toneDb(heard, 0, kRadio1Hz, kAnalysisRate) > kPresentDb;
    };
    const auto heard = listenUntil(probe, blended);
    EXPECT_TRUE(blended(heard)) << "the other radio is " << belowBy(heard, 0, kRadio1Hz, kRadio2Hz)
                                << " dB and " << belowBy(heard, 1, kRadio2Hz, kRadio1Hz)
                                << " dB below each ear's own, not 6; radio 2 strongest at "
                                << strongestHzNear(heard, 1, kRadio2Hz, kAnalysisRate)
                                << " Hz\nat their monitors, " << radiosAtTheirMonitors(probe);
}

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
    EXPECT_EQ(settingsIn(settingsPath(), "DEVICE NAMES")["INPUT3"], "radio3.monitor");
}

TEST_P(LoggerDrivenProgramTest, LoggersSwitchTheHeadphones)
{
    click(kLedPower);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});

    SerialPortClient port(linkPath());
    ASSERT_TRUE(port.isOpen()) << "no OTRSP link at " << linkPath().toStdString();
    const std::pair<const char *, Ears> routes[] = {{"RX1\r", {kRadio1Hz, kRadio1Hz}},
                                                    {"RX2S\r", {kRadio1Hz, kRadio2Hz}},
                                                    {"RX2\r", {kRadio2Hz, kRadio2Hz}},
                                                    {"RX1R\r", {kRadio2Hz, kRadio1Hz}}};
    for (const auto &[line, ears] : routes) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(port.write(line));
        expectHeard(*probe, ears);
    }
    expectSetting("MODE", "0");
    ASSERT_TRUE(port.write("?NAME\r?RX\r"));
    EXPECT_EQ(port.answer(), "NAMEKALDRA\r");
    EXPECT_EQ(port.answer(), "RX1R\r");

    QTcpSocket tcp;
    tcp.connectToHost(QHostAddress::LocalHost, tcpPort);
    ASSERT_TRUE(tcp.waitForConnected(5000));
    tcp.write("rx1\n?rx\n");
    ASSERT_TRUE(tcp.waitForBytesWritten(2000));
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    QByteArray answer;
    while (!answer.contains('\r') && tcp.waitForReadyRead(2000))
        answer += tcp.readAll();
    EXPECT_EQ(answer, "RX1\r");
    tcp.write("ERX1\r");
    ASSERT_TRUE(tcp.waitForBytesWritten(2000));

    QUdpSocket datagrams;
    datagrams.writeDatagram(radioInfo(2, false), QHostAddress::LocalHost, udpPort);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});

    EXPECT_EQ(send({"RX1"}), 0);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});

    // Events: the other client's RX1 and the operator's click, not the
    // datagram's route, which came from the logger.
    click(kLedRig12);
    answer.clear();
    while (!answer.contains("S\r") && tcp.waitForReadyRead(2000))
        answer += tcp.readAll();
    EXPECT_EQ(answer, "$RX1\r$RX1S\r");

    // 100 kB of binary with no line end, then a good line.
    QByteArray junk(100 * 1024, '\0');
    for (qsizetype i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 7919 + i / 13) % 256);
    junk.replace('\r', '\x01').replace('\n', '\x02');
    ASSERT_TRUE(port.write(junk)) << "the program stopped reading its port";
    ASSERT_TRUE(port.write("\rRX2\r"));
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
}

TEST_P(RigDrivenProgramTest, TheRigsTransmitSwitchLatchesTheHeadphones)
{
    click(kLedPower);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    setPtt(true);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
    setPtt(false);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});

    // A rig that stops answering transmits no more, for all we know; the
    // window and the sound go on, and it is read again when it answers.
    setPtt(true);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
    signalRigctld(SIGSTOP);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    click(kLedRig1);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    signalRigctld(SIGCONT);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
    setPtt(false);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});

    // One that answers late, now and then not in time.
    std::atomic<bool> slow = true;
    std::thread stutter([&] {
        while (slow) {
            signalRigctld(SIGSTOP);
            std::this_thread::sleep_for(250ms);
            signalRigctld(SIGCONT);
            std::this_thread::sleep_for(100ms);
        }
    });
    click(kLedRig12);
    expectHeard(*probe, {kRadio1Hz, kRadio2Hz});
    click(kLedRig1);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    slow = false;
    stutter.join();
    setPtt(true);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
}

TEST_P(AutomatedProgramTest, LatchBlendAndReturnToStereo)
{
    click(kLedPower);
    expectBlendedStereo(*probe);

    QUdpSocket datagrams;
    datagrams.writeDatagram(radioInfo(1, true, true), QHostAddress::LocalHost, udpPort);
    expectHeard(*probe, {kRadio2Hz, kRadio2Hz});
    datagrams.writeDatagram(radioInfo(1, true, false), QHostAddress::LocalHost, udpPort);
    expectBlendedStereo(*probe);

    EXPECT_EQ(send({"RX1"}), 0);
    expectHeard(*probe, {kRadio1Hz, kRadio1Hz});
    expectBlendedStereo(*probe);
    expectSetting("MODE", "0");
}

TEST(SendCommand, SaysSoAndEndsWhenNoProgramRuns)
{
    QTemporaryDir runtime;
    QProcess sender;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    sender.setProcessEnvironment(environment);
    const auto start = std::chrono::steady_clock::now();
    sender.start(KALDRA_PROGRAM, {"--send", "RX1"});
    ASSERT_TRUE(sender.waitForFinished(5000));
    EXPECT_EQ(sender.exitCode(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(sender.readAllStandardError().isEmpty());
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
