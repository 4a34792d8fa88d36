#pragma once

#include "OtrspLineHandler.h"
#include "OtrspLineReader.h"

#include <QObject>
#include <QSocketNotifier>

#include <filesystem>
#include <memory>

// The OTRSP device as a serial port: a pseudo-terminal in raw mode and a
// symbolic link to it at a path the logger is given. The terminal's far side
// stays open here too, so a logger that exits and the next that opens the
// link find the same working port. A lock file in the runtime folder tells
// whether another running KALDRA serves the same link; a link that no running
// KALDRA holds is replaced. The link goes when this object does.
class OtrspPseudoTerminal : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kChunkBytes = 1024;
    static constexpr const char *kSource = "OTRSP pty";

    OtrspPseudoTerminal(OtrspLineHandler &handler, QObject *parent = nullptr);
    ~OtrspPseudoTerminal() override;

    // Opens the terminal and makes the link at `linkPath`, with its lock in
    // `lockFolder`. Empty when ready, else why not.
    QString open(const std::filesystem::path &linkPath, const std::filesystem::path &lockFolder);

    QString terminalName() const { return terminalName_; } // "/dev/pts/4"

  private:
    QString lock(const std::filesystem::path &linkPath, const std::filesystem::path &lockFolder);
    QString makeLink(const std::filesystem::path &linkPath);
    void readChunk();
    void send(const QByteArray &bytes);

    OtrspLineHandler &handler_;
    OtrspLineReader reader_;
    int client_ = 0;
    int master_ = -1;
    int slave_ = -1;
    int lock_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::filesystem::path link_;
    QString terminalName_;
};
