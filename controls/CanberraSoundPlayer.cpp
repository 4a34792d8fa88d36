#include "CanberraSoundPlayer.h"

#include <QFile>

#include <canberra.h>

namespace {

// One id for files, so that the next file or a stop cancels the current one,
// and another for beeps, which nothing cancels.
constexpr std::uint32_t kFileSoundId = 1;
constexpr std::uint32_t kEventSoundId = 2;

const char *EventSoundId(SoundPlayer::Beep kind)
{
    switch (kind) {
    case SoundPlayer::Beep::Hand:
        return "dialog-error";
    case SoundPlayer::Beep::Question:
        return "dialog-question";
    case SoundPlayer::Beep::Exclamation:
        return "dialog-warning";
    case SoundPlayer::Beep::Ok:
        break;
    }
    return "bell";
}

} // namespace

CanberraSoundPlayer::~CanberraSoundPlayer()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

void CanberraSoundPlayer::PlayFile(const QString &path)
{
    Post({Request::Kind::File, QFile::encodeName(path).toStdString()});
}

void CanberraSoundPlayer::StopFile()
{
    Post({Request::Kind::Stop, {}});
}

void CanberraSoundPlayer::PlayBeep(Beep kind)
{
    Post({Request::Kind::Event, EventSoundId(kind)});
}

void CanberraSoundPlayer::Post(Request request)
{
    {
        std::lock_guard lock(mutex_);
        if (!worker_.joinable()) {
            // Nothing has played yet, so there is nothing to stop.
            if (request.kind == Request::Kind::Stop)
                return;
            worker_ = std::thread(&CanberraSoundPlayer::Run, this);
        }
        queue_.push_back(std::move(request));
    }
    wake_.notify_one();
}

void CanberraSoundPlayer::Run()
{
    // Created here at the first sound so that a program that never sounds
    // never touches the sound server; failures leave it null: silence.
    ca_context *context = nullptr;
    bool contextTried = false;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (quit_)
                break;
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        if (request.kind == Request::Kind::Stop) {
            if (context)
                ca_context_cancel(context, kFileSoundId);
            continue;
        }
        if (!contextTried) {
            contextTried = true;
            if (ca_context_create(&context) == CA_SUCCESS)
                ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "KALDRA",
                                        CA_PROP_APPLICATION_ID, "org.kaldra.Kaldra", nullptr);
            else
                context = nullptr;
        }
        if (!context)
            continue;
        if (request.kind == Request::Kind::File) {
            ca_context_cancel(context, kFileSoundId);
            ca_context_play(context, kFileSoundId, CA_PROP_MEDIA_FILENAME, request.name.c_str(),
                            CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
        } else {
            ca_context_play(context, kEventSoundId, CA_PROP_EVENT_ID, request.name.c_str(),
                            CA_PROP_CANBERRA_CACHE_CONTROL, "permanent", nullptr);
        }
    }
    if (context)
        ca_context_destroy(context);
}

SoundPlayer &SystemSoundPlayer()
{
    static CanberraSoundPlayer player;
    return player;
}
