#include "OtrspStreamClient.h"

#include <QAbstractSocket>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <algorithm>

OtrspStreamClient::OtrspStreamClient(QIODevice *socket, const QString &source,
                                     OtrspLineHandler &handler, Batch batch, QObject *parent)
    : QObject(parent), socket_(socket), handler_(handler), batch_(batch)
{
    socket_->setParent(this);
    const QPointer<OtrspStreamClient> self(this);
    client_ = handler_.openClient(source, [self](const QByteArray &bytes) {
        if (self)
            self->send(bytes);
    });
    connect(socket_, &QIODevice::readyRead, this, &OtrspStreamClient::readChunk);
    if (auto *tcp = qobject_cast<QAbstractSocket *>(socket_)) {
        tcp->setReadBufferSize(kChunkBytes * 4);
        connect(tcp, &QAbstractSocket::disconnected, this, &OtrspStreamClient::close);
    } else if (auto *local = qobject_cast<QLocalSocket *>(socket_)) {
        local->setReadBufferSize(kChunkBytes * 4);
        connect(local, &QLocalSocket::disconnected, this, &OtrspStreamClient::close);
    }
    readChunk();
}

OtrspStreamClient::~OtrspStreamClient()
{
    if (!closed_)
        handler_.closeClient(client_, {});
}

void OtrspStreamClient::readChunk()
{
    readScheduled_ = false;
    if (closed_)
        return;
    const QByteArray bytes = socket_->read(kChunkBytes);
    std::vector<std::string> lines =
        reader_.feed(std::string_view(bytes.constData(), bytes.size()));
    bool batchEnded = false;
    if (batch_ == Batch::EndsWithEmptyLine) {
        const auto end = std::find(lines.begin(), lines.end(), std::string());
        batchEnded = end != lines.end();
        lines.erase(end, lines.end());
    }
    if (!lines.empty())
        handler_.handleLines(client_, lines);
    if (closed_)
        return;
    if (batchEnded) {
        // Answers written first: the client reads until the connection ends.
        if (auto *local = qobject_cast<QLocalSocket *>(socket_))
            local->disconnectFromServer();
        else if (auto *tcp = qobject_cast<QAbstractSocket *>(socket_))
            tcp->disconnectFromHost();
        return;
    }
    if (socket_->bytesAvailable() > 0 && !readScheduled_) {
        readScheduled_ = true;
        QTimer::singleShot(0, this, &OtrspStreamClient::readChunk);
    }
}

void OtrspStreamClient::send(const QByteArray &bytes)
{
    if (closed_)
        return;
    if (socket_->bytesToWrite() + bytes.size() > kMaxUnsentBytes) {
        drop(QStringLiteral("dropped: it reads nothing of what it is sent (%1 bytes waiting)")
                 .arg(socket_->bytesToWrite()));
        return;
    }
    socket_->write(bytes);
}

void OtrspStreamClient::drop(const QString &reason)
{
    if (closed_)
        return;
    closed_ = true;
    handler_.closeClient(client_, reason);
    if (auto *tcp = qobject_cast<QAbstractSocket *>(socket_))
        tcp->abort();
    else if (auto *local = qobject_cast<QLocalSocket *>(socket_))
        local->abort();
    deleteLater();
}

void OtrspStreamClient::close()
{
    if (closed_)
        return;
    closed_ = true;
    handler_.closeClient(client_, {});
    deleteLater();
}
