#pragma once

#include <QByteArray>
#include <QObject>
#include <QUdpSocket>

// Receives N1MM Logger+'s datagrams on a UDP port that other programs may
// listen on too. Takes at most kBatchDatagrams per turn of the event loop, so
// a flood never holds the window.
class RadioInfoListener : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBatchDatagrams = 64;

    explicit RadioInfoListener(QObject *parent = nullptr);

    // Listens on `port` of every IPv4 address; empty when it does, else why not.
    QString listen(quint16 port);

  signals:
    void datagramReceived(const QByteArray &datagram);

  private:
    void readBatch();

    QUdpSocket socket_;
    bool readScheduled_ = false;
};
