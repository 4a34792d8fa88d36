#pragma once

#include "RigAddress.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// Reads one rig's transmit switch (PTT) through Hamlib's network rig models,
// from a rigctld or an flrig, kPollMilliseconds apart, on a thread of its own:
// Hamlib's calls block. A rig that does not answer within kTimeoutMilliseconds
// is reported and opened again kRetryMilliseconds later. What is read reaches
// the object's own thread (the user-interface thread) by queued calls, as the
// signals below; its getters and signals belong to that thread alone.
class RigPttMonitor : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPollMilliseconds = 20;
    static constexpr int kTimeoutMilliseconds = 200;
    static constexpr int kRetryMilliseconds = 1000;

    // Starts reading at once.
    explicit RigPttMonitor(const RigAddress &address, QObject *parent = nullptr);
    // Stops reading; returns within about two timeouts, however the rig behaves.
    ~RigPttMonitor() override;
    RigPttMonitor(const RigPttMonitor &) = delete;
    RigPttMonitor &operator=(const RigPttMonitor &) = delete;

    // Whether the rig transmits; false while it does not answer.
    bool ptt() const;
    // "rigctld HOST:PORT: connecting", "…: answering",
    // "…: not answering (retrying): <Hamlib's reason>", or "…: not read: <why>"
    // for good when Hamlib cannot be loaded.
    QString status() const;

  signals:
    void pttChanged(bool on);
    void statusChanged(const QString &status);

  private:
    void read(QString lastStatus); // the reading thread; starts from the status published
    void publish(bool ptt, const QString &status); // from the reading thread
    bool pause(int milliseconds);                  // false: stop now

    const RigAddress address_;
    bool ptt_ = false;
    QString status_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false; // under mutex_
    std::thread thread_;
};
