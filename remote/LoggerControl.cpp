#include "LoggerControl.h"

#include "CommandServer.h"
#include "IniFile.h"
#include "IntegerConversion.h"
#include "OtrspPseudoTerminal.h"
#include "OtrspTcpServer.h"
#include "RadioInfoListener.h"
#include "RuntimeFolder.h"
#include "SettingsError.h"

#include <algorithm>
#include <iostream>

namespace {

constexpr const char *kSection = "CONTROL";
// A value can hold no line break, so this default tells a missing key.
constexpr const char *kMissing = "\n";
constexpr qint64 kLoggerQuietMilliseconds = 30'000;
const QString kOwnSource = QStringLiteral("KALDRA");
const QString kUdpSource = QStringLiteral("N1MM UDP");
constexpr int kMaxStereoAfterSeconds = 86'400; // a day

// A TCP client's coming and going is logged; the pseudo-terminal's far side
// and each kaldra --send are always there or too brief to tell.
bool isTcpClient(const QString &source)
{
    return source.startsWith(QLatin1String(OtrspTcpServer::kSourcePrefix));
}

// The line as the log shows it: control characters and bytes beyond ASCII as \xNN.
QString visible(std::string_view line)
{
    QString text;
    text.reserve(static_cast<qsizetype>(line.size()));
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f)
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(c);
    }
    return text;
}

QString routeName(RemoteRoute route)
{
    switch (route) {
    case RemoteRoute::Rig1:
        return QStringLiteral("radio 1");
    case RemoteRoute::Rig2:
        return QStringLiteral("the second radio");
    case RemoteRoute::Stereo:
        return QStringLiteral("stereo");
    case RemoteRoute::Reverse:
        return QStringLiteral("reverse stereo");
    }
    return {};
}

} // namespace

LoggerControl::LoggerControl(QObject *parent) : QObject(parent) {}

LoggerControl::~LoggerControl()
{
    // The adapters call back into this object as they close: they go first.
    stopping_ = true;
    commandServer_.reset();
    udpListener_.reset();
    tcpServer_.reset();
    terminal_.reset();
}

void LoggerControl::start(const std::filesystem::path &settingsFile)
{
    settingsFile_ = settingsFile;
    readAutomation(settingsFile);
    startRig(settingsFile, 1);
    startRig(settingsFile, 2);
    const RuntimeFolder runtime = kaldraRuntimeFolder();
    if (!runtime.note.isEmpty())
        report(runtime.note);

    startPseudoTerminal(settingsFile, runtime.path);

    if (const quint16 port = startPort(settingsFile, "OTRSP_TCP", QStringLiteral("OTRSP TCP"))) {
        tcpServer_ = std::make_unique<OtrspTcpServer>(static_cast<OtrspLineHandler &>(*this));
        if (const QString problem = tcpServer_->listen(port); problem.isEmpty()) {
            tcpPort_ = port;
            append(kOwnSource, false, QStringLiteral("OTRSP on TCP 127.0.0.1:%1").arg(port));
        } else {
            tcpServer_.reset();
            report(QStringLiteral("OTRSP TCP off: %1").arg(problem));
        }
    }

    if (const quint16 port = startPort(settingsFile, "N1MM_UDP", QStringLiteral("N1MM UDP"))) {
        udpListener_ = std::make_unique<RadioInfoListener>();
        connect(udpListener_.get(), &RadioInfoListener::datagramReceived, this,
                &LoggerControl::handleDatagram);
        if (const QString problem = udpListener_->listen(port); problem.isEmpty()) {
            udpPort_ = port;
            append(kOwnSource, false, QStringLiteral("N1MM RadioInfo on UDP port %1").arg(port));
        } else {
            udpListener_.reset();
            report(QStringLiteral("N1MM UDP off: %1").arg(problem));
        }
    }

    if (!runtime.path.empty()) {
        commandServer_ = std::make_unique<CommandServer>(static_cast<OtrspLineHandler &>(*this));
        if (const QString problem = commandServer_->listen(runtime.path / kCommandSocketName);
            !problem.isEmpty()) {
            commandServer_.reset();
            report(QStringLiteral("kaldra --send off: %1").arg(problem));
        }
    } else {
        report(QStringLiteral("kaldra --send off: no private folder for its socket"));
    }
    emit logChanged();
}

void LoggerControl::startPseudoTerminal(const std::filesystem::path &settingsFile,
                                        const std::filesystem::path &runtimeFolder)
{
    const std::string value = IniFile(settingsFile).readString(kSection, "OTRSP", kMissing);
    std::filesystem::path link;
    if (value == kMissing) {
        if (runtimeFolder.empty()) {
            otrspStatus_ = QStringLiteral("off: no private folder for the link");
            report(QStringLiteral("OTRSP pseudo-terminal %1").arg(otrspStatus_));
            return;
        }
        link = runtimeFolder / "otrsp";
    } else if (value.empty()) {
        otrspStatus_ = QStringLiteral("off (OTRSP= is empty)");
        return;
    } else {
        link = std::filesystem::path(value);
        if (link.is_relative())
            link = std::filesystem::absolute(settingsFile).parent_path() / link;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(link.parent_path(), error)) {
        otrspStatus_ = QStringLiteral("off: OTRSP=%1: the folder %2 does not exist")
                           .arg(visible(value), QString::fromStdString(link.parent_path()));
        report(QStringLiteral("OTRSP pseudo-terminal %1").arg(otrspStatus_));
        return;
    }
    terminal_ = std::make_unique<OtrspPseudoTerminal>(static_cast<OtrspLineHandler &>(*this));
    const std::filesystem::path lockFolder =
        runtimeFolder.empty() ? link.parent_path() : runtimeFolder;
    if (const QString problem = terminal_->open(link, lockFolder); !problem.isEmpty()) {
        terminal_.reset();
        otrspStatus_ = QStringLiteral("off: %1").arg(problem);
        report(QStringLiteral("OTRSP pseudo-terminal %1").arg(otrspStatus_));
        return;
    }
    otrspPortName_ = QString::fromStdString(link.string());
    otrspStatus_ = QStringLiteral("ready: %1 is %2").arg(otrspPortName_, terminal_->terminalName());
    append(kOwnSource, false, QStringLiteral("OTRSP pseudo-terminal %1").arg(otrspStatus_));
}

quint16 LoggerControl::startPort(const std::filesystem::path &settingsFile, const char *key,
                                 const QString &what)
{
    const auto port =
        readNumber(settingsFile, key, 0, 65535,
                   QStringLiteral("%1 off: %2=%3 is not a port number (1 to 65535, 0 for off)")
                       .arg(what, QString::fromLatin1(key)));
    return static_cast<quint16>(port.value_or(0));
}

void LoggerControl::readAutomation(const std::filesystem::path &settingsFile)
{
    if (const auto latch =
            readNumber(settingsFile, "LATCH", 0, 1,
                       QStringLiteral("latch off: LATCH=%1 is neither 0 (off) nor 1 (on)")))
        device_.setLatch(*latch == 1);
    blendPercent_ = readNumber(settingsFile, "BLEND", 0, 100,
                               QStringLiteral("blend off: BLEND=%1 is not a percentage (0 to 100)"))
                        .value_or(0);
    stereoAfterSeconds_ =
        readNumber(settingsFile, "STEREO_AFTER", 0, kMaxStereoAfterSeconds,
                   QStringLiteral("return to stereo off: STEREO_AFTER=%1 is not a number of "
                                  "seconds (0 for off, at most 86400)"))
            .value_or(0);
}

void LoggerControl::startRig(const std::filesystem::path &settingsFile, int radio)
{
    const char *key = radio == 1 ? "PTT1" : "PTT2";
    const std::string value = IniFile(settingsFile).readString(kSection, key, "");
    if (value.find_first_not_of(" \t") == std::string::npos)
        return;
    const QString rig = QStringLiteral("rig of radio %1").arg(radio);
    const RigAddress::Parsed parsed = RigAddress::parse(value);
    if (!parsed.address) {
        rigsOff_[radio - 1] = QStringLiteral("off: %1=%2 %3")
                                  .arg(QString::fromLatin1(key), visible(value), parsed.problem);
        report(QStringLiteral("%1 %2").arg(rig, rigsOff_[radio - 1]));
        return;
    }
    auto &monitor = rigs_[radio - 1];
    monitor = std::make_unique<RigPttMonitor>(*parsed.address);
    connect(monitor.get(), &RigPttMonitor::pttChanged, this,
            [this, radio](bool on) { setTransmitting(TransmitSource::Rig, radio, on); });
    connect(monitor.get(), &RigPttMonitor::statusChanged, this, [this, rig](const QString &status) {
        append(kOwnSource, false, QStringLiteral("%1: %2").arg(rig, status));
        emit logChanged();
    });
    append(kOwnSource, false, QStringLiteral("%1: %2").arg(rig, monitor->status()));
}

QString LoggerControl::rigStatus(int radio) const
{
    if (radio < 1 || radio > 2)
        return {};
    const auto &monitor = rigs_[radio - 1];
    return monitor ? monitor->status() : rigsOff_[radio - 1];
}

// `refusal` holds %1 for the value as it stands in the file.
std::optional<int> LoggerControl::readNumber(const std::filesystem::path &settingsFile,
                                             const char *key, int least, int most,
                                             const QString &refusal)
{
    const std::string value = IniFile(settingsFile).readString(kSection, key, kMissing);
    if (value == kMissing)
        return std::nullopt;
    std::int32_t number = 0;
    try {
        number = convertToInteger(value);
    } catch (const SettingsError &) {
        number = least - 1;
    }
    if (number < least || number > most) {
        report(refusal.arg(visible(value)));
        return std::nullopt;
    }
    return number;
}

void LoggerControl::writeBack(const char *key, int value)
{
    if (settingsFile_.empty())
        return;
    if (!IniFile(settingsFile_).writeString(kSection, key, std::to_string(value)))
        report(QStringLiteral("%1=%2 could not be written to %3")
                   .arg(QString::fromLatin1(key), QString::number(value),
                        QString::fromStdString(settingsFile_.string())));
}

void LoggerControl::showRoute(RemoteRoute route, bool byOperator)
{
    sendEvents(device_.showRoute(route, byOperator));
}

int LoggerControl::openClient(const QString &source, Send send)
{
    const int client = device_.addClient();
    clients_[client] = Client{source, std::move(send)};
    if (isTcpClient(source)) {
        append(source, true, QStringLiteral("(connected)"));
        emit logChanged();
    }
    return client;
}

void LoggerControl::closeClient(int client, const QString &reason)
{
    if (stopping_)
        return;
    const auto found = clients_.find(client);
    if (found == clients_.end())
        return;
    if (isTcpClient(found->second.source) || !reason.isEmpty()) {
        append(found->second.source, false,
               reason.isEmpty() ? QStringLiteral("(disconnected)") : reason);
        emit logChanged();
    }
    device_.removeClient(client);
    clients_.erase(found);
}

void LoggerControl::handleLines(int client, const std::vector<std::string> &lines)
{
    const auto found = clients_.find(client);
    if (found == clients_.end())
        return;
    const Client &sender = found->second;
    if (sender.source == QLatin1String(OtrspPseudoTerminal::kSource))
        sinceTerminalLine_.start();

    // A batch asks for its last route only, and a toggle twice is no toggle.
    std::optional<RemoteRoute> route;
    std::optional<int> transmitFocus;
    bool muteToggle = false;
    bool powerToggle = false;
    const bool latchBefore = device_.latch();
    std::string answers;
    for (const std::string &line : lines) {
        if (line.empty())
            continue;
        append(sender.source, true, visible(line));
        OtrspOutcome outcome = device_.handleLine(client, line);
        if (!outcome.answer.empty()) {
            append(sender.source, false,
                   visible(outcome.answer.substr(0, outcome.answer.size() - 1)));
            answers += outcome.answer;
        }
        sendEvents(outcome.events);
        if (outcome.route)
            route = outcome.route;
        if (outcome.transmitFocus)
            transmitFocus = outcome.transmitFocus;
        muteToggle ^= outcome.muteToggle;
        powerToggle ^= outcome.powerToggle;
    }
    if (!answers.empty()) {
        // Sending may drop a client that reads nothing, and its entry with it.
        const Send send = sender.send;
        send(QByteArray::fromStdString(answers));
    }
    emit logChanged();
    if (transmitFocus)
        emit transmitFocusChanged(*transmitFocus);
    if (route)
        emit routeRequested(*route);
    if (muteToggle)
        emit muteToggleRequested();
    if (powerToggle)
        emit powerToggleRequested();
    if (device_.latch() != latchBefore)
        emit latchChanged(device_.latch());
}

void LoggerControl::sendEvents(const std::vector<OtrspEvent> &events)
{
    for (const OtrspEvent &event : events) {
        const auto found = clients_.find(event.client);
        if (found == clients_.end())
            continue;
        append(found->second.source, false, visible(event.text.substr(0, event.text.size() - 1)));
        // Sending may drop a client that reads nothing; the map entry goes then.
        const Send send = found->second.send;
        send(QByteArray::fromStdString(event.text));
    }
    if (!events.empty())
        emit logChanged();
}

void LoggerControl::handleDatagram(const QByteArray &datagram)
{
    sinceDatagram_.start();
    const RadioInfoReader::Outcome outcome = radioInfo_.read(datagram);
    if (!outcome.problem.isEmpty()) {
        append(kUdpSource, true, outcome.problem);
        emit logChanged();
        return;
    }
    if (outcome.route) {
        append(kUdpSource, true, QStringLiteral("RadioInfo: %1").arg(routeName(*outcome.route)));
        emit logChanged();
        emit routeRequested(*outcome.route);
    }
    if (outcome.radioInfo)
        setTransmitting(TransmitSource::RadioInfo, radioInfo_.activeRadio(),
                        radioInfo_.transmitting());
}

bool LoggerControl::radioTransmitting(int radio) const
{
    if (radio < 1 || radio > 2)
        return false;
    return transmitting_[0][radio - 1] || transmitting_[1][radio - 1];
}

void LoggerControl::setTransmitting(TransmitSource source, int radio, bool on)
{
    if (radio < 1 || radio > 2)
        return;
    const bool before = radioTransmitting(radio);
    transmitting_[static_cast<int>(source)][radio - 1] = on;
    if (radioTransmitting(radio) == before)
        return;
    append(kOwnSource, false,
           on ? QStringLiteral("radio %1 transmits").arg(radio)
              : QStringLiteral("radio %1 receives").arg(radio));
    emit logChanged();
    emit transmitChanged();
}

void LoggerControl::setLatch(bool on)
{
    if (on == device_.latch())
        return;
    device_.setLatch(on);
    writeBack("LATCH", on ? 1 : 0);
    emit latchChanged(on);
}

int LoggerControl::blendPercent() const
{
    return blendPercent_;
}

void LoggerControl::setBlendPercent(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == blendPercent_)
        return;
    blendPercent_ = percent;
    writeBack("BLEND", percent);
    emit blendChanged(percent);
}

int LoggerControl::stereoAfterSeconds() const
{
    return stereoAfterSeconds_;
}

void LoggerControl::append(const QString &source, bool received, const QString &text)
{
    log_.push_back(LogEntry{QDateTime::currentDateTime(), source, received, text});
    while (log_.size() > static_cast<std::size_t>(kLogLines))
        log_.pop_front();
}

void LoggerControl::report(const QString &message)
{
    std::cerr << "kaldra: " << message.toLocal8Bit().constData() << std::endl;
    append(kOwnSource, false, message);
}

int LoggerControl::transmitFocus() const
{
    return device_.transmitFocus();
}
bool LoggerControl::latch() const
{
    return device_.latch();
}
bool LoggerControl::mono() const
{
    return device_.mono();
}
int LoggerControl::activeRadio() const
{
    return radioInfo_.activeRadio();
}
bool LoggerControl::transmitting() const
{
    return radioInfo_.transmitting();
}
QString LoggerControl::otrspPortName() const
{
    return otrspPortName_;
}
QString LoggerControl::otrspStatus() const
{
    return otrspStatus_;
}
quint16 LoggerControl::tcpPort() const
{
    return tcpPort_;
}
quint16 LoggerControl::udpPort() const
{
    return udpPort_;
}

bool LoggerControl::loggerConnected() const
{
    for (const auto &[client, info] : clients_)
        if (isTcpClient(info.source))
            return true;
    const auto lately = [](const QElapsedTimer &since) {
        return since.isValid() && since.elapsed() < kLoggerQuietMilliseconds;
    };
    return lately(sinceTerminalLine_) || lately(sinceDatagram_);
}

const std::deque<LoggerControl::LogEntry> &LoggerControl::log() const
{
    return log_;
}
