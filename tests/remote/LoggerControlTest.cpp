#include "LoggerControl.h"
#include "CommandClient.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <fcntl.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWaitMilliseconds = 5000;

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

class LoggerControlTest : public testing::Test {
  protected:
    void SetUp() override
    {
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.path().string()));
        link = folder / "otrsp";
        tcpPort = freeTcpPort();
        udpPort = freeUdpPort();
        settings = folder / "KALDRA.INI";
        writeFile(settings, "[SETTINGS]\nMODE=1\n[control]\notrsp=" + link.string() +
                                "\nOTRSP_TCP=" + std::to_string(tcpPort) +
                                "\nN1MM_UDP=" + std::to_string(udpPort) + "\n");
    }

    // Waits until the last route requested is `route`.
    static bool routedTo(const QSignalSpy &spy, RemoteRoute route)
    {
        return QTest::qWaitFor(
            [&] { return !spy.isEmpty() && spy.last().at(0).value<RemoteRoute>() == route; },
            kWaitMilliseconds);
    }

    TempFolder folder;
    std::filesystem::path link;
    std::filesystem::path settings;
    quint16 tcpPort = 0;
    quint16 udpPort = 0;
};

// Runs kaldra --send beside the event loop that serves it; its output, or
// "exit N: error" when it fails.
std::string sendWhileServing(const QString &text)
{
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<int> result = -1;
    std::thread sender([&] { result = sendToRunningProgram(text, out, err); });
    if (!QTest::qWaitFor([&] { return result != -1; }, kWaitMilliseconds))
        ADD_FAILURE() << "kaldra --send did not finish in time";
    sender.join();
    return result == 0 ? out.str() : "exit " + std::to_string(result) + ": " + err.str();
}

// What the terminal answers, read as the logger would.
QByteArray readTerminal(int fd, const QByteArray &until)
{
    QByteArray answers;
    for (int i = 0; i < 100 && !answers.contains(until); ++i) {
        char bytes[256];
        const ssize_t count = ::read(fd, bytes, sizeof bytes);
        if (count > 0)
            answers.append(bytes, count);
        else
            QTest::qWait(20);
    }
    return answers;
}

TEST_F(LoggerControlTest, EveryInputTakesGoodLinesAfterBadOnes)
{
    LoggerControl control;
    QSignalSpy routes(&control, &LoggerControl::routeRequested);
    control.start(settings);
    ASSERT_EQ(control.tcpPort(), tcpPort);
    ASSERT_EQ(control.udpPort(), udpPort);
    ASSERT_EQ(control.otrspPortName().toStdString(), link.string());

    QTcpSocket tcp;
    tcp.connectToHost(QHostAddress::LocalHost, tcpPort);
    ASSERT_TRUE(tcp.waitForConnected(kWaitMilliseconds));
    tcp.write(QByteArray(100'000, '\x01') + "\r?NAME\rRX2R\r");
    QByteArray answers;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (answers += tcp.readAll()) == "NAMEKALDRA\r"; },
                                kWaitMilliseconds));
    EXPECT_TRUE(routedTo(routes, RemoteRoute::Reverse));
    EXPECT_TRUE(control.loggerConnected());

    // A logger that opens the port, leaves, and the next that opens it.
    for (const char *command : {"RX2\r?RX\r", "RX1\r?RX\r"}) {
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_GT(::write(fd, command, std::strlen(command)), 0);
        const QByteArray expected = QByteArray(command).mid(0, 3) + '\r';
        EXPECT_EQ(readTerminal(fd, expected), expected);
        ::close(fd);
    }
    EXPECT_TRUE(routedTo(routes, RemoteRoute::Rig1));

    QUdpSocket udp;
    udp.writeDatagram("<RadioInfo><IsStereo>False</IsStereo><FocusRadioNr>2</FocusRadioNr>"
                      "<ActiveRadioNr>2</ActiveRadioNr></RadioInfo>",
                      QHostAddress::LocalHost, udpPort);
    EXPECT_TRUE(routedTo(routes, RemoteRoute::Rig2));
    EXPECT_EQ(control.activeRadio(), 2);

    EXPECT_EQ(sendWhileServing("?name RX1S ?RX"), "NAMEKALDRA\nRX1S\n");
    EXPECT_TRUE(routedTo(routes, RemoteRoute::Stereo));
}

TEST_F(LoggerControlTest, BadValuesAndASecondKaldraTurnOnlyTheirInputOff)
{
    LoggerControl first;
    first.start(settings);
    ASSERT_FALSE(first.otrspPortName().isEmpty());

    const std::filesystem::path other = folder / "OTHER.INI";
    writeFile(other, "[CONTROL]\nOTRSP=" + link.string() + "\nOTRSP_TCP=12x\nN1MM_UDP=70000\n");
    {
        LoggerControl second;
        second.start(other);
        EXPECT_TRUE(second.otrspPortName().isEmpty());
        EXPECT_TRUE(second.otrspStatus().contains(QLatin1String("another running KALDRA")));
        EXPECT_EQ(second.tcpPort(), 0);
        EXPECT_EQ(second.udpPort(), 0);
        int messages = 0;
        for (const LoggerControl::LogEntry &entry : second.log())
            messages += entry.text.contains(QLatin1String("OTRSP_TCP=12x")) ||
                        entry.text.contains(QLatin1String("N1MM_UDP=70000"));
        EXPECT_EQ(messages, 2);
    }
    // The second's exit leaves the first's link and command socket alone.
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(sendWhileServing("?NAME"), "NAMEKALDRA\n");
}

TEST_F(LoggerControlTest, ReplacesAStaleLinkAndRemovesItsOwnAtExit)
{
    std::filesystem::create_symlink("/dev/pts/nobody", link);
    {
        LoggerControl control;
        control.start(settings);
        EXPECT_EQ(control.otrspPortName().toStdString(), link.string());
        EXPECT_TRUE(std::filesystem::exists(link)); // leads to a terminal now
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(LoggerControlTest, SendWithNoKaldraRunningSaysSo)
{
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(sendToRunningProgram("RX1", out, err), 1);
    EXPECT_NE(err.str().find("no KALDRA is running"), std::string::npos);
}

TEST_F(LoggerControlTest, AutomationKeysAreCheckedAndTheOperatorsChangesKept)
{
    writeFile(settings, "[CONTROL]\n; mine\nLATCH=1\nBLEND=150\nSTEREO_AFTER=7\n");
    LoggerControl control;
    QSignalSpy latches(&control, &LoggerControl::latchChanged);
    control.start(settings);
    EXPECT_TRUE(control.latch());
    EXPECT_EQ(control.blendPercent(), 0);
    EXPECT_EQ(control.stereoAfterSeconds(), 7);
    int refusals = 0;
    for (const LoggerControl::LogEntry &entry : control.log())
        refusals += entry.text.contains(QLatin1String("BLEND=150"));
    EXPECT_EQ(refusals, 1);

    EXPECT_EQ(sendWhileServing("VLATCH0 ?VLATCH"), "VLATCH0\n");
    ASSERT_EQ(latches.size(), 1);
    EXPECT_FALSE(latches.last().at(0).toBool());
    control.setLatch(true);
    control.setBlendPercent(50);
    EXPECT_EQ(latches.size(), 2);
    EXPECT_EQ(readFile(settings), "[CONTROL]\n; mine\nLATCH=1\nBLEND=50\nSTEREO_AFTER=7\n");
}

TEST_F(LoggerControlTest, ARadioTransmitsWhileAnySourceSaysSo)
{
    LoggerControl control;
    QSignalSpy changes(&control, &LoggerControl::transmitChanged);
    control.start(settings);
    const auto radioInfo = [&](int radio, const char *transmitting) {
        QUdpSocket udp;
        udp.writeDatagram(QStringLiteral("<RadioInfo><ActiveRadioNr>%1</ActiveRadioNr>"
                                         "<IsTransmitting>%2</IsTransmitting></RadioInfo>")
                              .arg(radio)
                              .arg(QLatin1String(transmitting))
                              .toUtf8(),
                          QHostAddress::LocalHost, udpPort);
    };
    radioInfo(2, "True");
    ASSERT_TRUE(QTest::qWaitFor([&] { return control.radioTransmitting(2); }, kWaitMilliseconds));
    control.setTransmitting(TransmitSource::Rig, 2, true);
    radioInfo(2, "False");
    radioInfo(1, "False");
    QTest::qWait(100);
    EXPECT_TRUE(control.radioTransmitting(2)); // the rig still says so
    EXPECT_FALSE(control.radioTransmitting(1));
    control.setTransmitting(TransmitSource::Rig, 2, false);
    EXPECT_FALSE(control.radioTransmitting(2));
    EXPECT_EQ(changes.size(), 2);
}

} // namespace
