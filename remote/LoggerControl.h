#pragma once

#include "OtrspDevice.h"
#include "OtrspLineHandler.h"
#include "RadioInfoReader.h"
#include "RemoteRoute.h"
#include "RigPttMonitor.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

class CommandServer;
class OtrspPseudoTerminal;
class OtrspTcpServer;
class RadioInfoListener;

// Who said that a radio transmits: the logger's RadioInfo datagrams or the rig itself.
enum class TransmitSource { RadioInfo, Rig };

// Lets contest loggers drive KALDRA: the OTRSP device on a pseudo-terminal and
// on TCP, N1MM's RadioInfo datagrams, and the local command socket that
// `kaldra --send` reaches. Set in section [CONTROL] of the settings file.
// Reports what was asked for as signals; the window runs the commands. Used on
// the user-interface thread only.
class LoggerControl : public QObject, private OtrspLineHandler {
    Q_OBJECT
  public:
    struct LogEntry {
        QDateTime time;
        QString source; // "OTRSP pty", "OTRSP TCP 127.0.0.1:50412", "N1MM UDP", "kaldra --send",
                        // "KALDRA"
        bool received;  // true: from the logger; false: sent to it, or a message of KALDRA's own
        QString text;   // the line, control characters made visible
    };
    static constexpr int kLogLines = 200;

    explicit LoggerControl(QObject *parent = nullptr);
    ~LoggerControl() override; // closes every input and removes the link it made

    // Reads section [CONTROL] of `settingsFile` (OTRSP=, OTRSP_TCP=, N1MM_UDP=,
    // LATCH=, BLEND=, STEREO_AFTER=, PTT1=, PTT2=; missing keys give the
    // defaults) and opens those inputs, plus the local
    // command socket. A value that makes no sense turns that one input off, with
    // a clear message on standard error and in the log; the rest goes on. Never
    // throws, never blocks long.
    void start(const std::filesystem::path &settingsFile);

    // The route the headphones now play (what ?RX answers). byOperator: the
    // operator made the change, so each client that sent ERX1 is sent "$RX…".
    void showRoute(RemoteRoute route, bool byOperator);

    int transmitFocus() const; // 1 or 2 (TX1 / TX2)
    bool latch() const;        // VLATCH1, LATCH=1 or the operator's switch
    bool mono() const;         // VMONO1
    int activeRadio() const;   // RadioInfo ActiveRadioNr of the last datagram, 0 before any
    bool transmitting() const; // RadioInfo IsTransmitting of the last datagram

    QString otrspPortName() const; // the link to give the logger; empty when off
    QString otrspStatus() const;   // one line: off, ready, or why it could not be made
    quint16 tcpPort() const;       // 0: off
    quint16 udpPort() const;       // 0: off
    // Whether radio 1 or 2 (2: the second radio, whether 2 or 3 is chosen)
    // transmits now, by any source.
    bool radioTransmitting(int radio) const;
    // Records what one source says of one radio; emits transmitChanged() when
    // radioTransmitting() of either radio changes as a result.
    void setTransmitting(TransmitSource source, int radio, bool on);
    // The rig read for radio 1 or 2 (PTT1=, PTT2=): "off", "off: <why>" or
    // what its monitor says, e.g. "rigctld localhost:4532: answering".
    QString rigStatus(int radio) const;

    // The operator's changes; each is written back to [CONTROL].
    void setLatch(bool on);
    int blendPercent() const;          // how much of the other radio each ear hears in stereo
    void setBlendPercent(int percent); // 0 to 100
    int stereoAfterSeconds() const;    // back to stereo after this long on one radio; 0: never

    bool loggerConnected() const;            // a TCP client, a line on the pty or a datagram lately
    const std::deque<LogEntry> &log() const; // the last kLogLines lines, oldest first

  signals:
    void routeRequested(RemoteRoute route); // RX… from any client, RadioInfo, kaldra --send
    void muteToggleRequested();             // VMUTE
    void powerToggleRequested();            // VPOWER
    void transmitFocusChanged(int radio);   // TX1 / TX2
    void logChanged();                      // a line was logged or the status changed
    void transmitChanged();                 // radioTransmitting() of a radio changed
    void latchChanged(bool on);             // VLATCH1 / VLATCH0, or setLatch()
    void blendChanged(int percent);

  private:
    struct Client {
        QString source;
        Send send;
    };

    int openClient(const QString &source, Send send) override;
    void closeClient(int client, const QString &reason) override;
    void handleLines(int client, const std::vector<std::string> &lines) override;
    void handleDatagram(const QByteArray &datagram);
    void sendEvents(const std::vector<OtrspEvent> &events);

    void startPseudoTerminal(const std::filesystem::path &settingsFile,
                             const std::filesystem::path &runtimeFolder);
    quint16 startPort(const std::filesystem::path &settingsFile, const char *key,
                      const QString &what);
    void readAutomation(const std::filesystem::path &settingsFile);
    void startRig(const std::filesystem::path &settingsFile, int radio);
    std::optional<int> readNumber(const std::filesystem::path &settingsFile, const char *key,
                                  int least, int most, const QString &refusal);
    void writeBack(const char *key, int value);
    void append(const QString &source, bool received, const QString &text);
    void report(const QString &message); // on standard error and in the log

    OtrspDevice device_;
    RadioInfoReader radioInfo_;
    std::map<int, Client> clients_;
    std::deque<LogEntry> log_;
    QString otrspPortName_;
    QString otrspStatus_ = QStringLiteral("off");
    quint16 tcpPort_ = 0;
    quint16 udpPort_ = 0;
    QElapsedTimer sinceTerminalLine_;
    QElapsedTimer sinceDatagram_;
    bool stopping_ = false;
    std::filesystem::path settingsFile_;
    bool transmitting_[2][2] = {}; // [source][radio - 1]
    int blendPercent_ = 0;
    int stereoAfterSeconds_ = 0;
    std::unique_ptr<OtrspPseudoTerminal> terminal_;
    std::unique_ptr<OtrspTcpServer> tcpServer_;
    std::unique_ptr<RadioInfoListener> udpListener_;
    std::unique_ptr<CommandServer> commandServer_;
    std::array<std::unique_ptr<RigPttMonitor>, 2> rigs_; // [radio - 1]; null: off
    std::array<QString, 2> rigsOff_{QStringLiteral("off"), QStringLiteral("off")}; // why
};
