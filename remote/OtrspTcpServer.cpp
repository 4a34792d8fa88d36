#include "OtrspTcpServer.h"

#include "OtrspStreamClient.h"

#include <QTcpSocket>

OtrspTcpServer::OtrspTcpServer(OtrspLineHandler &handler, QObject *parent)
    : QObject(parent), handler_(handler)
{
    connect(&server_, &QTcpServer::newConnection, this, &OtrspTcpServer::acceptClients);
}

QString OtrspTcpServer::listen(quint16 port)
{
    if (server_.listen(QHostAddress::LocalHost, port))
        return {};
    return QStringLiteral("cannot listen on TCP port %1 of 127.0.0.1: %2")
        .arg(port)
        .arg(server_.errorString());
}

void OtrspTcpServer::acceptClients()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        const QString source = QStringLiteral("%1 %2:%3")
                                   .arg(QLatin1String(kSourcePrefix))
                                   .arg(socket->peerAddress().toString())
                                   .arg(socket->peerPort());
        new OtrspStreamClient(socket, source, handler_, OtrspStreamClient::Batch::None, this);
    }
}
