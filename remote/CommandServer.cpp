#include "CommandServer.h"

#include "OtrspStreamClient.h"

#include <QLocalSocket>

namespace {

constexpr int kProbeMilliseconds = 300;

bool someoneAnswers(const QString &path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    return probe.waitForConnected(kProbeMilliseconds);
}

} // namespace

CommandServer::CommandServer(OtrspLineHandler &handler, QObject *parent)
    : QObject(parent), handler_(handler)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &CommandServer::acceptClients);
}

QString CommandServer::listen(const std::filesystem::path &socketPath)
{
    const QString path = QString::fromStdString(socketPath.string());
    if (server_.listen(path))
        return {};
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        if (someoneAnswers(path))
            return QStringLiteral("another KALDRA is running and answers on %1; kaldra --send "
                                  "reaches that one")
                .arg(path);
        QLocalServer::removeServer(path);
        if (server_.listen(path))
            return {};
    }
    return QStringLiteral("cannot listen on %1: %2").arg(path, server_.errorString());
}

void CommandServer::acceptClients()
{
    while (QLocalSocket *socket = server_.nextPendingConnection())
        new OtrspStreamClient(socket, QString::fromLatin1(kSource), handler_,
                              OtrspStreamClient::Batch::EndsWithEmptyLine, this);
}
