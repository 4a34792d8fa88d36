#include "RigPttMonitor.h"

#include <hamlib/rig.h>

#include <memory>

namespace {

// Hamlib's table of rig models, its error text and the process's numeric
// locale, which rig_open switches and restores, are shared by every rig.
std::mutex hamlibShared;

struct RigCloser {
    bool opened = false;
    void operator()(RIG *rig) const
    {
        if (opened)
            rig_close(rig);
        const std::lock_guard lock(hamlibShared);
        rig_cleanup(rig);
    }
};
using Rig = std::unique_ptr<RIG, RigCloser>;

QString reason(int error)
{
    const std::lock_guard lock(hamlibShared);
    return QString::fromLocal8Bit(rigerror2(error)).trimmed();
}

void setConfiguration(RIG *rig, const char *name, const std::string &value)
{
    rig_set_conf(rig, rig_token_lookup(rig, name), value.c_str());
}

// The rig opened, or Hamlib's error code.
Rig open(const RigAddress &address, int &error)
{
    Rig rig;
    {
        const std::lock_guard lock(hamlibShared);
        static const bool quiet = (rig_set_debug(RIG_DEBUG_NONE), true);
        (void)quiet;
        rig.reset(rig_init(address.program == RigAddress::Program::Flrig ? RIG_MODEL_FLRIG
                                                                         : RIG_MODEL_NETRIGCTL));
    }
    if (!rig) {
        error = -RIG_EINTERNAL;
        return nullptr;
    }
    setConfiguration(rig.get(), "rig_pathname", address.hostAndPort());
    setConfiguration(rig.get(), "timeout", std::to_string(RigPttMonitor::kTimeoutMilliseconds));
    setConfiguration(rig.get(), "retry", "0");
    // Each read asks the rig, never a copy Hamlib kept.
    rig_set_cache_timeout_ms(rig.get(), HAMLIB_CACHE_ALL, 0);
    {
        const std::lock_guard lock(hamlibShared);
        error = rig_open(rig.get());
    }
    if (error != RIG_OK)
        return nullptr;
    rig.get_deleter().opened = true;
    return rig;
}

} // namespace

RigPttMonitor::RigPttMonitor(const RigAddress &address, QObject *parent)
    : QObject(parent), address_(address), status_(address.text() + QStringLiteral(": connecting")),
      thread_([this, status = status_] { read(status); })
{
}

RigPttMonitor::~RigPttMonitor()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool RigPttMonitor::ptt() const
{
    return ptt_;
}

QString RigPttMonitor::status() const
{
    return status_;
}

void RigPttMonitor::read(QString lastStatus)
{
    const QString answering = address_.text() + QStringLiteral(": answering");
    const QString notAnswering = address_.text() + QStringLiteral(": not answering (retrying): ");
    bool lastPtt = false;
    const auto tell = [&](bool ptt, const QString &status) {
        if (ptt == lastPtt && status == lastStatus)
            return;
        lastPtt = ptt;
        lastStatus = status;
        publish(ptt, status);
    };

    do {
        int error = RIG_OK;
        if (const Rig rig = open(address_, error)) {
            ptt_t ptt = RIG_PTT_OFF;
            while ((error = rig_get_ptt(rig.get(), RIG_VFO_CURR, &ptt)) == RIG_OK) {
                tell(ptt != RIG_PTT_OFF, answering);
                if (!pause(kPollMilliseconds))
                    return;
            }
        }
        tell(false, notAnswering + reason(error));
    } while (pause(kRetryMilliseconds));
}

void RigPttMonitor::publish(bool ptt, const QString &status)
{
    // Queued to this object: dropped with it if it goes first.
    QMetaObject::invokeMethod(
        this,
        [this, ptt, status] {
            if (status != status_) {
                status_ = status;
                emit statusChanged(status_);
            }
            if (ptt != ptt_) {
                ptt_ = ptt;
                emit pttChanged(ptt_);
            }
        },
        Qt::QueuedConnection);
}

bool RigPttMonitor::pause(int milliseconds)
{
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopping_; });
}
