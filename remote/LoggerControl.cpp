#include "LoggerControl.h"

LoggerControl::LoggerControl(QObject *parent) : QObject(parent) {}

LoggerControl::~LoggerControl() = default;

void LoggerControl::start(const std::filesystem::path &) {}

void LoggerControl::showRoute(RemoteRoute, bool) {}

int LoggerControl::transmitFocus() const { return 1; }
bool LoggerControl::latch() const { return false; }
bool LoggerControl::mono() const { return false; }
int LoggerControl::activeRadio() const { return 0; }
bool LoggerControl::transmitting() const { return false; }
QString LoggerControl::otrspPortName() const { return {}; }
QString LoggerControl::otrspStatus() const { return QStringLiteral("off"); }
quint16 LoggerControl::tcpPort() const { return 0; }
quint16 LoggerControl::udpPort() const { return 0; }
bool LoggerControl::loggerConnected() const { return false; }
const std::deque<LoggerControl::LogEntry> &LoggerControl::log() const { return log_; }
