#pragma once

#include "OtrspLineHandler.h"

#include <QLocalServer>
#include <QObject>

#include <filesystem>

// The local command socket that `kaldra --send` reaches: OTRSP lines plus
// KALDRA's own commands, a batch ended by an empty line, answered, then the
// connection closes.
class CommandServer : public QObject {
    Q_OBJECT
  public:
    static constexpr const char *kSource = "kaldra --send";

    CommandServer(OtrspLineHandler &handler, QObject *parent = nullptr);

    // Listens at `socketPath`, replacing a socket nobody answers on; empty when
    // it does, else why not (another KALDRA answers there, for one).
    QString listen(const std::filesystem::path &socketPath);

  private:
    void acceptClients();

    OtrspLineHandler &handler_;
    QLocalServer server_;
};
