#include "RuntimeFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Creates `folder` (mode 0700) when missing; an error text when it is not a
// folder of this user's alone.
QString makePrivate(const std::filesystem::path &folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot make %1: %2")
            .arg(QString::fromStdString(folder.string()), QString::fromLocal8Bit(strerror(errno)));
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return QStringLiteral("%1 is not a folder").arg(QString::fromStdString(folder.string()));
    if (status.st_uid != getuid())
        return QStringLiteral("%1 belongs to another user")
            .arg(QString::fromStdString(folder.string()));
    if ((status.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0)
        return QStringLiteral("cannot make %1 private")
            .arg(QString::fromStdString(folder.string()));
    return {};
}

} // namespace

RuntimeFolder kaldraRuntimeFolder()
{
    RuntimeFolder folder;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        folder.path = std::filesystem::path(runtime) / "kaldra";
    } else {
        folder.path = "/tmp/kaldra-" + std::to_string(getuid());
        folder.note = QStringLiteral("XDG_RUNTIME_DIR is not set: using %1")
                          .arg(QString::fromStdString(folder.path.string()));
    }
    if (const QString problem = makePrivate(folder.path); !problem.isEmpty()) {
        folder.path.clear();
        folder.note = problem;
    }
    return folder;
}
