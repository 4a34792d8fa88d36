#pragma once

#include "OtrspLineHandler.h"

#include <QObject>
#include <QTcpServer>

// OTRSP over TCP on 127.0.0.1 only: several clients at once, each its own
// session.
class OtrspTcpServer : public QObject {
    Q_OBJECT
  public:
    static constexpr const char *kSourcePrefix = "OTRSP TCP"; // then the client's address

    OtrspTcpServer(OtrspLineHandler &handler, QObject *parent = nullptr);

    // Listens on `port`; empty when it does, else why not.
    QString listen(quint16 port);

  private:
    void acceptClients();

    OtrspLineHandler &handler_;
    QTcpServer server_;
};
