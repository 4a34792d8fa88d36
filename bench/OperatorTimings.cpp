#include "OperatorTimings.h"

#include "ErrorBoxWatch.h"
#include "LoggerControl.h"
#include "MainWindow.h"
#include "PulseAudioLibrary.h"
#include "ServerProbe.h"
#include "SimulatedRadios.h"
#include "StepDeadline.h"
#include "ToneAnalysis.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

using namespace SimulatedRadios;

constexpr std::uint32_t kRate = kAnalysisRate;
// A frame louder than this (-40 dB) counts as sound.
constexpr float kSoundLevel = 0.01f;
// Window of the route detector: 10 ms, moved on by 1 ms.
constexpr std::size_t kWindowFrames = kRate / 100;
constexpr std::size_t kStepFrames = kRate / 1000;
constexpr double kHeardDb = kPresentDb;
// How long the program may take to act on a logger's line or datagram.
constexpr std::chrono::milliseconds kProgramTakesMs{2000};
// All of the timings, several times what they take on a busy machine.
constexpr std::chrono::seconds kTimingsLimit{240};

// The radios on the private server, sorted by device name after the
// headphones' monitor; OTRSP on TCP port %1, RadioInfo on UDP port %2, latch
// on, radio 1's transmit state also from a rigctld on port %3.
const char *const kSettings = "[SETTINGS]\nINPUT1=1\nINPUT2=2\nINPUT3=3\nOUTPUT=-1\n"
                              "[CONTROL]\nOTRSP=\nOTRSP_TCP=%1\nN1MM_UDP=%2\nLATCH=1\n"
                              "PTT1=rigctld 127.0.0.1:%3\n";

struct Recording {
    std::vector<float> samples;
    Clock::time_point firstSampleAt;

    Clock::time_point timeOfFrame(std::size_t frame) const
    {
        return firstSampleAt + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(double(frame) / kRate));
    }
};

// Runs `act` (a click, a line from a logger) while the headphones are
// recorded: `seconds` in all, the act 300 ms in. Gives the recording, the
// act's time and how long the act held this thread.
struct ClickHeard {
    Recording heard;
    Clock::time_point clickedAt;
    Milliseconds held;
};

ClickHeard actWhileListening(ServerProbe &probe, const ErrorBoxWatch &errors,
                             const std::function<void()> &act, double seconds)
{
    auto recording = std::async(std::launch::async, [&probe, seconds] {
        Recording result;
        result.samples = probe.record("headphones.monitor", seconds, kRate, &result.firstSampleAt);
        return result;
    });
    QTest::qWait(300);
    ClickHeard click;
    click.clickedAt = Clock::now();
    act();
    click.held = Clock::now() - click.clickedAt;
    while (recording.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QApplication::processEvents();
    click.heard = recording.get();
    errors.throwIfShown();
    if (click.heard.samples.empty())
        throw std::runtime_error("the headphones could not be recorded: " + probe.recordFailure());
    return click;
}

// Handles the program's events as they come until `done` or `limit`. The
// wait for an event is woken at the limit: a line or datagram the program
// never takes must not leave it waiting for one for ever.
void serveUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(limit);
    while (!done() && deadline.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

ClickHeard clickWhileListening(ServerProbe &probe, const ErrorBoxWatch &errors,
                               QAbstractButton &button, double seconds)
{
    return actWhileListening(
        probe, errors, [&button] { QTest::mouseClick(&button, Qt::LeftButton); }, seconds);
}

quint16 freeTcpPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        throw std::runtime_error("no free TCP port");
    return server.serverPort();
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost))
        throw std::runtime_error("no free UDP port");
    return socket.localPort();
}

std::optional<std::size_t> firstSoundFrame(const Recording &recording, Clock::time_point after)
{
    const std::size_t frames = recording.samples.size() / 2;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (recording.timeOfFrame(frame) < after)
            continue;
        if (std::abs(recording.samples[2 * frame]) > kSoundLevel ||
            std::abs(recording.samples[2 * frame + 1]) > kSoundLevel)
            return frame;
    }
    return std::nullopt;
}

// The centre of the first window after `after` in which `hz` is heard in
// `ear` (0 left, 1 right).
std::optional<std::size_t> firstHeardFrame(const Recording &recording, double hz,
                                           Clock::time_point after, int ear)
{
    const std::size_t frames = recording.samples.size() / 2;
    for (std::size_t start = 0; start + kWindowFrames <= frames; start += kStepFrames) {
        const std::size_t centre = start + kWindowFrames / 2;
        if (recording.timeOfFrame(centre) < after)
            continue;
        const std::vector<float> window(recording.samples.begin() + 2 * start,
                                        recording.samples.begin() + 2 * (start + kWindowFrames));
        if (toneDb(window, ear, hz, kRate) > kHeardDb)
            return centre;
    }
    return std::nullopt;
}

// From the act to `hz` heard in `ear` (the right one unless said), in ms;
// `unheard` when it never is.
double heardDelay(const ClickHeard &act, double hz, const char *unheard, int ear = 1)
{
    const auto frame = firstHeardFrame(act.heard, hz, act.clickedAt, ear);
    if (!frame)
        throw std::runtime_error(unheard);
    return Milliseconds(act.heard.timeOfFrame(*frame) - act.clickedAt).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void print(const char *name, double value)
{
    std::printf("%s=%.1f\n", name, value);
}

template <typename Control> Control &control(QWidget &window, const char *name)
{
    auto *found = window.findChild<Control *>(name);
    if (found == nullptr)
        throw std::runtime_error(std::string("the window has no ") + name);
    return *found;
}

} // namespace

int runOperatorTimings(Clock::time_point processStart, int argc, char *argv[])
{
    // Declared first, so that it also bounds closing the window and the
    // application.
    StepDeadline deadline("the operator timings", kTimingsLimit);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    deadline.step("opening the window");
    QApplication application(argc, argv);
    try {
        QTemporaryDir folder;
        QFile settings(QDir(folder.path()).filePath("KALDRA.INI"));
        const quint16 otrspPort = freeTcpPort();
        const quint16 radioInfoPort = freeUdpPort();
        const quint16 rigPort = freeTcpPort();
        if (!folder.isValid() || !settings.open(QIODevice::WriteOnly) ||
            settings.write(QString::fromLatin1(kSettings)
                               .arg(otrspPort)
                               .arg(radioInfoPort)
                               .arg(rigPort)
                               .toLatin1()) < 0)
            throw std::runtime_error("no settings folder");
        settings.close();
        // The command socket of `kaldra --send` goes in the bench's own folder.
        qputenv("XDG_RUNTIME_DIR", folder.path().toLocal8Bit());

        QProcess rigctld;
        rigctld.start("rigctld", {"-m", "1", "-P", "RIG", "-t", QString::number(rigPort)});
        if (!rigctld.waitForStarted(5000))
            throw std::runtime_error("no rigctld (scripts/setup.sh installs it)");

        PulseAudioLibrary library;
        const ErrorBoxWatch errors;
        TForm1 window(library, folder.path().toStdString(), {});
        // An audio failure ends the program once its box is closed; here it
        // ends the timings, with the box's text.
        window.SetProcessEnd([](int) {});
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            throw std::runtime_error("the window was not shown");
        print("startup_window_ms", Milliseconds(Clock::now() - processStart).count());

        ServerProbe probe;
        deadline.step("the power-on timings");
        auto &power = control<QAbstractButton>(window, "LedPower");
        std::vector<double> soundDelays, powerHolds;
        for (int i = 0; i < 5; ++i) {
            const ClickHeard on = clickWhileListening(probe, errors, power, 1.0);
            const auto frame = firstSoundFrame(on.heard, on.clickedAt);
            if (!frame)
                throw std::runtime_error("no sound after power-on");
            soundDelays.push_back(
                Milliseconds(on.heard.timeOfFrame(*frame) - on.clickedAt).count());
            powerHolds.push_back(on.held.count());
            QTest::mouseClick(&power, Qt::LeftButton);
            QTest::qWait(200);
        }

        QTest::mouseClick(&power, Qt::LeftButton);
        QTest::qWait(500);
        auto &rig1 = control<QAbstractButton>(window, "LedRig1");
        auto &rig12 = control<QAbstractButton>(window, "LedRig12");
        std::vector<double> heardDelays, commandHolds;
        deadline.step("the route timings");
        for (int i = 0; i < 6; ++i) {
            // Rig1 brings radio 1 to the right ear, Rig1+2 radio 2 back.
            const bool toRig1 = i % 2 == 0;
            const ClickHeard route = clickWhileListening(probe, errors, toRig1 ? rig1 : rig12, 0.8);
            heardDelays.push_back(
                heardDelay(route, toRig1 ? kRadio1Hz : kRadio2Hz, "the new route was not heard"));
            commandHolds.push_back(route.held.count());
        }

        // The same two routes asked for by a logger over TCP: from the line
        // written to the new radio heard. The wait for the program to take
        // the line is part of the act, so no polling delay of ours is counted.
        deadline.step("the OTRSP timings");
        QTcpSocket logger;
        logger.connectToHost(QHostAddress::LocalHost, otrspPort);
        if (!logger.waitForConnected(2000))
            throw std::runtime_error("the OTRSP TCP port " + std::to_string(otrspPort) +
                                     " does not answer (" + logger.errorString().toStdString() +
                                     "); the program's is " +
                                     std::to_string(window.Logger().tcpPort()));
        std::vector<double> otrspDelays;
        for (int i = 0; i < 6; ++i) {
            const bool toRig1 = i % 2 == 0;
            const TSO2RState target = toRig1 ? ddLeft : ddCenter;
            const ClickHeard route = actWhileListening(
                probe, errors,
                [&] {
                    logger.write(toRig1 ? "RX1\r" : "RX1S\r");
                    logger.flush();
                    serveUntil([&] { return window.SO2R() == target; }, kProgramTakesMs);
                },
                0.8);
            otrspDelays.push_back(heardDelay(route, toRig1 ? kRadio1Hz : kRadio2Hz,
                                             "the route a logger asked for was not heard"));
        }

        // Latch on Rig1: radio 1's transmission, told by a RadioInfo
        // datagram, brings radio 2 to the right ear; its end radio 1 back.
        deadline.step("the latch timings");
        QTest::mouseClick(&rig1, Qt::LeftButton);
        QUdpSocket radioInfo;
        std::vector<double> latchDelays;
        for (int i = 0; i < 6; ++i) {
            const bool transmitting = i % 2 == 0;
            const ClickHeard latched = actWhileListening(
                probe, errors,
                [&] {
                    radioInfo.writeDatagram(
                        QStringLiteral("<RadioInfo><ActiveRadioNr>1</ActiveRadioNr>"
                                       "<IsTransmitting>%1</IsTransmitting></RadioInfo>")
                            .arg(transmitting ? u"True" : u"False")
                            .toUtf8(),
                        QHostAddress::LocalHost, radioInfoPort);
                    serveUntil([&] { return window.Logger().radioTransmitting(1) == transmitting; },
                               kProgramTakesMs);
                },
                0.8);
            latchDelays.push_back(heardDelay(latched, transmitting ? kRadio2Hz : kRadio1Hz,
                                             "the latched route was not heard"));
        }

        // Radio 1's PTT set on Hamlib's dummy rig brings radio 2 to the left
        // ear (latched on Rig1), as a logger keying the rig would: from the line sent to rigctld
        // to the radio heard. (rigctld's dummy takes 50 ms to clear its PTT,
        // so only setting it is timed.)
        deadline.step("the rig PTT timings");
        QTcpSocket rigctl;
        rigctl.connectToHost(QHostAddress::LocalHost, rigPort);
        if (!rigctl.waitForConnected(2000))
            throw std::runtime_error("rigctld does not answer on its port");
        if (!QTest::qWaitFor([&] { return window.Logger().rigStatus(1).endsWith("answering"); },
                             5000))
            throw std::runtime_error("the program reads no rig: " +
                                     window.Logger().rigStatus(1).toStdString());
        const auto setPtt = [&rigctl](bool on) {
            rigctl.write(on ? "T 1\n" : "T 0\n");
            while (!rigctl.canReadLine() && rigctl.waitForReadyRead(2000)) {
            }
            rigctl.readAll();
        };
        std::vector<double> rigDelays;
        for (int i = 0; i < 6; ++i) {
            const ClickHeard keyed = actWhileListening(
                probe, errors, [&] { setPtt(true); }, 0.8);
            rigDelays.push_back(
                heardDelay(keyed, kRadio2Hz, "the rig's transmit state was not heard", 0));
            setPtt(false);
            QTest::qWait(300);
        }
        deadline.step("closing the window");
        rigctld.kill();
        rigctld.waitForFinished(2000);
        QTest::mouseClick(&power, Qt::LeftButton);

        print("poweron_sound_ms", median(soundDelays));
        print("route_heard_ms", median(heardDelays));
        print("otrsp_route_heard_ms", median(otrspDelays));
        print("latch_heard_ms", median(latchDelays));
        print("rig_ptt_heard_ms", median(rigDelays));
        print("command_ui_ms", median(commandHolds));
        print("command_ui_max_ms", *std::max_element(commandHolds.begin(), commandHolds.end()));
        print("poweron_ui_ms", median(powerHolds));
        return 0;
    } catch (const std::exception &error) {
        std::printf("# the operator timings measured nothing: %s\n", error.what());
        return 1;
    }
}
