#include "OtrspPseudoTerminal.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kRestMilliseconds = 1000;

QString shown(const std::filesystem::path &path)
{
    return QString::fromStdString(path.string());
}

QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

} // namespace

OtrspPseudoTerminal::OtrspPseudoTerminal(OtrspLineHandler &handler, QObject *parent)
    : QObject(parent), handler_(handler)
{
}

OtrspPseudoTerminal::~OtrspPseudoTerminal()
{
    notifier_.reset();
    if (!link_.empty()) {
        std::error_code error;
        if (std::filesystem::read_symlink(link_, error).string() == terminalName_.toStdString())
            std::filesystem::remove(link_, error);
    }
    if (client_ != 0)
        handler_.closeClient(client_, {});
    for (const int fd : {master_, slave_, lock_})
        if (fd >= 0)
            ::close(fd);
}

QString OtrspPseudoTerminal::open(const std::filesystem::path &linkPath,
                                  const std::filesystem::path &lockFolder)
{
    if (QString problem = lock(linkPath, lockFolder); !problem.isEmpty())
        return problem;

    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0)
        return QStringLiteral("cannot open a pseudo-terminal: %1").arg(systemError());
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    terminalName_ = QString::fromLocal8Bit(ptsname(master_));

    if (QString problem = makeLink(linkPath); !problem.isEmpty())
        return problem;

    const QPointer<OtrspPseudoTerminal> self(this);
    client_ = handler_.openClient(QString::fromLatin1(kSource), [self](const QByteArray &bytes) {
        if (self)
            self->send(bytes);
    });
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &OtrspPseudoTerminal::readChunk);
    return {};
}

QString OtrspPseudoTerminal::lock(const std::filesystem::path &linkPath,
                                  const std::filesystem::path &lockFolder)
{
    const QByteArray key =
        QCryptographicHash::hash(QByteArray::fromStdString(std::filesystem::absolute(linkPath)),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    const std::filesystem::path lockPath = lockFolder / ("otrsp-" + key.toStdString() + ".lock");
    lock_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0)
        return QStringLiteral("cannot open the lock %1: %2").arg(shown(lockPath), systemError());
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_);
        lock_ = -1;
        return QStringLiteral("another running KALDRA serves %1; no pseudo-terminal here")
            .arg(shown(linkPath));
    }
    return {};
}

QString OtrspPseudoTerminal::makeLink(const std::filesystem::path &linkPath)
{
    struct stat status {};
    if (lstat(linkPath.c_str(), &status) == 0 && !S_ISLNK(status.st_mode))
        return QStringLiteral("%1 exists and is not a link; it is left alone").arg(shown(linkPath));
    // A link made beside it, then renamed over it: the path always names a port.
    std::filesystem::path fresh = linkPath;
    fresh += ".new-" + std::to_string(getpid());
    ::unlink(fresh.c_str());
    if (symlink(terminalName_.toLocal8Bit().constData(), fresh.c_str()) != 0)
        return QStringLiteral("cannot make the link %1: %2").arg(shown(linkPath), systemError());
    if (rename(fresh.c_str(), linkPath.c_str()) != 0) {
        const QString problem =
            QStringLiteral("cannot make the link %1: %2").arg(shown(linkPath), systemError());
        ::unlink(fresh.c_str());
        return problem;
    }
    link_ = linkPath;
    return {};
}

void OtrspPseudoTerminal::readChunk()
{
    char bytes[kChunkBytes];
    const ssize_t count = ::read(master_, bytes, sizeof bytes);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        // The far side stays open here, so this should not come; should it, the
        // notifier rests a while rather than spin.
        notifier_->setEnabled(false);
        QTimer::singleShot(kRestMilliseconds, notifier_.get(),
                           [notifier = notifier_.get()] { notifier->setEnabled(true); });
        return;
    }
    const auto lines = reader_.feed(std::string_view(bytes, static_cast<std::size_t>(count)));
    if (!lines.empty())
        handler_.handleLines(client_, lines);
}

void OtrspPseudoTerminal::send(const QByteArray &bytes)
{
    // A logger that does not read fills the terminal's buffer; what does not fit is dropped.
    const ssize_t written =
        ::write(master_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    (void)written;
}
