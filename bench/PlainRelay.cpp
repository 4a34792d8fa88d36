#include "PlainRelay.h"

#include <pulse/stream.h>

#include <cmath>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::size_t kFrameBytes = 2 * sizeof(float);

std::uint32_t bytesFor(double ms, std::uint32_t rate)
{
    return static_cast<std::uint32_t>(std::lround(ms * rate / 1000.0)) * kFrameBytes;
}

} // namespace

PlainRelay::PlainRelay(const std::string &source, const std::string &sink, std::uint32_t rate,
                       double fragmentMs, double bufferMs)
    : connection_({{PA_PROP_APPLICATION_NAME, "KALDRA relay"}}, std::chrono::milliseconds(3000),
                  "kaldra-relay")
{
    std::lock_guard lock(connection_.loop());
    if (!connection_.connect())
        throw std::runtime_error("the relay cannot reach the sound server");
    playback_ = connection_.newStereoStream("relay out", rate);
    capture_ = connection_.newStereoStream("relay in", rate);
    if (!playback_ || !capture_)
        fail("the relay cannot make its streams");
    pa_stream_set_underflow_callback(
        playback_.get(),
        [](pa_stream *, void *userdata) {
            static_cast<PlainRelay *>(userdata)->underflows_.fetch_add(1,
                                                                       std::memory_order_relaxed);
        },
        this);
    pa_stream_set_read_callback(capture_.get(), onRead, this);
    constexpr auto kDefault = static_cast<std::uint32_t>(-1);
    pa_buffer_attr playbackAttr{kDefault, bytesFor(bufferMs, rate), kDefault, kDefault, kDefault};
    pa_buffer_attr captureAttr{kDefault, kDefault, kDefault, kDefault, bytesFor(fragmentMs, rate)};
    if (pa_stream_connect_playback(playback_.get(), sink.c_str(), &playbackAttr,
                                   PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
        !connection_.waitUntilReady(playback_.get()) ||
        pa_stream_connect_record(capture_.get(), source.c_str(), &captureAttr,
                                 PA_STREAM_ADJUST_LATENCY) < 0 ||
        !connection_.waitUntilReady(capture_.get()))
        fail("the relay cannot connect its streams");
}

void PlainRelay::fail(const char *why)
{
    // Released here, while the loop is locked, not by the unwinding after.
    capture_.reset();
    playback_.reset();
    throw std::runtime_error(why);
}

PlainRelay::~PlainRelay()
{
    std::lock_guard lock(connection_.loop());
    capture_.reset();
    playback_.reset();
}

void PlainRelay::onRead(pa_stream *stream, std::size_t, void *userdata)
{
    auto *relay = static_cast<PlainRelay *>(userdata);
    const void *data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        if (data != nullptr) {
            pa_stream_write(relay->playback_.get(), data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        } else {
            pa_stream_write(relay->playback_.get(), std::vector<char>(bytes).data(), bytes, nullptr,
                            0, PA_SEEK_RELATIVE);
        }
        pa_stream_drop(stream);
    }
}
