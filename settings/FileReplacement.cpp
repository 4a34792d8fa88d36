#include "FileReplacement.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void throwErrno(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

std::filesystem::path folderOf(const std::filesystem::path &file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Opens a temporary file that did not exist before.
int createTemporary(const std::filesystem::path &target, std::filesystem::path &temporary)
{
    static std::atomic<unsigned> counter{0};
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // a string literal followed by operator+.
    std::string prefix = ".";
    prefix += target.filename().string();
    prefix += '.';
    prefix += std::to_string(getpid());
    prefix += '-';
    while (true) {
        temporary = folderOf(target) / (prefix + std::to_string(counter++) + ".tmp");
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
}

void flushFolder(const std::filesystem::path &folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The rename has happened; some file systems cannot flush a folder, and the
    // new contents are in place either way.
    (void)fsync(fd);
    close(fd);
}

} // namespace

FileReplacement::FileReplacement(std::filesystem::path target) : target_(std::move(target))
{
    fd_ = createTemporary(target_, temporary_);
    if (fd_ < 0)
        throwErrno("cannot create a temporary file beside " + target_.string());
    struct stat old {};
    if (stat(target_.c_str(), &old) == 0) {
        // Only a privileged process may give a file away; otherwise the new
        // file stays ours, as after any editor's save. Changing the owner can
        // clear the set-id bits, so the mode comes after it.
        [[maybe_unused]] const int owned = fchown(fd_, old.st_uid, old.st_gid);
        if (fchmod(fd_, old.st_mode & 07777) != 0) {
            const int error = errno;
            close(fd_);
            unlink(temporary_.c_str());
            throw std::system_error(error, std::generic_category(), "cannot keep permissions");
        }
    }
}

FileReplacement::~FileReplacement()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_)
        unlink(temporary_.c_str());
}

void FileReplacement::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("cannot write " + temporary_.string());
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void FileReplacement::commit()
{
    if (fsync(fd_) != 0)
        throwErrno("cannot flush " + temporary_.string());
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
        throwErrno("cannot close " + temporary_.string());
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        throwErrno("cannot replace " + target_.string());
    committed_ = true;
    flushFolder(folderOf(target_));
}
