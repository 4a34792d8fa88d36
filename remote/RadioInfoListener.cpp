#include "RadioInfoListener.h"

#include <QNetworkDatagram>
#include <QTimer>

RadioInfoListener::RadioInfoListener(QObject *parent) : QObject(parent)
{
    connect(&socket_, &QUdpSocket::readyRead, this, &RadioInfoListener::readBatch);
}

QString RadioInfoListener::listen(quint16 port)
{
    if (socket_.bind(QHostAddress::AnyIPv4, port,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return {};
    return QStringLiteral("cannot listen on UDP port %1: %2").arg(port).arg(socket_.errorString());
}

void RadioInfoListener::readBatch()
{
    readScheduled_ = false;
    for (int i = 0; i < kBatchDatagrams && socket_.hasPendingDatagrams(); ++i)
        emit datagramReceived(socket_.receiveDatagram().data());
    if (socket_.hasPendingDatagrams() && !readScheduled_) {
        readScheduled_ = true;
        QTimer::singleShot(0, this, &RadioInfoListener::readBatch);
    }
}
