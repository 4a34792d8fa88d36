#include "QuitSignals.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> earlierHandlerRuns{0};

extern "C" void earlierHandler(int)
{
    earlierHandlerRuns.fetch_add(1);
}

} // namespace

TEST(QuitSignals, TermAndIntFromAnotherThreadArriveOnTheEventLoop)
{
    QuitSignals quitSignals;
    QThread *arrivedOn = nullptr;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested,
                     [&arrivedOn] { arrivedOn = QThread::currentThread(); });
    QSignalSpy requested(&quitSignals, &QuitSignals::quitRequested);

    for (int signal : {SIGTERM, SIGINT}) {
        std::thread sender([signal] { ::kill(::getpid(), signal); });
        sender.join();
        ASSERT_TRUE(requested.wait(5000)) << signal;
        EXPECT_EQ(arrivedOn, QThread::currentThread());
        arrivedOn = nullptr;
    }
    EXPECT_EQ(requested.count(), 2);
}

TEST(QuitSignals, OneAtATimeAndTheEarlierHandlersComeBack)
{
    struct sigaction earlier {};
    earlier.sa_handler = earlierHandler;
    sigemptyset(&earlier.sa_mask);
    struct sigaction termBefore {};
    struct sigaction intBefore {};
    ::sigaction(SIGTERM, &earlier, &termBefore);
    ::sigaction(SIGINT, &earlier, &intBefore);
    {
        QuitSignals quitSignals;
        EXPECT_THROW(QuitSignals second, std::logic_error);
        ::raise(SIGTERM);
        EXPECT_EQ(earlierHandlerRuns.load(), 0);
    }
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(earlierHandlerRuns.load(), 2);
    ::sigaction(SIGTERM, &termBefore, nullptr);
    ::sigaction(SIGINT, &intBefore, nullptr);
}
