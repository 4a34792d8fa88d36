#pragma once

#include "SoundPlayer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Sounds through libcanberra: files by name, beeps as the freedesktop event
// sounds "bell", "dialog-error", "dialog-question" and "dialog-warning".
//
// libcanberra connects to the sound server and reads files on the calling
// thread, which may take a while or fail when no server runs; so every request
// goes to a worker thread of its own, started by the first request, and the
// user-interface thread never waits for it. Requests are carried out in order.
class CanberraSoundPlayer final : public SoundPlayer {
  public:
    CanberraSoundPlayer() = default;
    // Drops the requests not yet carried out and waits for the worker to end.
    ~CanberraSoundPlayer() override;

    void PlayFile(const QString &path) override;
    void StopFile() override;
    void PlayBeep(Beep kind) override;

  private:
    struct Request {
        enum class Kind { File, Stop, Event } kind;
        std::string name; // file path (file-system encoding) or event sound id
    };

    void Post(Request request);
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_; // guarded by mutex_
    bool quit_ = false;         // guarded by mutex_
    std::thread worker_;        // started by the first request
};
