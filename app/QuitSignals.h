#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <csignal>

// Turns SIGTERM and SIGINT, from the session or a terminal, into
// quitRequested() on the thread that created this object, so that the
// program ends the normal way instead of being killed mid-command. The
// handler only writes a byte to a pipe, which is async-signal-safe.
// One instance at a time; the previous handlers come back when it goes.
class QuitSignals : public QObject {
    Q_OBJECT

  public:
    // Throws std::system_error if the pipe cannot be made, std::logic_error
    // if another instance is alive.
    QuitSignals();
    ~QuitSignals() override;

    QuitSignals(const QuitSignals &) = delete;
    QuitSignals &operator=(const QuitSignals &) = delete;

  signals:
    void quitRequested();

  private:
    void drainPipe();

    int readEnd_ = -1;
    int writeEnd_ = -1;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
    QSocketNotifier *notifier_ = nullptr;
};
