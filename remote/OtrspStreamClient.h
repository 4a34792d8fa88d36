#pragma once

#include "OtrspLineHandler.h"
#include "OtrspLineReader.h"

#include <QIODevice>
#include <QObject>

// One OTRSP client on a stream socket (TCP or the local command socket). Reads
// in bounded chunks, so a flood never holds the event loop for long, and drops
// a client that stops reading once kMaxUnsentBytes wait for it. Deletes itself
// when the connection ends.
class OtrspStreamClient : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kChunkBytes = 1024;
    static constexpr qint64 kMaxUnsentBytes = 64 * 1024;

    // The batch mode of the command socket: an empty line ends the batch, and
    // the connection closes once its answers are written.
    enum class Batch { None, EndsWithEmptyLine };

    // Takes `socket` (a connected QTcpSocket or QLocalSocket) as its child.
    OtrspStreamClient(QIODevice *socket, const QString &source, OtrspLineHandler &handler,
                      Batch batch, QObject *parent = nullptr);
    ~OtrspStreamClient() override;

  private:
    void readChunk();
    void send(const QByteArray &bytes);
    void drop(const QString &reason);
    void close();

    QIODevice *socket_;
    OtrspLineHandler &handler_;
    Batch batch_;
    OtrspLineReader reader_;
    int client_ = 0;
    bool closed_ = false;
    bool readScheduled_ = false;
};
