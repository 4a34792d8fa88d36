#include "RigPttMonitor.h"

#include "HamlibLibrary.h"

#include <memory>

namespace {

// Hamlib's table of rig models, its error text and the process's numeric
// locale, which rig_open switches and restores, are shared by every rig.
std::mutex hamlibShared;

struct RigCloser {
    const HamlibLibrary *hamlib = nullptr;
    bool opened = false;
    void operator()(RIG *rig) const
    {
        if (opened)
            hamlib->close(rig);
        const std::lock_guard lock(hamlibShared);
        hamlib->cleanup(rig);
    }
};
using Rig = std::unique_ptr<RIG, RigCloser>;

QString reason(const HamlibLibrary &hamlib, int error)
{
    const std::lock_guard lock(hamlibShared);
    return QString::fromLocal8Bit(hamlib.errorText(error)).trimmed();
}

void setConfiguration(const HamlibLibrary &hamlib, RIG *rig, const char *name,
                      const std::string &value)
{
    hamlib.setConf(rig, hamlib.tokenLookup(rig, name), value.c_str());
}

// The rig opened, or Hamlib's error code.
Rig open(const HamlibLibrary &hamlib, const RigAddress &address, int &error)
{
    Rig rig(nullptr, RigCloser{&hamlib});
    {
        const std::lock_guard lock(hamlibShared);
        static const bool quiet = (hamlib.setDebug(RIG_DEBUG_NONE), true);
        (void)quiet;
        rig.reset(hamlib.init(address.program == RigAddress::Program::Flrig ? RIG_MODEL_FLRIG
                                                                            : RIG_MODEL_NETRIGCTL));
    }
    if (!rig) {
        error = -RIG_EINTERNAL;
        return rig;
    }
    setConfiguration(hamlib, rig.get(), "rig_pathname", address.hostAndPort());
    setConfiguration(hamlib, rig.get(), "timeout",
                     std::to_string(RigPttMonitor::kTimeoutMilliseconds));
    setConfiguration(hamlib, rig.get(), "retry", "0");
    // Each read asks the rig, never a copy Hamlib kept.
    hamlib.setCacheTimeoutMs(rig.get(), HAMLIB_CACHE_ALL, 0);
    {
        const std::lock_guard lock(hamlibShared);
        error = hamlib.open(rig.get());
    }
    if (error != RIG_OK)
        return Rig(nullptr, RigCloser{&hamlib});
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

    std::string why;
    const HamlibLibrary *hamlib = HamlibLibrary::load(why);
    if (hamlib == nullptr) {
        tell(false, address_.text() + QStringLiteral(": not read: ") + QString::fromLocal8Bit(why));
        return;
    }
    do {
        int error = RIG_OK;
        if (const Rig rig = open(*hamlib, address_, error)) {
            ptt_t ptt = RIG_PTT_OFF;
            while ((error = hamlib->getPtt(rig.get(), RIG_VFO_CURR, &ptt)) == RIG_OK) {
                tell(ptt != RIG_PTT_OFF, answering);
                if (!pause(kPollMilliseconds))
                    return;
            }
        }
        tell(false, notAnswering + reason(*hamlib, error));
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
