#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <vector>

// Where the OTRSP adapters (pseudo-terminal, TCP, command socket) deliver what
// their clients send. Each client gets an id for its whole connection.
class OtrspLineHandler {
  public:
    using Send = std::function<void(const QByteArray &)>;

    // A client came; `send` writes to it for as long as it is there.
    virtual int openClient(const QString &source, Send send) = 0;
    // The client went; `reason` says why when it was not the client's own doing.
    virtual void closeClient(int client, const QString &reason) = 0;
    // A batch of complete lines from one client, without their ends.
    virtual void handleLines(int client, const std::vector<std::string> &lines) = 0;

  protected:
    ~OtrspLineHandler() = default;
};
