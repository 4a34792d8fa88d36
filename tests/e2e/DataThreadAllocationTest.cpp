// The PipeWire back-end's real-time thread is real-time where the process may
// have one, and allocates nothing while audio plays: every allocation of the
// process goes through a counting hook, and those made on that thread while
// the program's graph runs are counted. The hook replaces malloc itself,
// which the sanitizers also replace: their builds skip the check.
#include "PipeWireAudioLibrary.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

// GCC says so with __SANITIZE_*__, clang through __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KALDRA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(KALDRA_SANITIZED)
#define KALDRA_ALLOCATION_HOOK 0
#else
#define KALDRA_ALLOCATION_HOOK 1
#endif

namespace {

std::atomic<bool> watching{false};
std::atomic<int> dataThreadAllocations{0};

[[maybe_unused]] void count()
{
    if (!watching.load(std::memory_order_relaxed))
        return;
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    if (std::strcmp(name, PipeWireAudioLibrary::kDataThreadName) == 0)
        dataThreadAllocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#if KALDRA_ALLOCATION_HOOK
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);

void *malloc(std::size_t size)
{
    count();
    return __libc_malloc(size);
}

void *calloc(std::size_t number, std::size_t size)
{
    count();
    return __libc_calloc(number, size);
}

void *realloc(void *pointer, std::size_t size)
{
    count();
    return __libc_realloc(pointer, size);
}

int posix_memalign(void **pointer, std::size_t alignment, std::size_t size)
{
    count();
    *pointer = __libc_memalign(alignment, size);
    return *pointer == nullptr ? ENOMEM : 0;
}
}
#endif

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 7000;

// Whether a thread of this process may make itself real-time (root, or
// CAP_SYS_NICE, or an RTPRIO limit): PipeWire's module-rt does so then.
bool realTimeAllowed()
{
    bool allowed = false;
    std::thread([&allowed] {
        const sched_param priority{1};
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
    }).join();
    return allowed;
}

// The scheduling policy of this process's thread named `name`; -1 when none is.
int policyOf(const char *name)
{
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm == name)
            return sched_getscheduler(std::stoi(task.path().filename())) & ~SCHED_RESET_ON_FORK;
    }
    return -1;
}

TEST(DataThread, RunsRealTimeAndAllocatesNothingWhileTheRadiosPlay)
{
    if (!KALDRA_ALLOCATION_HOOK)
        GTEST_SKIP() << "the sanitizers own malloc in this build";
    if (std::getenv("PIPEWIRE_RUNTIME_DIR") == nullptr)
        GTEST_SKIP()
            << "no PipeWire server: run under SOUND_SERVER=pipewire scripts/sound-server.sh";
    PipeWireAudioLibrary audio;
    ASSERT_TRUE(audio.Init(-1, kRate, 0));
    const AudioHandle mixer = audio.MixerStreamCreate(kRate, 2, 0);
    AudioHandle radios[2] = {};
    for (int device : {1, 2}) {
        ASSERT_TRUE(audio.RecordInit(device));
        radios[device - 1] = audio.RecordStart(kRate, 2, 0);
        ASSERT_TRUE(
            audio.MixerStreamAddChannel(mixer, radios[device - 1], AudioLibrary::kMatrixMixing));
    }
    ASSERT_TRUE(audio.ChannelPlay(mixer, false));
    // Past the streams' start, whose buffers PipeWire sets up on that thread.
    std::this_thread::sleep_for(300ms);
    const bool realTime = policyOf(PipeWireAudioLibrary::kDataThreadName) == SCHED_FIFO;
    EXPECT_TRUE(realTime || !realTimeAllowed()) << "the mixing thread is not real-time";

    watching = true;
    // What an operator does while listening: routes, mutes, unmutes.
    for (const RoutingMatrix &matrix :
         {RoutingMatrix{1, 1, 0, 0}, RoutingMatrix{0, 0, 1, 1}, RoutingMatrix{1, 1, 1, 1}}) {
        EXPECT_TRUE(audio.MixerChannelSetMatrix(radios[0], matrix));
        EXPECT_TRUE(audio.ChannelPause(radios[1]));
        std::this_thread::sleep_for(150ms);
        EXPECT_TRUE(audio.ChannelPlay(radios[1], false));
        std::this_thread::sleep_for(150ms);
    }
    watching = false;
    EXPECT_GT(audio.grantedQuantum(), 0u) << "the graph never ran";
    EXPECT_EQ(dataThreadAllocations.load(), 0);
}

} // namespace
