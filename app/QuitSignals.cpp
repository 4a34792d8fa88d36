#include "QuitSignals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace {

std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads it");

extern "C" void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a request that has not been read yet.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe.load(), &byte, 1);
    errno = savedErrno;
}

void installHandler(int signal, struct sigaction &previous)
{
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, &previous);
}

} // namespace

QuitSignals::QuitSignals()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    int expected = -1;
    if (!signalPipe.compare_exchange_strong(expected, ends[1])) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw std::logic_error("QuitSignals: another instance is alive");
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    installHandler(SIGTERM, previousTerm_);
    installHandler(SIGINT, previousInt_);
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::drainPipe);
}

QuitSignals::~QuitSignals()
{
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    signalPipe.store(-1);
    delete notifier_;
    ::close(readEnd_);
    ::close(writeEnd_);
}

void QuitSignals::drainPipe()
{
    char bytes[64];
    while (::read(readEnd_, bytes, sizeof bytes) > 0) {
    }
    emit quitRequested();
}
